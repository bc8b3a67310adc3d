#include <string_view>

#include "refresh/ViewerPage.h"

namespace refresh {

// The page reads status.json beside it and draws each picture of the loop
// onto one canvas at its natural size from the top-left corner, in the
// order of the loop pages' boxes: the background map, the overlay, the
// topography, locations and range layers, and the radar frame on top.
// Every address is relative to the page, so it works under any site address.
const std::string_view kViewerPageTemplate = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>VESK radar loop</title>
<style>
*{box-sizing:border-box}
body{margin:0;font:16px/1.4 system-ui,sans-serif;background:#10151c;color:#e8edf2}
main{max-width:640px;margin:0 auto;padding:8px}
h1{font-size:1.1rem;margin:0 0 8px}
#banner{margin:0 0 8px;padding:8px 10px;border-radius:6px;background:#b3261e;color:#fff;font-weight:600}
#picture{position:relative;width:100%;background:#1d2530;border-radius:6px;overflow:hidden}
#view{display:block;width:100%;height:auto}
#empty{margin:0;padding:48px 16px;text-align:center}
#labels{display:flex;flex-wrap:wrap;gap:2px 16px;margin:6px 0;font-size:.9rem;color:#c4ccd6}
#controls,#modes{display:flex;flex-wrap:wrap;gap:6px;align-items:center;margin:6px 0}
button,select{min-height:44px;min-width:44px;font:inherit;color:#e8edf2;background:#2a3442;border:1px solid #4a5668;border-radius:6px;padding:4px 10px}
button[aria-pressed="true"]{background:#2f6fb5;border-color:#5b9be0}
button:focus-visible,select:focus-visible,input:focus-visible{outline:3px solid #ffcc4d;outline-offset:2px}
#scrub{width:100%;height:44px;margin:0}
label{display:flex;gap:6px;align-items:center}
[hidden]{display:none!important}
</style>
</head>
<body>
<main>
<h1>Radar loop</h1>
<p id="banner" role="alert" hidden></p>
<div id="picture">
<canvas id="view" width="512" height="512" role="img" aria-label="Radar frame"></canvas>
<p id="empty" hidden></p>
</div>
<div id="labels" aria-live="polite">
<span>Local: <time id="local"></time></span>
<span>UTC: <time id="utc"></time></span>
<span id="age"></span>
</div>
<input id="scrub" type="range" min="0" max="0" value="0" step="1" aria-label="Frame of the loop">
<div id="controls">
<button id="back" type="button" aria-label="Step back">&#9664;&#9664;</button>
<button id="play" type="button" aria-label="Pause">&#10074;&#10074;</button>
<button id="forward" type="button" aria-label="Step forward">&#9654;&#9654;</button>
<label>Speed <select id="speed" aria-label="Speed">
<option value="0.5">0.5&times;</option>
<option value="1" selected>1&times;</option>
<option value="1.5">1.5&times;</option>
<option value="2">2&times;</option>
<option value="3">3&times;</option>
<option value="4">4&times;</option>
</select></label>
</div>
<div id="modes" role="group" aria-label="Loop length">
<button id="recent" type="button" aria-pressed="true">30 minutes</button>
<button id="day" type="button" aria-pressed="false">24 hours</button>
</div>
</main>
<script>
'use strict';
// The run's HTML delay; a delay below 20 ms would spin the browser.
const kDelay = Math.max(20, @HTML_DELAY@);
const kLayers = @MAP_LAYERS@;
const kHoldTicks = 3;
const kRefreshMs = 300000;
const $ = (id) => document.getElementById(id);
const view = $('view');
const pictures = new Map();
let status = null;
let unreadable = false;
let fetchedAt = 0;
let mode = 'recent';
let index = 0;
let held = 0;
let playing = true;
let timer = 0;

// A picture by address, loaded once; the canvas is drawn again when it
// arrives.
function picture(address) {
  if (!address) return null;
  let image = pictures.get(address);
  if (!image) {
    image = new Image();
    image.onload = draw;
    image.onerror = () => { image.failed = true; };
    image.src = address;
    pictures.set(address, image);
  }
  return image;
}

// A run with a new frame replaces the frames under the same names, so
// their addresses carry the time of the last new frame, and a run without
// one costs the reader no download.
function versioned(file) {
  if (!file) return null;
  const version = status && (status.last_new_frame || (status.run && status.run.finished));
  return version ? file + '?v=' + encodeURIComponent(version) : file;
}

// A loop, the one shown unless named, oldest first: each entry's frame,
// overlay and time.
function loop(which = mode) {
  if (!status) return [];
  if (which === 'recent') {
    return (Array.isArray(status.frames) ? status.frames : []).map((frame) => {
      const ring = /^Image(\d)\.png$/.exec(frame.file || '');
      return { frame: frame.file, overlay: ring ? 'SESOverlay' + ring[1] + '.bmp' : null, time: frame.time };
    });
  }
  return (Array.isArray(status.archive) ? status.archive : []).map((slot) =>
    ({ frame: slot.frame, overlay: slot.overlay || null, time: slot.time }));
}

function ready(image) {
  return image && image.complete && !image.failed && image.naturalWidth > 0;
}

function draw() {
  const entries = loop();
  const entry = entries[index];
  if (!entry) return;
  const frame = picture(versioned(entry.frame));
  const stack = [picture(kLayers[0]), picture(versioned(entry.overlay)),
    ...kLayers.slice(1).map(picture), frame];
  const next = entries[(index + 1) % entries.length];
  picture(versioned(next.frame));
  picture(versioned(next.overlay));
  // Until its frame has arrived the canvas keeps the picture before.
  if (!ready(frame)) return;
  if (view.width !== frame.naturalWidth || view.height !== frame.naturalHeight) {
    view.width = frame.naturalWidth;
    view.height = frame.naturalHeight;
  }
  const context = view.getContext('2d');
  context.clearRect(0, 0, view.width, view.height);
  for (const image of stack) if (ready(image)) context.drawImage(image, 0, 0);
  view.dataset.frame = entry.frame;
}

// Forgets the pictures the new status no longer names, so that a page left
// open for days holds only the current loops.
function prune() {
  const keep = new Set(kLayers);
  for (const which of ['recent', 'day']) {
    for (const entry of loop(which)) {
      keep.add(versioned(entry.frame));
      keep.add(versioned(entry.overlay));
    }
  }
  for (const address of pictures.keys()) if (!keep.has(address)) pictures.delete(address);
}

const pad = (n) => String(n).padStart(2, '0');
// "2026-12-09 12:40" of a date's fields; utc chooses the UTC ones.
function stamp(date, utc) {
  const get = (field) => date[(utc ? 'getUTC' : 'get') + field]();
  return get('FullYear') + '-' + pad(get('Month') + 1) + '-' + pad(get('Date')) + ' ' +
    pad(get('Hours')) + ':' + pad(get('Minutes'));
}

function offset(date) {
  const minutes = -date.getTimezoneOffset();
  const size = Math.abs(minutes);
  return 'UTC' + (minutes < 0 ? '-' : '+') + pad(Math.floor(size / 60)) + ':' + pad(size % 60);
}

// How old the newest frame is now: its age when the run ended, plus the
// time since.
function ageSeconds() {
  const newest = status && status.newest_frame;
  if (!newest || typeof newest.age_seconds !== 'number') return null;
  const finished = Date.parse(status.run && status.run.finished);
  const since = Number.isNaN(finished) ? (Date.now() - fetchedAt) / 1000 : (Date.now() - finished) / 1000;
  return newest.age_seconds + Math.max(0, since);
}

function describeAge(seconds) {
  if (seconds === null) return 'Newest frame: age unknown';
  const minutes = Math.floor(seconds / 60);
  if (minutes < 1) return 'Newest frame: under a minute old';
  return 'Newest frame: ' + minutes + (minutes === 1 ? ' minute' : ' minutes') + ' old';
}

function showLabels() {
  const entry = loop()[index];
  const date = entry && entry.time ? new Date(entry.time) : null;
  const known = date && !Number.isNaN(date.getTime());
  for (const [id, utc] of [['local', false], ['utc', true]]) {
    const label = $(id);
    label.textContent = known ? stamp(date, utc) + (utc ? '' : ' ' + offset(date)) : 'unknown';
    if (known) label.dateTime = date.toISOString(); else label.removeAttribute('datetime');
  }
  $('age').textContent = status ? describeAge(ageSeconds()) : '';
  const text = known ? stamp(date, false) + ' ' + offset(date) : 'time unknown';
  $('scrub').setAttribute('aria-valuetext', text);
  view.setAttribute('aria-label', 'Radar frame ' + (index + 1) + ' of ' + loop().length + ', ' + text);
}

function showBanner() {
  const banner = $('banner');
  const age = ageSeconds();
  if (unreadable) {
    banner.textContent = 'Radar status unavailable';
  } else if (status && status.stale === true) {
    banner.textContent = age === null ? 'Radar data is out of date'
      : 'Radar data is ' + Math.floor(age / 60) + ' minutes old';
  } else {
    banner.hidden = true;
    return;
  }
  banner.hidden = false;
}

function show() {
  const entries = loop();
  if (index >= entries.length) index = Math.max(0, entries.length - 1);
  const scrub = $('scrub');
  scrub.max = String(Math.max(0, entries.length - 1));
  scrub.value = String(index);
  const none = entries.length === 0;
  view.hidden = none;
  scrub.disabled = none;
  for (const id of ['back', 'play', 'forward']) $(id).disabled = none;
  $('empty').hidden = !none;
  const waiting = unreadable ? 'The radar loop cannot be shown now.' : 'Loading the radar loop\u2026';
  $('empty').textContent = !status ? waiting : mode === 'recent'
    ? 'No radar frames yet. The loop appears after the first runs.'
    : 'No archived frames of the last 24 hours yet.';
  const counts = status ? [(status.frames || []).length, (status.archive || []).length] : [0, 0];
  $('recent').textContent = '30 minutes (' + counts[0] + ')';
  $('day').textContent = '24 hours (' + counts[1] + ')';
  $('recent').setAttribute('aria-pressed', String(mode === 'recent'));
  $('day').setAttribute('aria-pressed', String(mode === 'day'));
  $('play').innerHTML = playing ? '&#10074;&#10074;' : '&#9654;';
  $('play').setAttribute('aria-label', playing ? 'Pause' : 'Play');
  showLabels();
  showBanner();
  if (!none) draw();
}

function schedule() {
  clearTimeout(timer);
  if (playing) timer = setTimeout(tick, kDelay / Number($('speed').value));
}

// One animation step: the next frame, except that the newest stays for
// kHoldTicks ticks before the loop starts over.
function tick() {
  const count = loop().length;
  if (count > 0) {
    if (index === count - 1 && ++held < kHoldTicks) {
      schedule();
      return;
    }
    held = 0;
    index = (index + 1) % count;
    show();
  }
  schedule();
}

function go(to) {
  const count = loop().length;
  if (count === 0) return;
  index = ((to % count) + count) % count;
  held = 0;
  playing = false;
  schedule();
  show();
}

function setPlaying(on) {
  playing = on;
  held = 0;
  schedule();
  show();
}

async function load() {
  try {
    const response = await fetch('status.json', { cache: 'no-store' });
    if (!response.ok) throw new Error('HTTP ' + response.status);
    const next = await response.json();
    if (!next || typeof next !== 'object') throw new Error('no status');
    status = next;
    unreadable = false;
    fetchedAt = Date.now();
    prune();
  } catch (error) {
    unreadable = true;
  }
  show();
}

$('play').addEventListener('click', () => setPlaying(!playing));
$('back').addEventListener('click', () => go(index - 1));
$('forward').addEventListener('click', () => go(index + 1));
$('speed').addEventListener('change', schedule);
$('scrub').addEventListener('input', () => go(Number($('scrub').value)));
for (const [id, which] of [['recent', 'recent'], ['day', 'day']]) {
  $(id).addEventListener('click', () => {
    if (mode === which) return;
    mode = which;
    index = 0;
    held = 0;
    show();
  });
}
document.addEventListener('keydown', (event) => {
  const tag = event.target.tagName;
  // The slider and the speed list handle their own keys, and a focused
  // button takes Space and Enter as a press.
  if (tag === 'INPUT' || tag === 'SELECT' || event.altKey || event.ctrlKey || event.metaKey) return;
  if (tag === 'BUTTON' && (event.key === ' ' || event.key === 'Enter')) return;
  const keys = {
    ' ': () => setPlaying(!playing),
    ArrowLeft: () => go(index - 1),
    ArrowRight: () => go(index + 1),
    Home: () => go(0),
    End: () => go(loop().length - 1),
  };
  const action = keys[event.key];
  if (!action) return;
  event.preventDefault();
  action();
});
setInterval(load, kRefreshMs);
setInterval(() => { showLabels(); showBanner(); }, 30000);
show();
load().then(schedule);
</script>
</body>
</html>
)html";

}  // namespace refresh
