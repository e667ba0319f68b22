// The page of the updater: draws the window that the program's window system (web_window_system.cpp)
// drives from its worker threads, shows its boxes and the file chooser as page modals, asks before
// the tab closes during an update, and offers the browser's chooser for the controller. The
// controllers it offers and the language of its own words come from the program's core once it is
// loaded (tarvix_page_*), before the program's main() runs.
'use strict';

const IDOK = 1, IDCANCEL = 2;
// The most controller identities the page takes from the core.
const MAX_CONTROLLERS = 16;
// The largest file the page hands to the program (its memory is fixed at 64 MB and the file is
// copied twice); a controller's firmware file is far smaller. A larger one is treated as a file
// that cannot be opened: the choice ends without a message.
const MAX_FILE_BYTES = 16 * 1024 * 1024;
const CONTROL = { 1003: 'progress', 1007: 'update', [-1]: 'done', 1008: 'hint' };

// The page's own words, beside the program's texts, by language identifier as the program's texts
// are; the core's rule picks the identifier (tarvix_page_language), English when it has no words.
const ENGLISH = 0x409;
const PAGE_TEXTS = {
  [ENGLISH]: { connect: 'Connect controller\u2026', choose: 'Choose file\u2026', ok: 'OK',
        cancel: 'Cancel', firstStep: 'Plug the controller in (steps 1 and 2), then connect it here:',
        noHid: 'This browser cannot reach USB controllers (no WebHID). Open this page in a ' +
          'Chromium-based desktop browser, or use the desktop programs (tarvix-update, tarvix-flash).',
        noIsolation: 'The page needs cross-origin isolation; serve it with make serve-web.' },
  0x804: { connect: '\u8fde\u63a5\u624b\u67c4\u2026', choose: '\u9009\u62e9\u6587\u4ef6\u2026',
        ok: '\u786e\u5b9a', cancel: '\u53d6\u6d88',
        firstStep: '按第 1、2 步插上手柄后，先在这里连接：',
        noHid: '此浏览器无法访问 USB 手柄（不支持 WebHID）。请用基于 Chromium 的桌面浏览器' +
          '打开本页，或使用桌面程序（tarvix-update、tarvix-flash）。',
        noIsolation: '页面需要跨源隔离；请用 make serve-web 提供本页。' },
};
const LANGUAGE_TAG = (navigator.languages && navigator.languages[0]) || navigator.language || '';

const $ = (id) => document.getElementById(id);

class PageWindow {
  constructor() {
    this.window = 0;        // the program's window system, while it lives (0: none)
    this.controllers = [];  // the identities the core offers: {vendorId, productId}
    this.busy = false;
    this.boxes = [];      // boxes waiting to show, the first one showing: {answer, text, ...}
    this.file = null;     // the file choice under way: {answer, fromWorker}
    this.readyAt = null;  // performance.now() when the window became usable
  }

  module() { return window.Module; }
  take(ptr) {
    const text = this.module().UTF8ToString(ptr);
    this.module()._free(ptr);
    return text;
  }
  answer(answer, status, bytes) { this.module().webhid.answer(answer, status, bytes); }

  // The core is loaded and its main() not yet run: the page's words in the core's language for
  // the browser's, and the controllers it offers.
  coreLoaded() {
    const m = this.module();
    let language = 0;
    m.webhid.withBytes(new TextEncoder().encode(LANGUAGE_TAG + '\0'), (ptr) => {
      language = m._tarvix_page_language(ptr);
    });
    showWords(PAGE_TEXTS[language] || PAGE_TEXTS[ENGLISH]);
    const count = Math.min(Math.max(m._tarvix_page_controller_count(), 0), MAX_CONTROLLERS);
    this.controllers = [];
    for (let i = 0; i < count; ++i) {
      const identity = m._tarvix_page_controller(i) >>> 0;
      this.controllers.push({ vendorId: identity >>> 16, productId: identity & 0xffff });
    }
    if (navigator.hid) {
      $('connect').disabled = false;
      navigator.hid.addEventListener('connect', () => this.refreshConnect());
      navigator.hid.addEventListener('disconnect', () => this.refreshConnect());
      this.refreshConnect();
    }
  }
  isController(device) {
    return this.controllers.some((c) => c.vendorId === device.vendorId && c.productId === device.productId);
  }

