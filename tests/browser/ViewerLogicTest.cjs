'use strict';
// The viewer script's decisions without a browser: the script runs in a
// context of its own over a page of inert elements, and the tests set its
// state and call its functions as the page's events would.
//
// Usage: node --test ViewerLogicTest.cjs, with VESK_VIEWER_SCRIPT naming viewer.js.

const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const test = require('node:test');
const vm = require('node:vm');

// A zone with a negative half-hour offset shows both the sign and the minutes.
process.env.TZ = 'America/St_Johns';

const kScript = process.env.VESK_VIEWER_SCRIPT ||
  path.join(__dirname, '..', '..', 'src', 'site', 'viewer', 'viewer.js');
const kNow = Date.parse('2026-12-09T12:00:00Z');
// The file names the page writer fills in, as the program publishes them.
const kNames = {
  STATUS_FILE: 'status.json', LOOP_PICTURE: 'loop.webp',
};

function Script() {
  return fs.readFileSync(kScript, 'utf8').replace(/@([A-Z_]+)@/g, (placeholder, name) => {
    assert.ok(name in kNames, `the test knows the placeholder ${placeholder}`);
    return kNames[name];
  });
}

class Element {
  constructor() {
    Object.assign(this, { dataset: {}, style: {}, attributes: {}, value: '0', hidden: false, textContent: '' });
  }
  setAttribute(name, value) { this.attributes[name] = String(value); }
  removeAttribute(name) { delete this.attributes[name]; }
  addEventListener() {}
  append() {}
  getContext() { return { clearRect() {}, drawImage() {} }; }
}

// Pictures arrive at once unless their address is listed in pending.
function Viewer() {
  const elements = new Map();
  const pending = new Set();
  class Image {
    set src(address) {
      this.address = address;
      this.complete = !pending.has(address.split('?')[0]);
      this.naturalWidth = this.complete ? 512 : 0;
      this.naturalHeight = this.naturalWidth;
    }
  }
  const context = vm.createContext({
    document: {
      getElementById: (id) => elements.get(id) || elements.set(id, new Element()).get(id),
      createElement: () => new Element(),
      addEventListener() {},
    },
    matchMedia: () => ({ matches: true }),
    fetch: () => new Promise(() => {}),
    setTimeout: () => 0,
    clearTimeout() {},
    setInterval() {},
    Image,
  });
  vm.runInContext(`Date.now = () => ${kNow};\nconst kDelay = 500;\n` +
    "const kLayers = ['P.background.png', 'P.range.png'];\nconst kLegend = [];\n" +
    // The page names each member the script reads by its name in the
    // document; the fixtures below spell the document's names.
    'const kMember = new Proxy({}, { get: (_, name) => name });\n', context);
  vm.runInContext(Script(), context, { filename: kScript });
  const run = (code) => vm.runInContext(code, context);
  return {
    run,
    // A value of the script's own realm, as plain data of this one.
    data: (code) => JSON.parse(run(`JSON.stringify(${code})`)),
    element: (id) => context.document.getElementById(id),
    pending,
    setStatus: (status) => run(`status = ${JSON.stringify(status)}; unreadable = false; fetchedAt = Date.now();`),
  };
}

const minutesAgo = (minutes) => new Date(kNow - minutes * 60000).toISOString();

test('durations and ages are worded by their size', () => {
  const viewer = Viewer();
  const rows = [
    ['duration(60)', '1 minute'], ['duration(119)', '1 minute'], ['duration(120)', '2 minutes'],
    ['duration(2040, true)', '34 min'], ['duration(3600)', '1 h 0 min'],
    ['duration(144900)', '40 h 15 min'], ['duration(172799)', '47 h 59 min'],
    ['duration(172800)', '2 days 0 h'], ['duration(183600)', '2 days 3 h'],
    ['describeAge(null)', 'Newest frame: age unknown'],
    ['describeAge(-60)', 'Newest frame: clock ahead by 1 min'],
    ['describeAge(-59)', 'Newest frame: under a minute old'],
    ['describeAge(59)', 'Newest frame: under a minute old'],
    ['describeAge(60)', 'Newest frame: 1 minute old'],
  ];
  for (const [call, expected] of rows) assert.strictEqual(viewer.run(call), expected, call);
});

