'use strict';
// The viewer page loop.html as a reader gets it, from a program directory
// written by real vesk runs and served by the simulator: its controls, the
// two loops, the time labels, the banners and a phone's screen. The page
// clock is paused, so every animation tick is taken on purpose.
//
//   node ViewerTest.cjs VESK VESK_SIM ARTEFACT_DIR
//
// Skipped (exit 77) without playwright-core or chromium; see
// BrowserSupport.cjs.

const fs = require('fs');
const path = require('path');
const { check, begin, run, servedSite, openPage, settle } = require('./BrowserSupport.cjs');

const kDelayMs = 400;
const kTimeLimitMs = 240000;
// Perth keeps UTC+8 all year, so the local label is known in advance.
const kTimezone = 'Australia/Perth';
const kOffsetMs = 8 * 3600000;

const [vesk, sim, artefacts] = process.argv.slice(2);
const { chromium, browserPath } = begin(kTimeLimitMs);

const pad = (n) => String(n).padStart(2, '0');
// "2026-12-09 12:40" of a time in ms, in UTC.
function stamp(ms) {
  const d = new Date(ms);
  return `${d.getUTCFullYear()}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ` +
    `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}`;
}

async function openViewer(context, base) {
  const view = await openPage(context, `${base}/loop.html`);
  await settle(view);
  return view;
}

const shown = (view) => view.page.evaluate(() => document.getElementById('view').dataset.frame);
const text = (view, id) => view.page.locator(`#${id}`).innerText();

async function advance(view, ms) {
  await view.page.clock.runFor(ms);
  await settle(view);
  return shown(view);
}

async function press(view, key) {
  await view.page.keyboard.press(key);
  await settle(view);
  return shown(view);
}

function noProblems(view, what) {
  check(view.problems.length === 0, `${what}: no failed request or console error ${view.problems.join('; ')}`);
}

// Playing, holding the newest, pausing, stepping and the speed.
async function checkControls(view, files) {
  const seen = [await shown(view)];
  for (let n = 0; n < 9; ++n) seen.push(await advance(view, kDelayMs));
  const newest = files[files.length - 1];
  const want = [...files, newest, newest, files[0]];
  check(JSON.stringify(seen) === JSON.stringify(want),
    `playing: oldest to newest, the newest held three ticks, then again (${seen.join(' ')})`);

  const paused = await press(view, 'Space');
  check(await advance(view, 5 * kDelayMs) === paused && await view.page.locator('#play').getAttribute('aria-label') === 'Play',
    `Space pauses on ${paused}`);
  const steps = [await press(view, 'Home'), await press(view, 'ArrowRight'), await press(view, 'ArrowRight'),
    await press(view, 'ArrowLeft'), await press(view, 'ArrowLeft'), await press(view, 'ArrowLeft'), await press(view, 'End')];
  const wantSteps = [files[0], files[1], files[2], files[1], files[0], newest, newest];
  check(JSON.stringify(steps) === JSON.stringify(wantSteps),
    `Home, Right, Right, Left, Left, Left (wraps), End step through the loop (${steps.join(' ')})`);
  await press(view, 'Home');
  await press(view, 'Space');
  check(await advance(view, kDelayMs) === files[1], 'Space plays again');

  // Twice as fast steps every half delay, half as fast every second delay.
  await view.page.selectOption('#speed', '2');
  check(await advance(view, kDelayMs / 2 - 1) === files[1] && await advance(view, 1) === files[2],
    'speed 2x steps after half the HTML delay');
  await view.page.selectOption('#speed', '0.5');
  check(await advance(view, 2 * kDelayMs - 1) === files[2] && await advance(view, 1) === files[3],
    'speed 0.5x steps after twice the HTML delay');
  await view.page.selectOption('#speed', '1');
}

async function checkLoops(view, status) {
  const count = async () => Number(await view.page.locator('#scrub').getAttribute('max')) + 1;
  await view.page.click('#day');
  const day = { count: await count(), label: await text(view, 'day'), first: await press(view, 'Home') };
  check(day.count === status.archive.length && day.label === `24 hours (${status.archive.length})` &&
    day.first === status.archive[0].frame,
  `24 hours shows the ${status.archive.length} archived frames (${day.count}, "${day.label}", ${day.first})`);
  await view.page.click('#recent');
  const recent = { count: await count(), label: await text(view, 'recent') };
  check(recent.count === status.frames.length && recent.label === `30 minutes (${status.frames.length})`,
    `30 minutes shows the ${status.frames.length} frames (${recent.count}, "${recent.label}")`);
}

