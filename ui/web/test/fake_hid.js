// The browser test's navigator.hid: one controller, the project's virtual controller
// (fake-controller.js, wasm) behind WebHID's API, injected before the page's scripts. Each reply
// becomes an input report the wire's latency after its report was sent (the replies to reports
// sent within one millisecond come together). window.fakeHid lets the test look.
'use strict';
function installFakeHid(config) {
  const ready = createFakeController();
  // When the replies on the wire are due (page's clock). A worker naps until shortly before the
  // first is due (a hidden tab throttles the page's own timers, not a worker's waits), then a
  // message loop on the page's thread hands it over on time: timers are too coarse for 1 ms, and
  // a loop the whole time would keep a processor busy that the page's threads need.
  const WAKE_EARLY_MS = 0.25;
  const due = [];
  const nap = new Worker(URL.createObjectURL(new Blob([`let word = null; onmessage = (e) => {
    if (typeof e.data === 'object') return (word = new Int32Array(e.data));
    if (!word) return setTimeout(() => postMessage(0), e.data);
    if (e.data > 0) Atomics.wait(word, 0, 0, e.data);
    postMessage(0); };`], { type: 'text/javascript' })));
  // Without isolation there is no shared memory to wait on: timers do until the page has reloaded
  // itself isolated (the service worker's first visit).
  if (self.crossOriginIsolated) nap.postMessage(new SharedArrayBuffer(4));
  const wire = new MessageChannel();
  let timing = false;
  let m = null, fake = 0, plugged = true, granted = config.granted, sent = 0;
  const hid = new EventTarget();
  const device = new EventTarget();
  Object.assign(device, { opened: false, productName: 'Tarvix gamepad', collections: [] });

  function unplug() {
    plugged = false;
    device.opened = false;
    const event = new Event('disconnect');
    event.device = device;
    hid.dispatchEvent(event);
  }
  function tick() {
    if (due.length && performance.now() < due[0]) return wire.port2.postMessage(0);
    due.shift();
    const buffer = m._malloc(64);
    for (let i = 0; i < 64; ++i) {
      const got = m._fake_receive(fake, buffer);
      if (got < 0 && plugged) unplug();
      if (got <= 0) break;
      const event = new Event('inputreport');
      Object.assign(event, { device, reportId: 0, data: new DataView(m.HEAPU8.slice(buffer, buffer + 64).buffer) });
      device.dispatchEvent(event);
    }
    m._free(buffer);
    timing = false;
    if (plugged && (due.length > 0 || m._fake_pending(fake) > 0)) time();
  }
  // Replies the controller's whole-millisecond clock still holds back: looked at again later.
  function time() {
    timing = true;
    nap.postMessage(due.length ? due[0] - performance.now() - WAKE_EARLY_MS : config.latencyMs);
  }
  nap.onmessage = tick;
  wire.port1.onmessage = tick;
  device.open = async () => {
    if (!plugged) throw new DOMException('Failed to open the device.', 'InvalidStateError');
    device.opened = true;
  };
  device.close = async () => { device.opened = false; };
  device.sendReport = async (reportId, data) => {
    const bytes = new Uint8Array(data.buffer || data, data.byteOffset || 0, data.byteLength);
    const report = m._malloc(65);
    m.HEAPU8[report] = reportId;
    m.HEAPU8.set(bytes.subarray(0, 64), report + 1);
    const taken = plugged && device.opened && m._fake_send(fake, report, 1 + Math.min(64, bytes.length));
    m._free(report);
    if (!taken) throw new DOMException('Failed to write the report.', 'NotAllowedError');
    ++sent;
    due.push(performance.now() + config.latencyMs);
    if (!timing) time();
  };
  hid.getDevices = async () => { await ready; return granted && plugged ? [device] : []; };
  hid.requestDevice = async ({ filters }) => {
    await ready;
    granted = plugged && filters.some((f) => f.vendorId === device.vendorId && f.productId === device.productId);
    return granted ? [device] : [];
  };
  ready.then((module) => {
    m = module;
    fake = m._fake_create(config.appMode ? 1 : 0, config.latencyMs, config.unplugAfter);
    const identity = m._fake_identity(fake) >>> 0;
    device.vendorId = identity >>> 16;
    device.productId = identity & 0xffff;
  });
  // The controller goes with the page (its calls answer as a pulled cable from then on).
  window.addEventListener('pagehide', () => {
    if (m && fake) m._fake_destroy(fake);
    fake = 0;
  });
  Object.defineProperty(Navigator.prototype, 'hid', { get: () => (config.noHid ? undefined : hid) });
  if (config.noWaitAsync) delete Atomics.waitAsync;
  if (config.activationExpired) {
    Object.defineProperty(Navigator.prototype, 'userActivation', { get: () => ({ isActive: false, hasBeenActive: true }) });
  }
  if (config.languages) {
    Object.defineProperty(Navigator.prototype, 'languages', { get: () => config.languages });
    Object.defineProperty(Navigator.prototype, 'language', { get: () => config.languages[0] });
  }
  window.fakeHid = { version: () => (m ? m._fake_version(fake) : -1), sent: () => sent, unplug };
}
