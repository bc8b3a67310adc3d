'use strict';
// The viewer page loop.html as a reader gets it, from a program directory
// written by real vesk runs and served by the simulator: its controls, the
// two loops, the time labels, the ages and banners, the station text, a
// day-long loop's memory and a slow link, and a phone's screen. The page
// clock is paused, so every animation tick is taken on purpose.
//
//   node ViewerTest.cjs VESK VESK_SIM ARTEFACT_DIR WRITE_NOWCAST
//
// With VESK_SCREENSHOT_DIR set it also writes docs/viewer-*.png there, each
// at 1280 x 800 (desktop) and 390 x 844 (phone); WRITE_NOWCAST makes the
// forecast of real frames for one of them.
// Skipped (exit 77) without playwright-core or chromium; see
// BrowserSupport.cjs.

const fs = require('fs');
const path = require('path');
const { check, begin, run, servedSite, openPage, settle } = require('./BrowserSupport.cjs');

const kDelayMs = 400;
const kTimeLimitMs = 280000;
// Perth keeps UTC+8 all year, so the local label is known in advance.
const kTimezone = 'Australia/Perth';
const kOffsetMs = 8 * 3600000;
const kDaySlots = 288;
const kScreens = { desktop: { width: 1280, height: 800 }, phone: { width: 390, height: 844 } };

const [vesk, sim, artefacts, writeNowcast] = process.argv.slice(2);
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

// Switches the forecast after the newest frame on or off, as a reader
// clicks it, without keeping the focus (Space would press it again).
async function toggleForecast(view) {
  await view.page.click('#forecast');
  await view.page.evaluate(() => document.activeElement.blur());
  await settle(view);
}

