const kHoldTicks = 3;
// The frames ahead whose pictures are fetched and kept; the rest are let go.
const kAhead = 8;
const kRefreshMs = 300000;
const $ = (id) => document.getElementById(id);
const view = $('view');
const pictures = new Map();
let status = null;
let unreadable = false;
let fetchedAt = 0;
let mode = 'recent';
let index = 0;
let shown = null;
let held = 0;
let playing = !matchMedia('(prefers-reduced-motion: reduce)').matches;
let timer = 0;
// Whether the 30-minute loop goes on into the forecast.
let withForecast = true;

function picture(address) {
  let image = pictures.get(address);
  if (!image) {
    image = new Image();
    image.onload = draw;
    image.onerror = () => { image.failed = true; draw(); };
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
  const run = status && status[kMember.run];
  const version = status && (status[kMember.last_new_frame] || (run && run[kMember.finished]));
  return version ? file + '?v=' + encodeURIComponent(version) : file;
}

// The forecast pictures of the nowcast, each with its lead time in minutes,
// when status.json has one of the newest frame shown and the reader has not
// left it out.
function forecast(frames) {
  const nowcast = status[kMember.nowcast];
  if (!nowcast || !withForecast || !Array.isArray(nowcast[kMember.frames])) return [];
  const newest = frames[frames.length - 1];
  const issued = Date.parse(nowcast[kMember.issued]);
  if (!newest || Number.isNaN(issued) || Date.parse(newest.time) !== issued) return [];
  return nowcast[kMember.frames].map((frame) =>
    ({ frame: frame[kMember.file], overlay: null, time: frame[kMember.time],
      lead: frame[kMember.lead_minutes] }));
}

// A loop, the one shown unless named, oldest first: each entry's frame,
// overlay and time; the 30-minute loop goes on into the forecast.
function loop(which = mode) {
  if (!status) return [];
  if (which === 'recent') {
    const frames = (Array.isArray(status[kMember.frames]) ? status[kMember.frames] : []).map((frame) =>
      ({ frame: frame[kMember.file], overlay: frame[kMember.overlay] || null,
        time: frame[kMember.time] }));
    return frames.concat(forecast(frames));
  }
  const day = (Array.isArray(status[kMember.archive]) ? status[kMember.archive] : []).map((slot) =>
    ({ frame: slot[kMember.frame], overlay: slot[kMember.overlay] || null,
      time: slot[kMember.time] }));
  return thinned(day, Number($('every').value) * 60000);
}

// Of the 24-hour loop, the newest entry and each one at least step before
// the one kept after it, so that a day plays in fewer ticks.
function thinned(entries, step) {
  if (!step) return entries;
  const kept = [];
  let after = Infinity;
  for (let n = entries.length - 1; n >= 0; --n) {
    const time = Date.parse(entries[n].time);
    if (Number.isNaN(time) || time <= after - step) {
      kept.unshift(entries[n]);
      if (!Number.isNaN(time)) after = time;
    }
  }
  return kept;
}

// The pictures of an entry, bottom first.
function stack(entry) {
  return [kLayers[0], versioned(entry.overlay), ...kLayers.slice(1), versioned(entry.frame)]
    .filter(Boolean);
}

function settled(image) {
  return image.failed || (image.complete && image.naturalWidth > 0);
}

function arrived(entry) {
  return Boolean(entry) && stack(entry).every((address) => settled(picture(address)));
}

// Keeps the pictures of the wanted entry and the kAhead after it, fetching
// those not yet asked for, and lets every other one go.
function keepAhead() {
  const entries = loop();
  const keep = new Set();
  for (let k = 0; k <= kAhead && k < entries.length; ++k) {
    for (const address of stack(entries[(index + k) % entries.length])) keep.add(address);
  }
  for (const [address, image] of pictures) {
    if (!keep.has(address)) {
      image.onload = image.onerror = null;
      pictures.delete(address);
    }
  }
  for (const address of keep) picture(address);
}

// Draws the wanted entry once all its pictures are there; until then the
// canvas and its labels keep the entry before.
function draw() {
  const entry = loop()[index];
  if (!arrived(entry)) return;
  const images = stack(entry).map(picture).filter((image) => !image.failed);
  const frame = picture(versioned(entry.frame));
  if (frame.failed) return;
  if (view.width !== frame.naturalWidth || view.height !== frame.naturalHeight) {
    view.width = frame.naturalWidth;
    view.height = frame.naturalHeight;
  }
  const context = view.getContext('2d');
  context.clearRect(0, 0, view.width, view.height);
  for (const image of images) context.drawImage(image, 0, 0);
  view.dataset.frame = entry.frame;
  if (entry.lead) view.dataset.forecast = String(entry.lead); else delete view.dataset.forecast;
  shown = entry;
  showLabels();
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

const kDays = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
// "Wed 07:05 UTC+08:00", as the overlay writes its time, with the zone.
function dayTime(text) {
  const date = text ? new Date(text) : null;
  if (!date || Number.isNaN(date.getTime())) return null;
  return kDays[date.getDay()] + ' ' + pad(date.getHours()) + ':' + pad(date.getMinutes()) + ' ' + offset(date);
}

function localTime(text) {
  const date = text ? new Date(text) : null;
  return date && !Number.isNaN(date.getTime()) ? stamp(date, false) + ' ' + offset(date) : null;
}

// "1 minute", "40 h 15 min", "2 days 3 h"; short gives "34 min" under an hour.
function duration(seconds, short) {
  const minutes = Math.floor(seconds / 60);
  if (minutes < 60) return minutes + (short ? ' min' : minutes === 1 ? ' minute' : ' minutes');
  const hours = Math.floor(minutes / 60);
  if (hours < 48) return hours + ' h ' + (minutes % 60) + ' min';
  return Math.floor(hours / 24) + ' days ' + (hours % 24) + ' h';
}

// How old the newest frame is by the reader's clock: from the time its name
// gives, else its age when the run ended plus the time since; negative when
// the frame's time lies ahead.
function ageSeconds() {
  const newest = status && status[kMember.newest_frame];
  if (!newest) return null;
  const time = Date.parse(newest[kMember.time]);
  if (!Number.isNaN(time)) return (Date.now() - time) / 1000;
  if (typeof newest[kMember.age_seconds] !== 'number') return null;
  const run = status[kMember.run];
  const finished = Date.parse(run && run[kMember.finished]);
  const since = Number.isNaN(finished) ? (Date.now() - fetchedAt) / 1000 : (Date.now() - finished) / 1000;
  return newest[kMember.age_seconds] + Math.max(0, since);
}

function describeAge(seconds) {
  if (seconds === null) return 'Newest frame: age unknown';
  if (seconds <= -60) return 'Newest frame: clock ahead by ' + duration(-seconds, true);
  if (seconds < 60) return 'Newest frame: under a minute old';
  return 'Newest frame: ' + duration(seconds) + ' old';
}

function showLabels() {
  const date = shown && shown.time ? new Date(shown.time) : null;
  const known = date && !Number.isNaN(date.getTime());
  // A forecast is marked as one wherever its time is given.
  const marked = shown && shown.lead ? 'Forecast +' + shown.lead + ' min, ' : '';
  for (const [id, utc] of [['local', false], ['utc', true]]) {
    const label = $(id);
    label.textContent = (utc ? '' : marked) +
      (known ? stamp(date, utc) + (utc ? '' : ' ' + offset(date)) : 'unknown');
    if (known) label.dateTime = date.toISOString(); else label.removeAttribute('datetime');
  }
  $('age').textContent = status ? describeAge(ageSeconds()) : '';
  const text = marked + (known ? stamp(date, false) + ' ' + offset(date) : 'time unknown');
  $('frame-time').textContent = marked + ((shown && dayTime(shown.time)) || 'time unknown');
  const station = status && status[kMember.station];
  $('station').hidden = !shown;
  $('temperature').textContent = station ? 'Temperature: ' + station[kMember.temperature] : '';
  $('wind').textContent = station ? 'Wind: ' + station[kMember.wind] : '';
  const updated = station && dayTime(station[kMember.updated]);
  $('updated').textContent = updated ? 'Station at ' + updated : '';
  const entries = loop();
  const at = entries.findIndex((entry) => shown && entry.frame === shown.frame && entry.time === shown.time);
  view.setAttribute('aria-label', 'Radar frame ' + (at + 1) + ' of ' + entries.length + ', ' + text);
}

function showBanner() {
  const banner = $('banner');
  const age = ageSeconds();
  const limit = status && status[kMember.stale_after_minutes] * 60;
  const late = age !== null && limit > 0 && age > limit;
  if (unreadable) {
    banner.textContent = 'Radar status unavailable';
  } else if (late || (status && status[kMember.stale] === true)) {
    banner.textContent = late ? 'Radar data is ' + duration(age) + ' old' : 'Radar data is out of date';
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
  const entry = entries[index];
  scrub.setAttribute('aria-valuetext', (entry && localTime(entry.time)) || 'time unknown');
  const none = entries.length === 0;
  view.hidden = none;
  scrub.disabled = none;
  for (const id of ['back', 'play', 'forward']) $(id).disabled = none;
  $('empty').hidden = !none;
  const waiting = unreadable ? 'The radar loop cannot be shown now.' : 'Loading the radar loop\u2026';
  $('empty').textContent = !status ? waiting : mode === 'recent'
    ? 'No radar frames yet. The loop appears after the first runs.'
    : 'No archived frames of the last 24 hours yet.';
  const counts = status ?
    [(status[kMember.frames] || []).length, (status[kMember.archive] || []).length] : [0, 0];
  $('recent').textContent = '30 minutes (' + counts[0] + ')';
  $('day').textContent = '24 hours (' + counts[1] + ')';
  $('recent').setAttribute('aria-pressed', String(mode === 'recent'));
  $('day').setAttribute('aria-pressed', String(mode === 'day'));
  $('every-box').hidden = mode !== 'day';
  $('forecast').hidden = mode !== 'recent';
  $('forecast').setAttribute('aria-pressed', String(withForecast));
  showForecastNote(entries);
  $('play').innerHTML = playing ? '&#10074;&#10074;' : '&#9654;';
  $('play').setAttribute('aria-label', playing ? 'Pause' : 'Play');
  $('download').href = versioned('@LOOP_PICTURE@');
  if (none) {
    shown = null;
    $('station').hidden = true;
  } else {
    keepAhead();
    draw();
  }
  showLabels();
  showBanner();
}

// Under the legend: that forecast frames are an extrapolation, or why the
// newest frame has no forecast.
function showForecastNote(entries) {
  const note = $('forecast-note');
  const nowcast = mode === 'recent' && status && status[kMember.nowcast];
  const reason = nowcast && nowcast[kMember.reason];
  if (entries.some((entry) => entry.lead)) {
    note.textContent = 'Frames marked \u201cForecast\u201d carry the newest echoes along their ' +
      'recent motion (an extrapolation, not a measurement).';
  } else if (reason) {
    note.textContent = 'No forecast: ' + reason;
  } else {
    note.hidden = true;
    return;
  }
  note.hidden = false;
}

// Said to screen readers on a pause or a step only, not on every tick.
function announce() {
  const entries = loop();
  const entry = entries[index];
  $('announce').textContent = 'Paused' + (entry ? ', frame ' + (index + 1) +
    ' of ' + entries.length + ', ' + (entry.lead ? 'forecast +' + entry.lead + ' min, ' : '') +
    (localTime(entry.time) || 'time unknown') : '');
}

// The index of the newest observed frame: a forecast comes after it.
function newest() {
  const entries = loop();
  let at = entries.length - 1;
  while (at > 0 && entries[at].lead) --at;
  return at;
}

function schedule() {
  clearTimeout(timer);
  if (playing) timer = setTimeout(tick, kDelay / Number($('speed').value));
}

// One animation step: the next frame once its pictures are there, except
// that the newest stays for kHoldTicks ticks before the loop starts over.
function tick() {
  const entries = loop();
  if (entries.length > 0 && arrived(entries[index]) && !(index === entries.length - 1 && ++held < kHoldTicks)) {
    const next = (index + 1) % entries.length;
    if (arrived(entries[next])) {
      held = 0;
      index = next;
      show();
    }
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
  announce();
}

function setPlaying(on) {
  playing = on;
  held = 0;
  schedule();
  show();
  if (!on) announce();
}

async function load() {
  try {
    const response = await fetch('@STATUS_FILE@', { cache: 'no-store' });
    if (!response.ok) throw new Error('HTTP ' + response.status);
    const next = await response.json();
    if (!next || typeof next !== 'object') throw new Error('no status');
    const first = !status;
    status = next;
    unreadable = false;
    fetchedAt = Date.now();
    // Without animation the reader sees the newest frame first.
    if (first && !playing) index = newest();
  } catch (error) {
    unreadable = true;
  }
  show();
}

for (const [colour, label] of kLegend) {
  const item = document.createElement('li');
  const swatch = document.createElement('i');
  swatch.style.background = colour;
  item.append(swatch, label || '\u00a0');
  $('legend').append(item);
}
$('play').addEventListener('click', () => setPlaying(!playing));
$('back').addEventListener('click', () => go(index - 1));
$('forward').addEventListener('click', () => go(index + 1));
$('speed').addEventListener('change', schedule);
$('scrub').addEventListener('input', () => go(Number($('scrub').value)));
$('every').addEventListener('change', () => {
  // The thinner or fuller loop goes on from the time shown.
  const from = Date.parse(shown && shown.time);
  const entries = loop();
  const at = entries.findIndex((entry) => Date.parse(entry.time) >= from);
  index = at < 0 ? entries.length - 1 : at;
  held = 0;
  show();
});
$('forecast').addEventListener('click', () => {
  withForecast = !withForecast;
  held = 0;
  show();
});
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
  // The slider and the lists handle their own keys, and a focused button
  // or link takes Space and Enter as a press.
  if (tag === 'INPUT' || tag === 'SELECT' || event.altKey || event.ctrlKey || event.metaKey) return;
  if ((tag === 'BUTTON' || tag === 'A') && (event.key === ' ' || event.key === 'Enter')) return;
  const keys = {
    ' ': () => setPlaying(!playing),
    ArrowLeft: () => go(index - 1),
    ArrowRight: () => go(index + 1),
    Home: () => go(0),
    End: () => go(newest()),
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
