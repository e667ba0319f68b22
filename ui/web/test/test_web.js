#!/usr/bin/env node
// make test-web: the web updater in Debian's headless Chromium, driven over the DevTools protocol,
// with a fake navigator.hid (fake_hid.js) whose controller is the project's virtual controller.
//   node test_web.js SITE FAKE_CONTROLLER_JS [--screenshots DIR] [--only NAME] [--verbose]
//                    [--measure TARVIX_FLASH]
// --measure adds whole 256 KiB updates in both modes and times them against the native
// tarvix-flash on the same file and the same virtual controller (1 ms a report), three times each.
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const puppeteer = require('puppeteer-core');
const { serve } = require('../serve.js');

const args = process.argv.slice(2);
const option = (name) => (args.includes(name) ? args[args.indexOf(name) + 1] : null);
const [site, fakeJs] = args;
const shots = option('--screenshots');
const TITLE = 'Tarvix Update v2.60';
const EN = { confirm: 'New firmware 2.00 and current is 1.37', done: 'Firmware upgraded!',
  failed: 'Firmware update failure', refused: 'The Firmware not recognized!', button: 'USB Update' };
const ZH = { confirm: '\u5347\u7ea7\u65b0\u56fa\u4ef6 2.00 \u5f53\u524d\u7248\u672c\u4e3a 1.37',
  done: '\u5347\u7ea7\u6210\u529f\u3002', button: 'USB \u5347\u7ea7' };