async function checkTimeLabels(view, status) {
  const got = [];
  const want = [];
  await press(view, 'Home');
  for (const frame of status.frames) {
    const time = Date.parse(frame.time);
    want.push(`${stamp(time + kOffsetMs)} UTC+08:00 / ${stamp(time)} / ${new Date(time).toISOString()}`);
    got.push(`${await text(view, 'local')} / ${await text(view, 'utc')} / ${await view.page.locator('#utc').getAttribute('datetime')}`);
    await press(view, 'ArrowRight');
  }
  check(JSON.stringify(got) === JSON.stringify(want), `the time labels are the frames' times (${got.join('; ')})`);
  const now = await view.page.evaluate(() => Date.now());
  const minutes = Math.floor((status.newest_frame.age_seconds + (now - Date.parse(status.run.finished)) / 1000) / 60);
  const age = await text(view, 'age');
  check(age === `Newest frame: ${minutes} minutes old` || (minutes < 1 && age === 'Newest frame: under a minute old'),
    `the age label counts from the newest frame's age (${age}; ${minutes} minutes)`);
}

// loop.html over the status text given, in place of the run's.
async function withStatus(context, base, directory, statusText, look) {
  const file = path.join(directory, 'status.json');
  const kept = fs.readFileSync(file);
  fs.writeFileSync(file, statusText);
  try {
    const view = await openViewer(context, base);
    await look(view);
    await view.page.close();
  } finally {
    fs.writeFileSync(file, kept);
  }
}

async function checkBanners(context, base, directory, status) {
  const banner = (view) => view.page.evaluate(() => {
    const element = document.getElementById('banner');
    return element.hidden ? null : element.textContent;
  });
  const stale = { ...status, stale: true, newest_frame: { ...status.newest_frame, age_seconds: 47 * 60 } };
  stale.run = { ...status.run, finished: new Date().toISOString() };
  await withStatus(context, base, directory, JSON.stringify(stale), async (view) => {
    const said = await banner(view);
    check(said === 'Radar data is 47 minutes old', `a stale status shows its banner (${said})`);
    noProblems(view, 'stale status');
  });
  await withStatus(context, base, directory, '{"program": "VESK", "run": ', async (view) => {
    const said = await banner(view);
    check(said === 'Radar status unavailable', `an unreadable status shows its banner (${said})`);
    noProblems(view, 'unreadable status');
  });
  await withStatus(context, base, directory, JSON.stringify({ ...status, frames: [] }), async (view) => {
    const empty = await view.page.evaluate(() => [document.getElementById('view').hidden,
      document.getElementById('empty').textContent]);
    check(empty[0] && /^No radar frames yet/.test(empty[1]), `no frames: the page says so (${empty[1]})`);
  });
}

async function checkPhone(browser, base) {
  const context = await browser.newContext({ viewport: { width: 360, height: 740 }, hasTouch: true, isMobile: true });
  const view = await openViewer(context, base);
  const layout = await view.page.evaluate(() => ({
    scroll: document.documentElement.scrollWidth,
    width: window.innerWidth,
    small: [...document.querySelectorAll('button, select, input')]
      .filter((control) => control.getBoundingClientRect().height < 44).map((control) => control.id),
  }));
  check(layout.scroll <= layout.width, `360 px: no horizontal scroll (${layout.scroll} of ${layout.width} px)`);
  check(layout.small.length === 0, `360 px: every control is at least 44 px high (${layout.small.join(' ')})`);
  await view.page.screenshot({ path: path.join(artefacts, 'loop-360.png'), fullPage: true });
  noProblems(view, '360 px');
  await context.close();
}

async function main() {
  fs.mkdirSync(artefacts, { recursive: true });
  const { directory, base } = await servedSite(vesk, sim, kDelayMs);
  try {
    const status = JSON.parse(fs.readFileSync(path.join(directory, 'status.json'), 'utf8'));
    const files = status.frames.map((frame) => frame.file);
    check(files.length === 7 && status.archive.length >= 2,
      `the runs left seven frames and an archive (${files.length}, ${status.archive.length})`);
    const browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
    const context = await browser.newContext({ viewport: { width: 640, height: 900 }, timezoneId: kTimezone });
    const view = await openViewer(context, base);
    const names = await view.page.evaluate(() => [...document.querySelectorAll('button, select, input')]
      .filter((control) => !control.getAttribute('aria-label') && !control.labels?.length && !control.textContent.trim())
      .map((control) => control.id));
    check(names.length === 0, `every control has an accessible name (${names.join(' ')})`);
    await view.page.screenshot({ path: path.join(artefacts, 'loop.png') });
    await checkControls(view, files);
    await checkLoops(view, status);
    await checkTimeLabels(view, status);
    noProblems(view, 'loop.html');
    await view.page.close();
    await checkBanners(context, base, directory, status);
    await checkPhone(browser, base);
    await browser.close();
  } finally {
    fs.rmSync(directory, { recursive: true, force: true });
  }
}

run(main);