test('the 30-minute loop shows each frame with the overlay status.json pairs it with', () => {
  const viewer = Viewer();
  assert.deepStrictEqual(viewer.data('loop()'), [], 'no status yet');
  viewer.setStatus({ frames: [{ file: 'Image4.png', overlay: 'SESOverlay4.bmp', time: minutesAgo(10) }, { file: 'Image-MO150.png', time: minutesAgo(5) }, {}] });
  assert.deepStrictEqual(viewer.data('loop()'), [
    { frame: 'Image4.png', overlay: 'SESOverlay4.bmp', time: minutesAgo(10) },
    { frame: 'Image-MO150.png', overlay: null, time: minutesAgo(5) },
    { frame: undefined, overlay: null, time: undefined },
  ].map((entry) => JSON.parse(JSON.stringify(entry))));
  viewer.setStatus({ frames: 'none', archive: [{ frame: 'Image-WE1140.png', time: minutesAgo(30) }] });
  assert.deepStrictEqual(viewer.run('loop().length'), 0, 'frames that are not a list');
  assert.strictEqual(viewer.run("loop('day')[0].overlay"), null, 'an archived slot without overlay');
});

test('the 24-hour loop thins to the newest and one frame per step before it', () => {
  const viewer = Viewer();
  const entries = [50, 45, 40, 35, 30, 20, 14, 'bad', 5, 0].map((minutes) =>
    ({ time: typeof minutes === 'number' ? minutesAgo(minutes) : minutes, name: minutes }));
  const kept = (step) => viewer.data(`thinned(${JSON.stringify(entries)}, ${step})`).map((entry) => entry.name);
  assert.deepStrictEqual(kept(0), entries.map((entry) => entry.name), 'every frame');
  assert.deepStrictEqual(kept(15 * 60000), [50, 35, 20, 'bad', 0], 'an unreadable time is kept and skipped');
  assert.deepStrictEqual(kept(60 * 60000), ['bad', 0], 'an hour of frames keeps the newest');
});

test('the newest frame is held for three ticks, and a frame waits for its pictures', () => {
  const viewer = Viewer();
  viewer.setStatus({ frames: [0, 1, 2].map((n) => ({ file: `Image${n}.png`, time: minutesAgo(20 - n * 10) })) });
  viewer.run('index = 0; held = 0;');
  const indexes = [];
  for (let n = 0; n < 5; ++n) indexes.push(viewer.run('tick(); index'));
  assert.deepStrictEqual(indexes, [1, 2, 2, 2, 0]);
  viewer.pending.add('Image1.png');
  viewer.run('pictures.clear();');
  assert.strictEqual(viewer.run('tick(); tick(); index'), 0, 'the next frame has not arrived');
  viewer.pending.clear();
  viewer.run('pictures.clear();');
  assert.strictEqual(viewer.run('tick(); index'), 1, 'it has now');
});

test('the stale banner shows an unreadable status, a late frame or a stale run', () => {
  const rows = [
    ['fresh', { newest_frame: { time: minutesAgo(5) }, stale_after_minutes: 60 }, null],
    ['late', { newest_frame: { time: minutesAgo(125) }, stale_after_minutes: 60 }, 'Radar data is 2 h 5 min old'],
    ['at the limit', { newest_frame: { time: minutesAgo(60) }, stale_after_minutes: 60 }, null],
    ['no limit', { newest_frame: { time: minutesAgo(600) }, stale_after_minutes: 0 }, null],
    ['stale run', { newest_frame: { time: minutesAgo(5) }, stale_after_minutes: 60, stale: true },
      'Radar data is out of date'],
    ['age at the run\'s end plus the time since',
      { newest_frame: { age_seconds: 3000 }, run: { finished: minutesAgo(20) }, stale_after_minutes: 60 },
      'Radar data is 1 h 10 min old'],
  ];
  for (const [what, status, text] of rows) {
    const viewer = Viewer();
    viewer.setStatus(status);
    viewer.run('showBanner()');
    assert.strictEqual(viewer.element('banner').hidden, text === null, what);
    if (text !== null) assert.strictEqual(viewer.element('banner').textContent, text, what);
  }
  const viewer = Viewer();
  viewer.run('unreadable = true; showBanner()');
  assert.strictEqual(viewer.element('banner').textContent, 'Radar status unavailable');
});