// ---- Steps a case is made of ----
async function box(page, text, button = 'ok', timeout = 60000) {
  await page.waitForFunction((t) => {
    const b = document.getElementById('box');
    return b.open && b.textContent.includes(t);
  }, { timeout, polling: 20 }, text);
  await page.click(`#box-${button}`);
  await page.waitForFunction(() => !document.getElementById('box').open || true);
}
// The file comes from the chooser that #update opens, or with viaModal from the page's modal.
async function startUpdate(page, file, viaModal = false) {
  if (viaModal) await page.click('#update').then(() => page.waitForSelector('#chooser[open] #chooser-pick', { visible: true }));
  const [chooser] = await Promise.all([page.waitForFileChooser(), page.click(viaModal ? '#chooser-pick' : '#update')]);
  await chooser.accept([file]);
}
const text = (page, id) => page.$eval(`#${id}`, (e) => e.textContent);
const visible = (page, id) => page.$eval(`#${id}`, (e) => !e.hidden);
const progress = (page) => page.$eval('#progress', (e) => e.value);
const version = (page) => page.evaluate(() => window.fakeHid.version());
function expect(what, got, want) {
  if (got !== want) throw new Error(`${what}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
}
// The runs of Latin letters in text that are words: no name, number, unit, path or option.
const NAMES = new Set(['Tarvix', 'Update', 'GamePad', 'USB', 'BOOT', 'L+R+HOME', 'LED', 'WebHID',
  'Chromium', 'tarvix-update', 'tarvix-flash', 'make', 'serve-web']);
function englishWords(words) {
  return (words.match(/[A-Za-z0-9._/+\-?=*~]+/g) || []).map((w) => w.replace(/^[.,:;]+|[.,:;]+$/g, ''))
    .filter((w) => /[A-Za-z]/.test(w) && !/\d|^[-?]|\/|\.[A-Za-z]/.test(w) && !NAMES.has(w));
}
// The document's title and the text of every element but the scripts.
const pageTexts = (page) => page.evaluate(() => [document.title, ...Array.from(
  document.body.querySelectorAll(':not(script)')).filter((e) => !e.children.length)
  .map((e) => e.textContent)].join('\n'));
// Whether the connect button stands above the window's controls.
const connectFirst = (page) => page.evaluate(() => document.getElementById('connect')
  .getBoundingClientRect().bottom < document.getElementById('update').getBoundingClientRect().top);
async function shot(page, name) {
  if (shots) await page.screenshot({ path: path.join(shots, `screenshot-web-${name}.png`) });
}
// A whole update from the click to the success box; answers the seconds from the confirmation to
// the success.
async function update(page, file, words = EN, shotName = null) {
  await startUpdate(page, file);
  await box(page, words.confirm);
  const start = Date.now();
  if (shotName !== null) {
    await page.waitForFunction(() => document.getElementById('progress').value >= 40, { polling: 20 });
    await shot(page, `updating${shotName}`);
  }
  await box(page, words.done);
  const seconds = (Date.now() - start) / 1000;
  // The update thread has ended: the button is back, beside the success label.
  await page.waitForFunction(() => !document.getElementById('update').disabled, { polling: 20 });
  expect('done label shown', await visible(page, 'done'), true);
  expect('controller version', await version(page), 200);
  return seconds;
}

// ---- The cases: the fake controller's set-up, then what the user does and sees ----
const CASES = [
  { name: 'boot-loader update, connected with the chooser', granted: false, async run(page, f, browser, console) {
    expect('trace hint', console.some((l) => l.includes('tarvix-update: started (?trace shows the protocol trace)')), true);
    expect('button before connecting', await page.$eval('#update', (e) => e.disabled), true);
    expect('connecting comes first', await connectFirst(page), true);
    expect('first step', await text(page, 'first-step'), 'Plug the controller in (steps 1 and 2), then connect it here:');
    await shot(page, 'connect');
    await page.click('#connect');
    await page.waitForFunction((t) => document.title === t, { polling: 20 }, `${TITLE}(GamePad V1.37)`);
    expect('connecting comes first once connected', await connectFirst(page), false);
    await shot(page, 'idle');
    await update(page, f.sample, EN, '');
    await shot(page, 'done');
  } },
  { name: 'running-firmware update', appMode: true, async run(page, f) {
    return `${(await update(page, f.sample)).toFixed(2)} s`;
  } },
  { name: 'a browser without Atomics.waitAsync: reports go as posted calls', noWaitAsync: true,
    async run(page, f) { await update(page, f.sample); } },
  { name: 'cancel at the confirmation', async run(page, f) {
    await startUpdate(page, f.sample);
    await box(page, EN.confirm, 'cancel');
    await page.waitForFunction(() => !document.getElementById('update').disabled, { polling: 20 });
    expect('progress', await progress(page), 0);
    expect('controller version', await version(page), 137);
  } },
  { name: 'refused file', async run(page, f) {
    await startUpdate(page, f.refused);
    await box(page, EN.refused);
    await page.waitForFunction(() => !document.getElementById('update').disabled, { polling: 20 });
    expect('controller version', await version(page), 137);
  } },
  { name: 'unplugged mid-transfer', unplugAfter: 300, async run(page, f) {
    await startUpdate(page, f.sample);
    await box(page, EN.confirm);
    await box(page, EN.failed);
    await page.waitForFunction((t) => document.title === t, { polling: 20 }, TITLE);
    expect('button without a controller', await page.$eval('#update', (e) => e.disabled), true);
  } },
  { name: 'closing the tab during an update asks first', async run(page, f) {
    await startUpdate(page, f.sample);
    await box(page, EN.confirm);
    await page.waitForFunction(() => document.getElementById('progress').value >= 10, { polling: 20 });
    const asked = new Promise((resolve) => page.once('dialog', (d) => { resolve(d.type()); d.dismiss(); }));
    await page.close({ runBeforeUnload: true });
    expect('question', await asked, 'beforeunload');
    await box(page, EN.done);  // the user stayed: the update went on
    expect('controller version', await version(page), 200);
  } },
  { name: 'tab hidden during an update', async run(page, f, browser) {
    await startUpdate(page, f.sample);
    await box(page, EN.confirm);
    const start = Date.now();
    const other = await browser.newPage();
    await other.bringToFront();
    expect('visibility', await page.evaluate(() => document.visibilityState), 'hidden');
    await page.waitForFunction(() => document.getElementById('box').open, { timeout: 60000, polling: 100 });
    const seconds = (Date.now() - start) / 1000;
    await other.close();
    await page.bringToFront();
    await box(page, EN.done);
    expect('controller version', await version(page), 200);
    return `${seconds.toFixed(2)} s hidden`;
  } },
  { name: "file chooser from a modal once the click's activation has expired", activationExpired: true,
    async run(page, f) {
      await startUpdate(page, f.sample, true);
      await box(page, EN.confirm);
      await box(page, EN.done);
      expect('controller version', await version(page), 200);
    } },
  { name: 'a host without the isolation headers: the service worker adds them', plainHost: true,
    async run(page, f) {
      expect('isolated', await page.evaluate(() => crossOriginIsolated), true);
      return `${(await update(page, f.sample)).toFixed(2)} s`;
    } },
  { name: 'a browser without WebHID says what to use instead', noHid: true, async run(page) {
    expect('what instead', /Chromium-based desktop browser.*tarvix-update, tarvix-flash/.test(await text(page, 'notice')), true);
  } },
  { name: 'Chinese without WebHID and before connecting: no English word', noHid: true, granted: false,
    languages: ['zh-CN', 'zh'], async run(page) {
      expect('notice, English words', `${(await text(page, 'notice')).includes('Chromium')} ${englishWords(await pageTexts(page))}`, 'true ');
    } },
  { name: 'Chinese texts', languages: ['zh-CN', 'zh'], granted: false, async run(page, f) {
    expect('button', await text(page, 'update'), ZH.button);
    expect('connecting comes first', await connectFirst(page), true);
    expect('English words', englishWords(await pageTexts(page)).join(' '), '');
    await shot(page, 'connect-zh');
    await page.click('#connect');
    await page.waitForFunction(() => !document.getElementById('update').disabled, { polling: 20 });
    await shot(page, 'idle-zh');
    await update(page, f.sample, ZH, '-zh');
    await shot(page, 'done-zh');
  } },
];
// Timings are noisy on a shared machine: three runs of each mode, browser and desktop in turn.
const measured = { boot: [], app: [] };  // [browser s, desktop s] a run
for (const run of [1, 2, 3]) {
  for (const mode of ['boot', 'app']) {
    CASES.push({ name: `256 KiB update, ${mode}, run ${run}`, appMode: mode === 'app', measure: true, async run(page, f) {
      const web = await update(page, f.big);
      const start = process.hrtime.bigint();
      execFileSync(option('--measure'), ['--virtual', mode, 'flash', f.big, '--yes'], { stdio: 'ignore' });
      measured[mode].push([web, Number(process.hrtime.bigint() - start) / 1e9]);
    } });
  }
}
const median = (runs, i) => runs.map((r) => r[i]).sort((x, y) => x - y)[runs.length >> 1];

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvix-web-'));
  const fake = fs.readFileSync(fakeJs, 'utf8') + fs.readFileSync(path.join(__dirname, 'fake_hid.js'), 'utf8');
  // The firmware files, written by the emulator's own .dat writer.
  const writer = await require(path.resolve(fakeJs))();
  const files = {};
  for (const [name, kind] of [['sample', 0], ['big', 1], ['refused', 2]]) {
    const length = writer._malloc(4);
    const bytes = writer._fake_file(kind, length);
    files[name] = path.join(work, `${name}.dat`);
    fs.writeFileSync(files[name], writer.HEAPU8.slice(bytes, bytes + writer.HEAPU32[length >> 2]));
    writer._free(bytes);
    writer._free(length);
  }
  if (shots) fs.mkdirSync(shots, { recursive: true });
  const server = await serve(site, 0);
  const plain = await serve(site, 0, '127.0.0.1', false);
  const url = `http://localhost:${server.address().port}/`;
  const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--window-size=420,330'], defaultViewport: { width: 420, height: 330 } });
  let passed = 0, failed = 0;
  const loads = [];
  const fail = (what, why) => { console.log(`FAIL ${what}: ${why}`); ++failed; };
  const only = option('--only');
  const chosen = CASES.filter((c) => (!only || c.name.includes(only)) && (!c.measure || option('--measure')));
  for (const c of chosen) {
    const page = await browser.newPage();
    const errors = [], consoleLines = [];
    page.on('pageerror', (e) => errors.push(e.message));
    page.on('console', (m) => consoleLines.push(m.text()));
    if (args.includes('--verbose')) page.on('console', (m) => console.log(`  page: ${m.text()}`));
    const config = { granted: c.granted !== false, appMode: !!c.appMode, latencyMs: 1,
      activationExpired: !!c.activationExpired, noWaitAsync: !!c.noWaitAsync,
      unplugAfter: c.unplugAfter ?? -1, languages: c.languages || ['en-US', 'en'], noHid: !!c.noHid };
    await page.evaluateOnNewDocument(`${fake}\ninstallFakeHid(${JSON.stringify(config)});`);
    const cdp = await page.target().createCDPSession();
    await cdp.send('Network.clearBrowserCache');
    server.bytesSent = 0;
    try {
      const address = c.plainHost ? `http://localhost:${plain.address().port}/` : url;
      await page.goto(args.includes('--verbose') ? address + '?trace' : address);
      await page.waitForFunction(() => window.Module && Module.page.readyAt !== null, { polling: 20 });
      // The page's figures on a cold cache: what it transferred until usable, and when.
      const readyMs = await page.evaluate(() => Module.page.readyAt);
      if (!c.plainHost) loads.push({ bytes: server.bytesSent, readyMs });
      const note = await c.run(page, files, browser, consoleLines);
      if (errors.length) throw new Error(`page errors: ${errors.join('; ')}`);
      console.log(`ok   ${c.name}${note ? ` (${note})` : ''}`);
      ++passed;
    } catch (e) {
      fail(c.name, e.message);
    }
    if (!page.isClosed()) await page.close();
  }
  await browser.close();
  server.close();
  plain.close();
  const worst = (key) => Math.max(...loads.map((l) => l[key]));
  if (loads.length) console.log(`load: at most ${worst('bytes')} bytes transferred, usable after at most ${Math.round(worst('readyMs'))} ms`);
  if (loads.length && worst('bytes') > 150000) fail('transfer size', 'over 150000 bytes');
  if (loads.length && worst('readyMs') > 1000) fail('navigation to a usable window', 'over 1000 ms');
  fs.rmSync(work, { recursive: true });
  for (const [mode, runs] of Object.entries(measured).filter(([, r]) => r.length)) {
    const [web, desktop] = [median(runs, 0), median(runs, 1)];
    console.log(`256 KiB update, ${mode}: medians of ${runs.length} runs, browser ${web.toFixed(2)} s, desktop ${desktop.toFixed(2)} s, ${(web / desktop).toFixed(3)}x`);
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
}

main().catch((e) => { console.error(e); process.exit(1); });
