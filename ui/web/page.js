// The page of the updater: draws the window that the program's window system (web_window_system.cpp)
// drives from its worker threads, shows its boxes and the file chooser as page modals, asks before
// the tab closes during an update, and offers the browser's chooser for the controller.
'use strict';

// The controller's three USB identities: running firmware (two) and boot loader.
const CONTROLLERS = [
  { vendorId: 0x0483, productId: 0x5750 },
  { vendorId: 0x7a3d, productId: 0x5750 },
  { vendorId: 0x7a3d, productId: 0x3208 },
];
const IDOK = 1, IDCANCEL = 2;
// The largest file the page hands to the program (its memory is fixed at 64 MB and the file is
// copied twice); a controller's firmware file is far smaller. A larger one is treated as a file
// that cannot be opened: the choice ends without a message.
const MAX_FILE_BYTES = 16 * 1024 * 1024;
const CONTROL = { 1003: 'progress', 1007: 'update', [-1]: 'done', 1008: 'hint' };

// The page's own words, beside the program's texts; Chinese by the program's rule (zh-CN only).
const PAGE_TEXTS = {
  en: { connect: 'Connect controller\u2026', choose: 'Choose file\u2026', ok: 'OK',
        cancel: 'Cancel', firstStep: 'Plug the controller in (steps 1 and 2), then connect it here:',
        noHid: 'This browser cannot reach USB controllers (no WebHID). Open this page in a ' +
          'Chromium-based desktop browser, or use the desktop programs (tarvix-update, tarvix-flash).',
        noIsolation: 'The page needs cross-origin isolation; serve it with make serve-web.' },
  zh: { connect: '\u8fde\u63a5\u624b\u67c4\u2026', choose: '\u9009\u62e9\u6587\u4ef6\u2026',
        ok: '\u786e\u5b9a', cancel: '\u53d6\u6d88',
        firstStep: '按第 1、2 步插上手柄后，先在这里连接：',
        noHid: '此浏览器无法访问 USB 手柄（不支持 WebHID）。请用基于 Chromium 的桌面浏览器' +
          '打开本页，或使用桌面程序（tarvix-update、tarvix-flash）。',
        noIsolation: '页面需要跨源隔离；请用 make serve-web 提供本页。' },
};
const LANGUAGE_TAG = (navigator.languages && navigator.languages[0]) || navigator.language || '';
const WORDS = /^zh[-_]cn$/i.test(LANGUAGE_TAG) ? PAGE_TEXTS.zh : PAGE_TEXTS.en;

const $ = (id) => document.getElementById(id);

function isController(device) {
  return CONTROLLERS.some((c) => c.vendorId === device.vendorId && c.productId === device.productId);
}

// "name|pattern;pattern|...||" as the file chooser's accept list (".dat") and the first name.
function parseFilter(filter) {
  const fields = filter.split('|');
  const accept = [];
  for (let i = 0; i + 1 < fields.length && fields[i] !== ''; i += 2)
    for (const p of fields[i + 1].split(';')) accept.push(p.trim().replace(/^\*/, ''));
  return { name: fields[0] || '', accept: accept.join(',') };
}

class PageWindow {
  constructor() {
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
  openFile(answer, filter, fromWorker) {
    const { name, accept } = parseFilter(filter);
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
      present = (await navigator.hid.getDevices()).some(isController);
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
      devices = await navigator.hid.requestDevice({ filters: CONTROLLERS });
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

async function start() {
  const page = new PageWindow();
  $('connect').textContent = WORDS.connect;
  $('first-step').textContent = WORDS.firstStep;
  $('box-ok').textContent = WORDS.ok;
  $('box-cancel').textContent = WORDS.cancel;
  $('chooser-pick').textContent = WORDS.choose;
  $('chooser-cancel').textContent = WORDS.cancel;
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
  if (!navigator.hid) {
    $('notice').textContent = WORDS.noHid;
    $('connect').disabled = true;
    $('first-step').hidden = true;
  }
  if (!(await isolate())) {
    $('window').classList.remove('loading');
    $('notice').textContent = WORDS.noIsolation;
    return;
  }
  sessionStorage.removeItem('tarvix-isolating');
  const trace = new URLSearchParams(location.search).has('trace');
  window.Module = {
    arguments: [LANGUAGE_TAG, trace ? 'trace' : ''],
    page,
    print: (line) => console.log(line),
    printErr: (line) => console.warn(line),
  };
  window.Module.webhid = new WebHidBridge(window.Module, navigator.hid);
  $('update').addEventListener('click', () => window.Module._tarvix_click());
  $('connect').addEventListener('click', () => page.connect());
  if (navigator.hid) {
    navigator.hid.addEventListener('connect', () => page.refreshConnect());
    navigator.hid.addEventListener('disconnect', () => page.refreshConnect());
    page.refreshConnect();
  }
  const script = document.createElement('script');
  script.src = 'tarvix-update.js';
  document.body.appendChild(script);
}

start();