test('time labels give the local and UTC time with the zone', () => {
  const viewer = Viewer();
  const time = JSON.stringify('2026-12-10T01:05:00Z');
  assert.strictEqual(viewer.run(`dayTime(${time})`), 'Wed 21:35 UTC-03:30');
  assert.strictEqual(viewer.run(`localTime(${time})`), '2026-12-09 21:35 UTC-03:30');
  assert.strictEqual(viewer.run(`stamp(new Date(${time}), true)`), '2026-12-10 01:05');
  for (const bad of ['""', '"soon"', 'undefined']) {
    assert.strictEqual(viewer.run(`dayTime(${bad})`), null, bad);
    assert.strictEqual(viewer.run(`localTime(${bad})`), null, bad);
  }
  viewer.setStatus({ frames: [{ file: 'Image0.png', time: '2026-12-10T01:05:00Z' }] });
  viewer.run('index = 0; show();');
  assert.strictEqual(viewer.element('utc').textContent, '2026-12-10 01:05');
  assert.strictEqual(viewer.element('local').textContent, '2026-12-09 21:35 UTC-03:30');
  assert.strictEqual(viewer.element('frame-time').textContent, 'Wed 21:35 UTC-03:30');
  assert.strictEqual(viewer.element('view').attributes['aria-label'], 'Radar frame 1 of 1, 2026-12-09 21:35 UTC-03:30');
});

test('the 30-minute loop goes on into the nowcast of its newest frame, marked as a forecast', () => {
  const viewer = Viewer();
  const frames = [{ file: 'Image1.png', time: minutesAgo(10) }, { file: 'Image0.png', time: minutesAgo(5) }];
  const nowcast = (issued) => ({ issued, reason: null, frames: [5, 10].map((lead) =>
    ({ file: `Nowcast${lead / 5}.png`, lead_minutes: lead, time: minutesAgo(5 - lead) })) });
  const rows = [
    ['of the newest frame', nowcast(minutesAgo(5)), ['Image1.png', 'Image0.png', 'Nowcast1.png', 'Nowcast2.png']],
    ['of an older frame', nowcast(minutesAgo(10)), ['Image1.png', 'Image0.png']],
    ['none', null, ['Image1.png', 'Image0.png']],
  ];
  for (const [what, forecast, files] of rows) {
    viewer.setStatus({ frames, nowcast: forecast });
    assert.deepStrictEqual(viewer.data('loop()').map((entry) => entry.frame), files, what);
  }
  viewer.setStatus({ frames, nowcast: nowcast(minutesAgo(5)) });
  viewer.run('index = 3; show();');
  assert.match(viewer.element('local').textContent, /^Forecast \+10 min, 2026-12-09 /);
  assert.match(viewer.element('frame-time').textContent, /^Forecast \+10 min, /);
  assert.strictEqual(viewer.element('view').dataset.forecast, '10');
  assert.match(viewer.element('forecast-note').textContent, /extrapolation/);
  viewer.run('index = 1; show();');
  assert.strictEqual(viewer.element('view').dataset.forecast, undefined, 'an observed frame');
  assert.strictEqual(viewer.run('newest()'), 1, 'End goes to the newest frame observed');
  assert.strictEqual(viewer.run('withForecast = false; loop().length'), 2, 'left out by the reader');
  viewer.run('withForecast = true;');
  viewer.setStatus({ frames, nowcast: { issued: null, frames: [], reason: '3 usable frames, at least 4 needed' } });
  viewer.run('show();');
  assert.strictEqual(viewer.element('forecast-note').textContent, 'No forecast: 3 usable frames, at least 4 needed');
});