// The forecast after the newest frame, marked as one; the other checks
// play the loop with it switched off.
async function checkForecast(view, status) {
  const count = async () => Number(await view.page.locator('#scrub').getAttribute('max')) + 1;
  const frames = status.frames.length;
  const leads = status.nowcast.frames.map((frame) => frame.file);
  check(await count() === frames && await view.page.locator('#forecast').getAttribute('aria-pressed') === 'false',
    `the forecast switched off leaves ${frames} frames (${await count()})`);
  await toggleForecast(view);
  const newest = await press(view, 'End');
  const next = await press(view, 'ArrowRight');
  const marked = await view.page.evaluate(() => [document.getElementById('view').dataset.forecast,
    document.getElementById('local').textContent, document.getElementById('forecast-note').hidden]);
  check(await count() === frames + leads.length && newest === status.frames[frames - 1].file &&
    next === leads[0] && marked[0] === '5' && marked[1].startsWith('Forecast +5 min, ') && !marked[2],
  `after the newest frame the forecast, marked as one (${newest} ${next} ${marked.join(' | ')})`);
  await toggleForecast(view);
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

const banner = (view) => view.page.evaluate(() => {
  const element = document.getElementById('banner');
  return element.hidden ? null : element.textContent;
});

// The status with its newest frame ageSeconds old by the reader's clock.
function aged(status, ageSeconds, stale, staleAfter) {
  const time = new Date(Date.now() - ageSeconds * 1000).toISOString();
  return { ...status, stale, stale_after_minutes: staleAfter / 60, newest_frame: { ...status.newest_frame, time } };
}

// The age and the banner come from the newest frame's time and the reader's
// clock, so a site whose runs stopped still shows its banner. Ages are 30 s
// past the minute, which the page clock's second does not cross.
async function checkAges(context, base, directory, status) {
  const kRows = [
    // age (s; negative: the frame's time lies ahead), stale flag, StaleAfter (s), label, banner
    [30, false, 1800, 'under a minute old', null],
    [90, false, 1800, '1 minute old', null],
    [-(34 * 60 + 30), false, 1800, 'clock ahead by 34 min', null],
    [47 * 60 + 30, true, 1800, '47 minutes old', 'Radar data is 47 minutes old'],
    [(40 * 60 + 15) * 60 + 30, false, 1800, '40 h 15 min old', 'Radar data is 40 h 15 min old'],
    [(51 * 60) * 60 + 30, false, 0, '2 days 3 h old', null],
    [20 * 60, true, 1800, '20 minutes old', 'Radar data is out of date'],
  ];
  for (const [age, stale, staleAfter, label, wanted] of kRows) {
    await withStatus(context, base, directory, JSON.stringify(aged(status, age, stale, staleAfter)), async (view) => {
      const said = [await text(view, 'age'), await banner(view)];
      check(said[0] === `Newest frame: ${label}` && said[1] === wanted,
        `newest frame ${age} s old, stale ${stale}, StaleAfter ${staleAfter} s: "${said.join('", "')}"`);
      noProblems(view, `age ${age} s`);
    });
  }
}

// What the page shows besides the loop: the station text above the radar
// (what the page finds at its middle is the text, not the canvas), the
// legend, the download link, and announcements only on a pause or a step.
async function checkPage(view, status) {
  const station = await view.page.evaluate(() => {
    const box = document.getElementById('station').getBoundingClientRect();
    const top = document.elementFromPoint(box.x + box.width / 2, box.y + box.height / 2);
    return { text: document.getElementById('station').innerText, above: Boolean(top && top.closest('#station')) };
  });
  check(station.above && station.text.includes(`Temperature: ${status.station.temperature}`) &&
    station.text.includes(`Wind: ${status.station.wind}`) && /Station at \w{3} \d\d:\d\d UTC\+08:00/.test(station.text),
  `the station text and the frame's time lie above the radar (${JSON.stringify(station)})`);
  const legend = await view.page.evaluate(() => [...document.querySelectorAll('#legend li')]
    .map((item) => getComputedStyle(item.firstChild).backgroundColor + ' ' + item.textContent.trim()));
  check(legend.length === 15 && legend[0] === 'rgb(245, 245, 255) light' && legend[14] === 'rgb(40, 0, 0) heavy',
    `the legend shows the simulator's ramp (${legend.join(', ')})`);
  const download = await view.page.locator('#download').getAttribute('href');
  const fetched = await view.page.evaluate(async (address) => (await fetch(address)).headers.get('content-type'), download);
  check(/^loop\.webp\?v=/.test(download) && fetched === 'image/webp', `the download link is loop.webp (${download}, ${fetched})`);
  await view.page.evaluate(() => document.activeElement.blur());
  const said = [];
  for (const step of ['Space', 'tick', 'tick', 'Space', 'ArrowRight']) {
    if (step === 'tick') await advance(view, kDelayMs); else await press(view, step);
    said.push(await text(view, 'announce'));
  }
  check(said[1] === said[0] && said[2] === said[0] &&
    /^Paused, frame \d+ of 7, /.test(said[3]) && said[4] !== said[3],
  `announced on a pause and a step, not on a tick (${said.join(' | ')})`);
}

// A reader who asks for less motion gets the newest frame, paused; one who
// asks for a light scheme gets light colours.
async function checkPreferences(browser, base, files) {
  const context = await browser.newContext({ reducedMotion: 'reduce', colorScheme: 'light', timezoneId: kTimezone });
  const view = await openViewer(context, base);
  const still = [await shown(view), await advance(view, 5 * kDelayMs)];
  const background = await view.page.evaluate(() => getComputedStyle(document.body).backgroundColor);
  check(still[0] === files[files.length - 1] && still[1] === still[0], `reduced motion: the newest frame, paused (${still})`);
  check(background === 'rgb(244, 246, 249)', `light scheme: a light page (${background})`);
  noProblems(view, 'preferences');
  await context.close();
}

// The slot start of n slots before the current one.
function slotTime(n) {
  return Math.floor(Date.now() / 300000) * 300000 - n * 300000;
}

// A status whose 24-hour loop is a whole day of frames without overlays,
// each a copy of one of the ring's frames under its own name.
function dayStatus(directory, status) {
  const archive = [];
  for (let k = 0; k < kDaySlots; ++k) {
    const frame = `Image-XX${String(k).padStart(3, '0')}.png`;
    fs.copyFileSync(path.join(directory, `Image${k % 7}.png`), path.join(directory, frame));
    archive.push({ slot: frame.slice(6, 11), frame, overlay: null, time: new Date(slotTime(kDaySlots - 1 - k)).toISOString() });
  }
  return { ...status, archive };
}

// The label's time is that of the frame on the canvas.
const agrees = (view, times) => view.page.evaluate((times) =>
  times[document.getElementById('view').dataset.frame] === document.getElementById('utc').dateTime, times);

// Plays count frames of the 24-hour loop in order, ticks at a time;
// returns the times the label and the picture disagreed.
async function play(view, count, ticks, tickMs, times) {
  const order = Object.keys(times);
  let at = order.indexOf(await shown(view));
  let disagreed = 0;
  for (let moved = 0, runs = 0; moved < count && runs < 20 * count; ++runs) {
    await view.page.clock.runFor(ticks * tickMs);
    if (!(await agrees(view, times))) ++disagreed;
    const now = order.indexOf(await shown(view));
    if (now === at) await new Promise((resolve) => setTimeout(resolve, 20));
    moved += (now - at + order.length) % order.length;
    at = now;
  }
  return disagreed;
}

// The memory of every chromium process and the page's live nodes (each
// picture held is one), after a garbage collection.
async function memory(browser, view) {
  const cdp = await view.page.context().newCDPSession(view.page);
  await cdp.send('HeapProfiler.collectGarbage');
  const { nodes } = await cdp.send('Memory.getDOMCounters');
  const info = await (await browser.newBrowserCDPSession()).send('SystemInfo.getProcessInfo');
  let bytes = 0;
  for (const process of info.processInfo) {
    const found = /VmRSS:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${process.id}/status`, 'utf8'));
    if (found) bytes += Number(found[1]) * 1024;
  }
  return { bytes, nodes };
}

// A day of frames: the step choice, the memory of two passes at 4x against
// one, and a link of 400 kB/s on which no label runs ahead of its picture.
async function checkDay(browser, base, directory, status) {
  const day = dayStatus(directory, status);
  const times = Object.fromEntries(day.archive.map((slot) => [slot.frame, slot.time]));
  const context = await browser.newContext({ viewport: { width: 640, height: 900 }, timezoneId: kTimezone });
  await withStatus(context, base, directory, JSON.stringify(day), async (view) => {
    await view.page.click('#day');
    const counts = [];
    for (const every of ['15', '60', '0']) {
      await view.page.selectOption('#every', every);
      counts.push(Number(await view.page.locator('#scrub').getAttribute('max')) + 1);
    }
    check(JSON.stringify(counts) === '[96,24,288]', `the 24-hour loop every 15 min, every hour, every frame (${counts})`);
    await view.page.selectOption('#speed', '4');
    await view.page.evaluate(() => document.activeElement.blur());
    await press(view, 'Home');
    await press(view, 'Space');
    const tickMs = kDelayMs / 4;
    const before = await memory(browser, view);
    let disagreed = await play(view, kDaySlots, 6, tickMs, times);
    const first = await memory(browser, view);
    disagreed += await play(view, kDaySlots, 6, tickMs, times);
    const second = await memory(browser, view);
    check(second.bytes <= 1.5 * first.bytes && second.nodes - before.nodes < kDaySlots / 4,
      `two passes of ${kDaySlots} frames take at most 1.5 times the memory of one, holding a few pictures ` +
      `(${Math.round(first.bytes / 1048576)} MB, ${Math.round(second.bytes / 1048576)} MB, ${second.nodes - before.nodes} more nodes)`);
    const cdp = await view.page.context().newCDPSession(view.page);
    await cdp.send('Network.enable');
    await cdp.send('Network.emulateNetworkConditions',
      { offline: false, latency: 50, downloadThroughput: 400 * 1024, uploadThroughput: 400 * 1024 });
    await press(view, 'Home');
    await press(view, 'Space');
    disagreed += await play(view, 20, 1, tickMs, times);
    check(disagreed === 0, `at 4x and on a 400 kB/s link each label is that of the frame shown (${disagreed} ticks disagreed)`);
    noProblems(view, 'a day of frames');
  });
  await context.close();
}

// docs/viewer-*.png for a desktop and a phone: the 24-hour loop just after
// local midnight, the stale banner of a site whose runs stopped 40 hours
// ago, the loop picture, and the viewer over real frames with heavy rain.
async function screenshots(browser, base, directory, status, into) {
  const day = dayStatus(directory, status);
  const midnight = day.archive.findIndex((slot) => (Date.parse(slot.time) + kOffsetMs) % 86400000 === 0);
  const samples = path.join(__dirname, '..', '..', '..', 'shared', 'radar-samples', '2015-05-15');
  const scenes = [
    ['day', JSON.stringify(day), async (view) => {
      await view.page.click('#day');
      await view.page.locator('#scrub').fill(String(midnight));
    }],
    ['stale', JSON.stringify(aged(status, (40 * 60 + 15) * 60, false, 1800)), async () => {}],
    ['webp', null, async (view) => view.page.goto(`${base}/loop.webp`)],
    ['rain', null, async (view) => press(view, 'End')],
    // Three steps after the newest frame: the forecast 15 minutes ahead.
    ['forecast', 'nowcast', async (view) => {
      await press(view, 'End');
      for (let step = 0; step < 3; ++step) await press(view, 'ArrowRight');
    }],
  ];
  for (let [scene, statusText, look] of scenes) {
    if (scene === 'rain') {
      fs.readdirSync(samples).sort().slice(-14, -7)
        .forEach((file, n) => fs.copyFileSync(path.join(samples, file), path.join(directory, `Image${6 - n}.png`)));
    }
    if (statusText === 'nowcast') {
      // The real frames' forecast, as the runs make it, after the newest
      // frame the status names.
      const legend = '#f5f5ff=light,#b4b4ff,#7878ff,#1414ff,#00d8c3,#009690,#006666,#ffff00,' +
        '#ffc800,#ff9600,#ff6400,#ff0000,#c80000,#780000=heavy';
      const made = require('child_process').execFileSync(writeNowcast, [directory, legend], { encoding: 'utf8' });
      const nowcast = JSON.parse(made);
      const issued = status.frames[status.frames.length - 1].time;
      nowcast.issued = issued;
      nowcast.reason = null;
      for (const frame of nowcast.frames) {
        frame.time = new Date(Date.parse(issued) + frame.lead_minutes * 60000).toISOString();
      }
      statusText = JSON.stringify({ ...status, nowcast });
    }
    for (const [screen, viewport] of Object.entries(kScreens)) {
      // The desktop in the dark scheme, the phone in the light one.
      const context = await browser.newContext({ viewport, timezoneId: kTimezone, isMobile: screen === 'phone',
        colorScheme: screen === 'phone' ? 'light' : 'dark' });
      const take = async (view) => {
        await look(view);
        await settle(view);
        await view.page.evaluate(() => window.scrollTo(0, 0));
        await view.page.screenshot({ path: path.join(into, `viewer-${scene}-${screen}.png`) });
      };
      if (statusText) await withStatus(context, base, directory, statusText, take); else await take(await openViewer(context, base));
      await context.close();
    }
  }
}

async function checkBanners(context, base, directory, status) {
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
    small: [...document.querySelectorAll('button, select, input, a')]
      .filter((control) => control.getClientRects().length > 0 && control.getBoundingClientRect().height < 44)
      .map((control) => control.id),
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
    check(status.nowcast && status.nowcast.frames.length === 6, 'the runs left a nowcast of six pictures');
    await toggleForecast(view);
    await checkControls(view, files);
    await checkLoops(view, status);
    await checkTimeLabels(view, status);
    await checkForecast(view, status);
    await checkPage(view, status);
    noProblems(view, 'loop.html');
    await view.page.close();
    await checkAges(context, base, directory, status);
    await checkBanners(context, base, directory, status);
    await checkPreferences(browser, base, files);
    await checkDay(browser, base, directory, status);
    await checkPhone(browser, base);
    if (process.env.VESK_SCREENSHOT_DIR) await screenshots(browser, base, directory, status, process.env.VESK_SCREENSHOT_DIR);
    await browser.close();
  } finally {
    fs.rmSync(directory, { recursive: true, force: true });
  }
}

run(main);