  // The program's window system, from its making to its end: the page's events go to it.
  attach(window) { this.window = window; }
  detach(window) { if (this.window === window) this.window = 0; }
  click() { if (this.window) this.module()._tarvix_click(this.window); }

  ready() {
    $('window').classList.remove('loading');
    $('window').removeAttribute('aria-busy');
    this.readyAt = performance.now();
    window.dispatchEvent(new Event('tarvix-ready'));
  }
  setBusy(busy) { this.busy = !!busy; }
  ended() {
    for (const b of document.querySelectorAll('button')) b.disabled = true;
  }
  setTitle(text) {
    $('title').textContent = text;
    document.title = text;
  }
  setText(id, text) {
    const control = $(CONTROL[id]);
    if (control) control.textContent = text.replace(/\r\n/g, '\n');
  }
  show(id, show) { if ($(CONTROL[id])) $(CONTROL[id]).hidden = !show; }
  enable(id, enable) { if ($(CONTROL[id])) $(CONTROL[id]).disabled = !enable; }
  setRange(min, max) { $('progress').max = max - min; this.min = min; }
  setPos(pos) {
    const bar = $('progress');
    bar.value = Math.min(Math.max(pos - (this.min || 0), 0), bar.max);
  }

  // ---- Boxes: one shows at a time, the others wait their turn ----
  showBox(answer, text, caption, okCancel, fromWorker) {
    this.boxes.push({ answer, text, caption, okCancel, fromWorker });
    if (this.boxes.length === 1) this.openBox();
  }
  openBox() {
    const box = this.boxes[0];
    if (!box) return;
    $('box-caption').textContent = box.caption;
    $('box-text').textContent = box.text.replace(/\r\n/g, '\n');
    $('box-cancel').hidden = !box.okCancel;
    $('box').returnValue = '';
    $('box').showModal();
    $('box-ok').focus();
  }
  // The box closed: OK answers IDOK; Cancel, Escape or a close answer what Escape answers.
  boxClosed() {
    const box = this.boxes.shift();
    if (!box) return;
    const ok = $('box').returnValue === 'ok';
    this.answer(box.answer, ok ? IDOK : box.okCancel ? IDCANCEL : IDOK);
    this.openBox();
  }

  // ---- The file chooser: at once while the click's activation lasts, else from a modal ----
  // name: the filter's first name; accept: its patterns as the chooser's list (".dat").
  openFile(answer, name, accept, fromWorker) {
    this.file = { answer, fromWorker };
    const input = $('file');
    input.accept = accept;
    input.value = '';
    if (navigator.userActivation && navigator.userActivation.isActive) {
      input.click();
      return;
    }
    $('chooser-filter').textContent = name;
    $('chooser').showModal();
  }
  async fileChosen(file) {
    const choice = this.file;
    this.file = null;
    if ($('chooser').open) $('chooser').close();
    if (!choice) return;
    let bytes = null;
    try {
      if (file && file.size > MAX_FILE_BYTES) console.warn(`${file.name}: over ${MAX_FILE_BYTES} bytes`);
      bytes = file && file.size <= MAX_FILE_BYTES ? new Uint8Array(await file.arrayBuffer()) : null;
    } catch (e) {
      bytes = null;  // unreadable: chooses nothing, as a file that cannot be opened
    }
    if (!bytes) return this.answer(choice.answer, 0);
    const name = new TextEncoder().encode(file.name + '\0');
    this.module().webhid.withBytes(name, (ptr) => this.module()._tarvix_answer_text(choice.answer, ptr));
    this.answer(choice.answer, 1, bytes);
  }

