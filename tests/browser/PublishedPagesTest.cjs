'use strict';
// Both loop pages and loop.webp as a reader gets them: real runs of vesk against the
// simulator write a program directory, the simulator serves it over
// loopback HTTP with the pages' site address pointing at it, and Debian's
// chromium, driven by playwright-core, shows the pages. The page clock is
// paused and stepped, so every animation tick is taken on purpose.
//
//   node PublishedPagesTest.cjs VESK VESK_SIM ARTEFACT_DIR
//
// Skipped (exit 77) without playwright-core or chromium; see
// BrowserSupport.cjs.

const fs = require('fs');
const path = require('path');
const { check, begin, run, servedSite, openPage, settle, dayNow, tagOf } = require('./BrowserSupport.cjs');

const kDelayMs = 500;
// The whole test ends by itself after this, whatever hangs.
const kTimeLimitMs = 240000;
// The transfer a reader's first view and reload may cost.
const kFirstViewBytes = 1.5e6;
const kReloadBytes = 100e3;

const [vesk, sim, artefacts] = process.argv.slice(2);
const { chromium, browserPath } = begin(kTimeLimitMs);

function freshFile(file) {
  try {
    return Date.now() - fs.statSync(file).mtimeMs < 86400000;
  } catch {
    return false;
  }
}

// The shown frame and overlay divs and the picture each one shows.
function shownBoxes(page) {
  return page.evaluate(() => {
    const shown = (prefix) =>
      [...document.querySelectorAll(`div[id^="${prefix}"]`)]
        .filter((div) => /^\d+$/.test(div.id.slice(prefix.length)))
        .filter((div) => getComputedStyle(div).display !== 'none')
        .map((div) => ({ id: div.id, picture: getComputedStyle(div).backgroundImage }));
    return { frames: shown('myDiv').filter((d) => !d.id.startsWith('myDivSES')), overlays: shown('myDivSES') };
  });
}

async function tick(view) {
  await view.page.clock.runFor(kDelayMs);
  await settle(view);
  return shownBoxes(view.page);
}

// Counts, in the overlay's time-stamp cell, the black text pixels of the
// overlay that no echo of the frame covers, and how many of them the screen
// shows dark. All decoding is done by the browser itself.
async function stampCell(view, frameUrl, overlayUrl) {
  const box = await view.page.locator('.container').boundingBox();
  const shot = await view.page.screenshot({ clip: { x: box.x, y: box.y, width: 512, height: 512 } });
  return view.page.evaluate(
    async ({ shot, frameUrl, overlayUrl }) => {
      const pixels = async (source) => {
        const picture = new Image();
        picture.src = source;
        try { await picture.decode(); } catch (e) { throw new Error(`cannot decode ${source.slice(0, 80)}`); }
        const canvas = document.createElement('canvas');
        canvas.width = 512;
        canvas.height = 512;
        const context = canvas.getContext('2d');
        context.drawImage(picture, 0, 0);
        return context.getImageData(50, 418, 120, 14).data;
      };
      const [screen, frame, overlay] = await Promise.all([

        pixels(`data:image/png;base64,${shot}`), pixels(frameUrl), pixels(overlayUrl)]);
      let text = 0;
      let dark = 0;
      for (let i = 0; i < overlay.length; i += 4) {
        const black = overlay[i] + overlay[i + 1] + overlay[i + 2] === 0;
        if (!black || frame[i + 3] !== 0) continue;
        ++text;
        if (screen[i] + screen[i + 1] + screen[i + 2] < 240) ++dark;
      }
      return { text, dark };
    },
    { shot: shot.toString('base64'), frameUrl, overlayUrl });
}

const urlOf = (picture) => (/url\("([^"]+)"\)/.exec(picture) || [])[1];

