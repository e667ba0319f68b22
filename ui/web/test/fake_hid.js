// The browser test's navigator.hid: one controller, the project's virtual controller
// (fake-controller.js, wasm) behind WebHID's API, injected before the page's scripts. Replies
// become input reports after the wire's latency, timed on a worker as device I/O would be (a
// hidden tab's own timers are throttled, its I/O is not). window.fakeHid lets the test look.
'use strict';
function installFakeHid(config) {
  const ready = createFakeController();
  const wire = new Worker(URL.createObjectURL(new Blob(
    ['onmessage = (e) => setTimeout(() => postMessage(0), e.data);'], { type: 'text/javascript' })));
  let m = null, plugged = true, granted = config.granted, sent = 0;
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
  wire.onmessage = () => {
    const buffer = m._malloc(64);
    for (let i = 0; i < 64; ++i) {
      const got = m._fake_receive(buffer);
      if (got < 0 && plugged) unplug();
      if (got <= 0) break;
      const event = new Event('inputreport');
      Object.assign(event, { device, reportId: 0, data: new DataView(m.HEAPU8.slice(buffer, buffer + 64).buffer) });
      device.dispatchEvent(event);
    }
    m._free(buffer);
    if (plugged && m._fake_pending() > 0) wire.postMessage(1);
  };
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
    const taken = plugged && device.opened && m._fake_send(report, 1 + Math.min(64, bytes.length));
    m._free(report);
    if (!taken) throw new DOMException('Failed to write the report.', 'NotAllowedError');
    ++sent;
    wire.postMessage(config.latencyMs);
  };
  hid.getDevices = async () => { await ready; return granted && plugged ? [device] : []; };
  hid.requestDevice = async ({ filters }) => {
    await ready;
    granted = plugged && filters.some((f) => f.vendorId === device.vendorId && f.productId === device.productId);
    return granted ? [device] : [];
  };
  ready.then((module) => {
    m = module;
    const identity = m._fake_plug(config.appMode ? 1 : 0, config.latencyMs, config.unplugAfter);
    device.vendorId = identity >>> 16;
    device.productId = identity & 0xffff;
  });
  Object.defineProperty(Navigator.prototype, 'hid', { get: () => hid });
  if (config.languages) {
    Object.defineProperty(Navigator.prototype, 'languages', { get: () => config.languages });
    Object.defineProperty(Navigator.prototype, 'language', { get: () => config.languages[0] });
  }
  window.fakeHid = { version: () => (m ? m._fake_version() : -1), sent: () => sent, unplug };
}