  // A worker told to stop: its boxes and its file choice answer as Escape would.
  closeWorkerDialogs() {
    if (this.file && this.file.fromWorker) this.fileChosen(null);
    const [showing, ...waiting] = this.boxes;
    const kept = [];
    for (const box of waiting) {
      if (box.fromWorker) this.answer(box.answer, box.okCancel ? IDCANCEL : IDOK);
      else kept.push(box);
    }
    this.boxes = showing ? [showing, ...kept] : kept;
    if (showing && showing.fromWorker) $('box').close('cancel');
  }

  async refreshConnect() {
    let present = false;
    try {
      present = (await navigator.hid.getDevices()).some((d) => this.isController(d));
    } catch (e) {
      present = false;
    }
    // No granted controller present (a controller that came back as its boot loader is a new
    // device to the browser): the chooser is what the user needs next, first in the window.
    $('connect').classList.toggle('attention', !present);
    $('window').classList.toggle('needs-controller', !present);
  }

  async connect() {
    let devices = [];
    try {
      devices = await navigator.hid.requestDevice({ filters: this.controllers });
    } catch (e) {
      devices = [];
    }
    for (const d of devices) this.module().webhid.connection(d, 1);
    this.refreshConnect();
  }
}

// Without cross-origin isolation there are no threads: a host that cannot send the headers gets
// them from the service worker, after one reload.
async function isolate() {
  if (window.crossOriginIsolated) return true;
  if (!('serviceWorker' in navigator) || sessionStorage.getItem('tarvix-isolating')) return false;
  sessionStorage.setItem('tarvix-isolating', '1');
  await navigator.serviceWorker.register('sw.js');
  await navigator.serviceWorker.ready;
  location.reload();
  return false;
}

// The page's own words; the notice of a browser without WebHID with them.
function showWords(words) {
  $('connect').textContent = words.connect;
  $('first-step').textContent = words.firstStep;
  $('box-ok').textContent = words.ok;
  $('box-cancel').textContent = words.cancel;
  $('chooser-pick').textContent = words.choose;
  $('chooser-cancel').textContent = words.cancel;
  if (!navigator.hid) $('notice').textContent = words.noHid;
}

async function start() {
  const page = new PageWindow();
  $('box').addEventListener('close', () => page.boxClosed());
  $('chooser').addEventListener('close', () => { if (page.file) page.fileChosen(null); });
  $('chooser-pick').addEventListener('click', () => $('file').click());
  $('file').addEventListener('change', () => page.fileChosen($('file').files[0] || null));
  $('file').addEventListener('cancel', () => { if (!$('chooser').open) page.fileChosen(null); });
  window.addEventListener('beforeunload', (e) => {
    if (!page.busy) return;
    e.preventDefault();
    e.returnValue = '';
  });
  // Connecting waits for the controllers the core offers.
  $('connect').disabled = true;
  if (!navigator.hid) $('first-step').hidden = true;
  if (!(await isolate())) {
    // Without threads the core does not load, and its language rule with it: both languages.
    $('window').classList.remove('loading');
    $('notice').textContent = Object.values(PAGE_TEXTS).map((w) => w.noIsolation).join(' ');
    return;
  }
  sessionStorage.removeItem('tarvix-isolating');
  const trace = new URLSearchParams(location.search).has('trace');
  window.Module = {
    arguments: [LANGUAGE_TAG, trace ? 'trace' : ''],
    onRuntimeInitialized: () => page.coreLoaded(),
    page,
    print: (line) => console.log(line),
    printErr: (line) => console.warn(line),
  };
  window.Module.webhid = new WebHidBridge(window.Module, navigator.hid);
  $('update').addEventListener('click', () => page.click());
  $('connect').addEventListener('click', () => page.connect());
  const script = document.createElement('script');
  script.src = 'tarvix-update.js';
  document.body.appendChild(script);
}

start();
