// The page's half of the WebHID backend (webhid_platform.cpp). The program's threads post
// getDevices and open to the page; output reports they queue in the platform and ring its bell,
// which the page waits on (watchBell). Each call is answered through tarvix_answer. Each input
// report and each connection or removal of a granted device is handed to the platform as it
// happens.
// A device gets a number the first time the page sees its HIDDevice object.
'use strict';

class WebHidBridge {
  constructor(module, hid) {
    this.module = module;
    this.hid = hid;
    this.ids = new Map();      // HIDDevice -> number
    this.devices = new Map();  // number -> HIDDevice
    this.nextId = 1;
    this.platform = 0;  // the program's WebHidPlatform, once it is made (0: none)
    this.inputBytes = 0;  // where the platform takes an input report's bytes
    if (hid) {
      hid.addEventListener('connect', (e) => this.connection(e.device, 1));
      hid.addEventListener('disconnect', (e) => this.connection(e.device, 0));
    }
  }

  idOf(device) {
    let id = this.ids.get(device);
    if (id === undefined) {
      id = this.nextId++;
      this.ids.set(device, id);
      this.devices.set(id, device);
      device.addEventListener('inputreport', (e) => this.inputReport(id, e.data));
    }
    return id;
  }

  // The platform made (on the page's thread, while its maker waits). Answers 1 when the page
  // watches the platform's bell (a word of the program's memory) and sends the output reports
  // queued each time it rings; 0 when it cannot wait on it, and the platform posts each report.
  attach(platform, bell, inputBytes) {
    this.platform = platform;
    this.inputBytes = inputBytes;
    this.bellWatch = {};
    if (typeof Atomics.waitAsync !== 'function') return 0;
    this.watchBell(this.bellWatch, platform, bell >> 2);
    return 1;
  }

  detach(platform) {
    if (this.platform !== platform) return;
    this.platform = 0;
    this.bellWatch = null;
  }

  async watchBell(watch, platform, index) {
    while (this.bellWatch === watch) {
      const rung = Atomics.load(this.module.HEAP32, index);
      try {
        this.module._tarvix_hid_send_queued(platform);
      } catch (e) {
        console.warn('webhid: sending queued reports failed', e);  // the watch goes on
      }
      const wait = Atomics.waitAsync(this.module.HEAP32, index, rung);
      if (wait.async) await wait.value;
    }
  }

  // Devices the user granted just now (the chooser) arrive like plugged ones.
  connection(device, connected) {
    if (this.platform) this.module._tarvix_hid_connection(this.platform, this.idOf(device), connected);
  }

  // Copies bytes into the program's memory for the call, and frees them after it.
  withBytes(bytes, call) {
    const m = this.module;
    const ptr = bytes && bytes.length ? m._malloc(bytes.length) : 0;
    if (ptr) m.HEAPU8.set(bytes, ptr);
    try {
      call(ptr, ptr ? bytes.length : 0);
    } finally {
      if (ptr) m._free(ptr);
    }
  }

  answer(answer, status, bytes) {
    this.withBytes(bytes, (ptr, length) => this.module._tarvix_answer(answer, status, ptr, length));
  }

  static words(values) {
    return new Uint8Array(new Uint32Array(values).buffer);
  }

  async getDevices(answer) {
    let devices = [];
    try {
      devices = this.hid ? await this.hid.getDevices() : [];
    } catch (e) {
      console.warn('webhid: getDevices failed', e);
    }
    const words = [];
    for (const d of devices) words.push(this.idOf(d), d.vendorId, d.productId);
    this.answer(answer, 1, WebHidBridge.words(words));
  }

  async open(answer, id) {
    const device = this.devices.get(id);
    if (!device) return this.answer(answer, 2);
    try {
      // Kept open until the device goes: the program opens and closes its handles per
      // conversation, the browser's device stays with the page.
      if (!device.opened) await device.open();
      this.answer(answer, 0, WebHidBridge.words([device.vendorId, device.productId]));
    } catch (e) {
      const denied = e && (e.name === 'NotAllowedError' || e.name === 'SecurityError');
      this.answer(answer, denied ? 1 : 2);
    }
  }

  async sendReport(answer, id, reportId, ptr, length) {
    // A copy out of the shared memory: WebHID takes no view of a SharedArrayBuffer.
    const data = this.module.HEAPU8.slice(ptr, ptr + length);
    this.module._free(ptr);
    const device = this.devices.get(id);
    let sent = 0;
    try {
      if (device && device.opened) {
        await device.sendReport(reportId, data);
        sent = 1;
      }
    } catch (e) {
      sent = 0;
    }
    this.answer(answer, sent);
  }

  inputReport(id, view) {
    if (!this.platform) return;
    const length = Math.min(view.byteLength, 64);
    this.module.HEAPU8.set(new Uint8Array(view.buffer, view.byteOffset, length), this.inputBytes);
    this.module._tarvix_hid_input(this.platform, id, this.inputBytes, length);
  }
}
