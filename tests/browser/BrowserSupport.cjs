'use strict';
// What the browser tests share: checks that are counted and printed,
// playwright-core and chromium found or the test skipped, the simulator
// serving a program directory, real vesk runs against it, and pages with
// their failures and transfer recorded under a paused clock.
//
// Environment: VESK_NODE_DIR (where npm installed playwright-core),
// VESK_CHROMIUM (default /usr/bin/chromium). A test exits 77 when either is
// missing, which CTest shows as a skipped test.

const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const kSkipped = 77;
const kWeekdays = ['SU', 'MO', 'TU', 'WE', 'TH', 'FR', 'SA'];
const failures = [];
const children = [];

function check(ok, what) {
  if (!ok) failures.push(what);
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  return ok;
}

function finish(code) {
  for (const child of children) child.kill('SIGKILL');
  process.exit(code);
}

// Ends the test by itself after timeLimitMs, whatever hangs, and returns
// chromium and the browser's path, or skips the test.
function begin(timeLimitMs) {
  setTimeout(() => {
    console.log(`FAIL the test took longer than ${timeLimitMs / 1000} s`);
    finish(1);
  }, timeLimitMs);
  let chromium;
  try {
    ({ chromium } = require(path.join(process.env.VESK_NODE_DIR || '', 'node_modules', 'playwright-core')));
  } catch {
    console.log('SKIPPED: playwright-core is not installed (scripts/test installs it with npm)');
    process.exit(kSkipped);
  }
  const browserPath = process.env.VESK_CHROMIUM || '/usr/bin/chromium';
  if (!fs.existsSync(browserPath)) {
    console.log(`SKIPPED: ${browserPath} is not installed`);
    process.exit(kSkipped);
  }
  return { chromium, browserPath };
}

// Runs main, prints the tally and exits with the test's result.
function run(main) {
  main()
    .then(() => {
      console.log(failures.length === 0 ? 'all checks passed' : `${failures.length} checks failed`);
      finish(failures.length === 0 ? 0 : 1);
    })
    .catch((error) => {
      console.log(`FAIL ${error.stack || error}`);
      finish(1);
    });
}

// The simulator serving the program directory; resolves to its port.
function startSimulator(sim, directory) {
  // Every loop page served brings a new frame, so each run draws an overlay.
  const child = spawn(sim, ['--advance-on-request', '--max-seconds', '300', '--serve-dir', directory], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  children.push(child);
  return new Promise((resolve, reject) => {
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const match = /^vesk-sim listening on 127\.0\.0\.1:(\d+)\n/.exec(text);
      if (match) resolve(Number(match[1]));
    });
    child.on('exit', () => reject(new Error('the simulator ended before it listened')));
  });
}

// One refresh run in directory against the simulator on port, its pages
// addressed to the simulator.
function runVesk(vesk, directory, port, delayMs) {
  const result = spawnSync(vesk, [String(delayMs)], {
    env: {
      ...process.env,
      LC_ALL: 'C',
      VESK_HOME: directory,
      VESK_SYSLOG: 'off',
      VESK_RADAR_HOST: `127.0.0.1:${port}`,
      VESK_PUBLISH_HOST: `127.0.0.1:${port}`,
      VESK_SITE_ADDRESS: `http://127.0.0.1:${port}/vesk`,
      VESK_EXPORT: 'webp',
    },
    timeout: 60000,
    encoding: 'utf8',
  });
  check(result.status === 0, `vesk run in ${directory} exits 0 (${result.status})`);
}

// A page with its failures recorded and the transfer counted as the network
// reports it, headers and compressed bodies included.
async function openPage(context, url) {
  const page = await context.newPage();
  const problems = [];
  // The site's icon lies outside the published directory; the site serves
  // it, not this program.
  const ours = (url) => !url.endsWith('/favicon.ico');
  page.on('console', (message) => {
    if (message.type() === 'error' && ours(message.location().url)) {
      problems.push(`console error: ${message.text()} (${message.location().url})`);
    }
  });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('requestfailed', (request) => {
    if (ours(request.url())) problems.push(`failed request: ${request.url()}`);
  });
  page.on('response', (response) => {
    if (response.status() >= 400 && ours(response.url())) {
      problems.push(`HTTP ${response.status()}: ${response.url()}`);
    }
  });
  const cdp = await context.newCDPSession(page);
  await cdp.send('Network.enable');
  const transfer = { bytes: 0, pending: 0 };
  cdp.on('Network.requestWillBeSent', () => ++transfer.pending);
  cdp.on('Network.loadingFinished', (event) => {
    transfer.bytes += event.encodedDataLength;
    --transfer.pending;
  });
  cdp.on('Network.loadingFailed', () => --transfer.pending);
  await page.clock.install({ time: new Date() });
  await page.clock.pauseAt(new Date(Date.now() + 1000));
  await page.goto(url);
  return { page, problems, transfer };
}

// Waits until no request has been open for a moment.
async function settle(view) {
  for (let quiet = 0; quiet < 3; ) {
    await new Promise((resolve) => setTimeout(resolve, 100));
    quiet = view.transfer.pending <= 0 ? quiet + 1 : 0;
  }
}

// The slot tag of the archive for slot n, as the run names it: today's
// weekday up to the current slot, yesterday's after it.
function dayNow() {
  const now = new Date();
  const seconds = now.getHours() * 3600 + now.getMinutes() * 60 + now.getSeconds();
  return { now, slot: Math.floor((seconds / 86400) * 288) };
}

function tagOf(n, { now, slot }) {
  const day = new Date(now.getTime() - (n > slot ? 86400000 : 0));
  return kWeekdays[day.getDay()] + String(n).padStart(3, '0');
}

// An archive of six slots before the current one (yesterday's last ones
// just after midnight): one slot missing, one stale frame, one frame without
// its overlay.
function writeArchive(directory) {
  const day = dayNow();
  const first = day.slot >= 8 ? day.slot - 7 : 280;
  const stale = new Date(Date.now() - 2 * 86400000);
  for (let k = 0; k < 6; ++k) {
    if (k === 1) continue;
    const tag = tagOf(first + k, day);
    const frame = path.join(directory, `Image-${tag}.png`);
    fs.copyFileSync(path.join(directory, `Image${k % 7}.png`), frame);
    if (k === 2) fs.utimesSync(frame, stale, stale);
    if (k !== 4) fs.copyFileSync(path.join(directory, 'SESOverlay0.bmp'), path.join(directory, `SESOverlay-${tag}.bmp`));
  }
}

// A program directory as on a site that has run for half an hour: seven
// runs fill the ring of overlays, then writeArchive's slots and one more
// run, whose pages and status.json name them. The simulator serves it under
// /vesk/; the caller removes the directory.
async function servedSite(vesk, sim, delayMs) {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'vesk-browser-'));
  const background = spawnSync(sim, ['--write-background', path.join(directory, 'IDR641.background.bmp')]);
  check(background.status === 0, 'the simulator writes the background map');
  const port = await startSimulator(sim, directory);
  for (let n = 0; n < 7; ++n) runVesk(vesk, directory, port, delayMs);
  writeArchive(directory);
  runVesk(vesk, directory, port, delayMs);
  return { directory, base: `http://127.0.0.1:${port}/vesk` };
}

module.exports = {
  servedSite,
  check, begin, run, startSimulator, runVesk, openPage, settle, dayNow, tagOf, writeArchive,
};