async function checkThirtyMinutePage(context, base) {
  const view = await openPage(context, `${base}/index.html`);
  await settle(view);
  const shots = [];
  const frames = [];
  for (let n = 0; n < 3; ++n) {
    const shown = await tick(view);
    frames.push(shown.frames.map((d) => d.id).join(','));
    shots.push((await view.page.screenshot()).toString('base64'));
    if (n === 0) {
      fs.writeFileSync(path.join(artefacts, 'index.png'), Buffer.from(shots[0], 'base64'));
      const cell = await stampCell(view, urlOf(shown.frames[0].picture), urlOf(shown.overlays[0].picture));
      check(cell.text >= 20 && cell.dark >= 0.9 * cell.text,
        `30-minute page: the time stamp at 50,418 is legible (${cell.dark} of ${cell.text} uncovered text pixels dark)`);
    }
  }
  check(new Set(shots).size === 3, '30-minute page: the three screenshots differ');

  const layers = await view.page.evaluate(() => ['myDivTopography', 'myDivLocations', 'myDivRange'].map((id) => {
    const style = getComputedStyle(document.getElementById(id));
    return `${style.display} ${style.backgroundImage}`;
  }));
  const hidden = (await view.page.screenshot()).toString('base64');
  await view.page.evaluate(() => {
    for (const id of ['myDivTopography', 'myDivLocations', 'myDivRange']) document.getElementById(id).style.display = 'none';
  });
  const withoutLayers = (await view.page.screenshot()).toString('base64');
  check(layers.every((l) => /^block url\(.*IDR641\.\w+\.png"\)$/.test(l)) && hidden !== withoutLayers,
    `30-minute page: the map layers are shown and visible (${layers.join('; ')})`);

  // The rest of the loop, so that every picture of a first view is loaded:
  // oldest to newest, the newest held for one more tick, then the oldest.
  for (let n = 3; n < 9; ++n) frames.push((await tick(view)).frames.map((d) => d.id).join(','));
  check(frames.join(' ') === 'myDiv6 myDiv5 myDiv4 myDiv3 myDiv2 myDiv1 myDiv0 myDiv0 myDiv6',
    `30-minute page: one frame at a time, oldest to newest, the newest held (${frames.join(' ')})`);
  const firstView = view.transfer.bytes;
  view.transfer.bytes = 0;
  await view.page.reload();
  for (let n = 0; n < 8; ++n) await tick(view);
  const reload = view.transfer.bytes;
  check(firstView <= kFirstViewBytes, `30-minute page: a first view transfers ${firstView} bytes (at most ${kFirstViewBytes})`);
  check(reload <= kReloadBytes, `30-minute page: a reload transfers ${reload} bytes (at most ${kReloadBytes})`);
  check(view.problems.length === 0, `30-minute page: no failed request or console error ${view.problems.join('; ')}`);
  await view.page.close();
}

// The slots the page must show, in its order, each with the tag of its
// overlay or null.
function expectedSlots(directory) {
  const day = dayNow();
  const slots = [];
  // Oldest to newest: from the slot after the current one, around
  // midnight, to the current one.
  for (let k = 1; k <= 288; ++k) {
    const n = (day.slot + k) % 288;
    const tag = tagOf(n, day);
    if (!freshFile(path.join(directory, `Image-${tag}.png`))) continue;
    slots.push({ tag, overlay: freshFile(path.join(directory, `SESOverlay-${tag}.bmp`)) ? tag : null });
  }
  return slots;
}

async function checkDayPage(context, base, directory, expected) {
  const view = await openPage(context, `${base}/index24.html`);
  await settle(view);
  const seen = [];
  const paired = [];
  for (let n = 0; n < expected.length + 2; ++n) {
    const shown = await tick(view);
    if (n === 0) await view.page.screenshot({ path: path.join(artefacts, 'index24.png') });
    const frameTag = (/Image-(\w\w\d{3})\.png/.exec(shown.frames.map((d) => d.picture).join()) || [])[1];
    const overlayTag = (/SESOverlay-(\w\w\d{3})\.bmp/.exec(shown.overlays.map((d) => d.picture).join()) || [])[1] || null;
    seen.push(frameTag);
    paired.push(shown.frames.length === 1 && shown.overlays.length === 1 &&
      expected.some((slot) => slot.tag === frameTag && slot.overlay === overlayTag));
  }
  const want = expected.map((slot) => slot.tag);
  // The tick after the newest keeps it up, then the loop starts again.
  check(JSON.stringify(seen) === JSON.stringify([...want, want[want.length - 1], want[0]]),
    `24-hour page: every shown slot in time order, then the loop restarts (${seen.join(' ')}; expected ${want.join(' ')})`);
  check(paired.every(Boolean), '24-hour page: each tick shows one frame with the overlay of its own slot');
  check(view.problems.length === 0, `24-hour page: no failed request or console error ${view.problems.join('; ')}`);
  await view.page.close();
}

// loop.webp as an <img> shows it: decoded to the frames' size, and a RIFF
// container holding one ANMF chunk per frame of the 30-minute loop.
async function checkLoopPicture(context, base) {
  const page = await context.newPage();
  await page.goto(`${base}/status.json`);
  const seen = await page.evaluate(async (address) => {
    const picture = new Image();
    picture.src = address;
    await picture.decode();
    const response = await fetch(address, { cache: 'no-store' });
    const bytes = new Uint8Array(await response.arrayBuffer());
    const text = (at) => String.fromCharCode(...bytes.subarray(at, at + 4));
    const size = (at) => bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (bytes[at + 3] << 24);
    let frames = 0;
    for (let at = 12; at + 8 <= bytes.length; at += 8 + size(at + 4) + (size(at + 4) % 2)) {
      if (text(at) === 'ANMF') ++frames;
    }
    return { width: picture.naturalWidth, height: picture.naturalHeight, frames,
      riff: text(0) === 'RIFF' && text(8) === 'WEBP', type: response.headers.get('content-type') };
  }, `${base}/loop.webp?foo=${Date.now()}`);
  check(seen.width === 512 && seen.height === 512, `loop.webp decodes to 512x512 (${seen.width}x${seen.height})`);
  check(seen.riff && seen.frames === 7, `loop.webp holds seven ANMF frames (${seen.frames})`);
  check(seen.type === 'image/webp', `loop.webp is served as image/webp (${seen.type})`);
  await page.close();
}

async function main() {
  fs.mkdirSync(artefacts, { recursive: true });
  const { directory, base } = await servedSite(vesk, sim, kDelayMs);
  try {
    const expected = expectedSlots(directory);
    // Four synthetic slots and the runs' own: one slot, or two when the runs
    // straddle the end of a five-minute slot.
    check(expected.length === 5 || expected.length === 6,
      `the archive has the synthetic slots and the runs' own to show (${expected.map((s) => s.tag).join(' ')})`);

    const browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
    const context = await browser.newContext({ viewport: { width: 640, height: 640 } });
    await checkThirtyMinutePage(context, base);
    await checkDayPage(context, base, directory, expected);
    await checkLoopPicture(context, base);
    await browser.close();
  } finally {
    fs.rmSync(directory, { recursive: true, force: true });
  }
}

run(main);
