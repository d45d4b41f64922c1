// The evidence on the page: the recorded game sessions, one session's course over time, and one
// game's presets side by side. Charts are plain SVG drawn here, each with a table of the same
// numbers for screen readers; device text is always inserted as text.
const SVG = 'http://www.w3.org/2000/svg';
const LEVELS = ['NONE', 'LIGHT', 'MODERATE', 'SEVERE', 'CRITICAL', 'EMERGENCY', 'SHUTDOWN'];
export const TOO_FEW = 3;  // sessions per preset before a comparison says anything

function el(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  if (className) node.className = className;
  return node;
}
function svg(tag, attributes) {
  const node = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, String(v));
  return node;
}

export const minutes = (s) => (s < 60 ? `${s} s` : `${Math.round(s / 60)} min`);
const watts = (mw) => (mw >= 0 ? `${(mw / 1000).toFixed(2)} W` : '?');
const fps = (f) => (f ? `${f.fps.toFixed(1)} fps` : 'frames: n/a');
const celsius = (c) => (c > -1000 ? `${c.toFixed(1)} °C` : '?');

export function median(values) {
  const v = values.filter((x) => Number.isFinite(x)).sort((a, b) => a - b);
  if (!v.length) return null;
  return v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
}

// One line per session, newest first: game, preset, duration, frame rate, power, peak temperature.
export function sessionSummary(s, label) {
  return `${label} · ${s.preset} · ${minutes(s.durationS)} · ${fps(s.frames)} · ${watts(s.meanMw)} · ${celsius(s.peakTempC)}`;
}

// Ticks along x: a few round steps of seconds or minutes from 0 to `span` seconds.
const MINUTE_STEPS = [1, 2, 5, 10, 15, 20, 30, 60, 120, 180, 240, 360, 480, 720];
const SECOND_STEPS = [5, 10, 15, 20, 30];
export function timeTicks(span) {
  const inMinutes = span >= 120;
  const unit = inMinutes ? 60 : 1;
  const steps = inMinutes ? MINUTE_STEPS : SECOND_STEPS;
  const step = steps.find((s) => Math.floor(span / (s * unit)) + 1 <= 5) || steps[steps.length - 1];
  const ticks = [];
  for (let v = 0; v * unit <= span; v += step) ticks.push({ t: v * unit, text: String(v) });
  ticks[ticks.length - 1].text += inMinutes ? ' min' : ' s';
  return ticks;
}

// A series' points ([seconds, value or null]) as runs to draw: broken where a sample has no
// value (on the charger, a cluster offline) and where samples are missing altogether.
export function runs(points) {
  const out = [];
  let run = [];
  let step = Infinity;
  for (const p of points) {
    const last = run[run.length - 1];
    const gap = last && p[0] - last[0] > Math.max(15, 2.5 * step);
    if (last) step = p[0] - last[0];
    if (p[1] === null || gap) {
      if (run.length) out.push(run);
      run = [];
    }
    if (p[1] !== null) run.push(p);
  }
  if (run.length) out.push(run);
  return out;
}

const WIDTH = 320;
const HEIGHT = 150;
const LEFT = 56;  // room for the range's labels
const RIGHT = 8;
const TOP = 10;
const BOTTOM = 22;  // room for the minutes

function legendEntry(className, text) {
  const li = el('li');
  const swatch = svg('svg', { viewBox: '0 0 24 10', width: 24, height: 10, 'aria-hidden': 'true' });
  swatch.append(className === 'mark'
    ? svg('line', { x1: 12, x2: 12, y1: 0, y2: 10, class: 'mark' })
    : svg('line', { x1: 0, x2: 24, y1: 5, y2: 5, class: className }));
  li.append(swatch, el('span', text));
  return li;
}

// A line chart of series over the session's seconds, with minutes along x, the range along y,
// the moments of thermal back-off marked, a legend for what needs one, and the same numbers in
// a table.
export function chart({ title, unit, series, marks = [], span, format = (v) => v, note, floor }) {
  const figure = el('figure', undefined, 'chart');
  const caption = el('figcaption', `${title} (${unit})`);
  const all = series.flatMap((s) => s.points.filter((p) => p[1] !== null));
  const figureId = `chart-${Math.random().toString(36).slice(2)}`;
  figure.append(caption);
  if (!all.length) {
    figure.append(el('p', 'No samples.', 'help'));
    if (note) figure.append(el('p', note, 'help'));
    return figure;
  }
  const t1 = Math.max(span || 0, ...all.map((p) => p[0]), 1);
  let lo = Math.min(...all.map((p) => p[1]), floor ?? Infinity);
  let hi = Math.max(...all.map((p) => p[1]));
  if (hi - lo < 1e-9) {
    lo -= 1;
    hi += 1;
  }
  const x = (t) => LEFT + (t / t1) * (WIDTH - LEFT - RIGHT);
  const y = (v) => HEIGHT - BOTTOM - ((v - lo) / (hi - lo)) * (HEIGHT - TOP - BOTTOM);
  const picture = svg('svg', { viewBox: `0 0 ${WIDTH} ${HEIGHT}`, role: 'img', 'aria-labelledby': figureId });
  const label = svg('title', {});
  label.id = figureId;
  label.textContent = `${title}, from ${format(lo)} to ${format(hi)} ${unit} over ${minutes(Math.round(t1))}`;
  picture.append(label);
  // The range on y, at the top and bottom of the plot.
  for (const v of [hi, lo]) {
    picture.append(svg('line', { x1: LEFT, x2: WIDTH - RIGHT, y1: y(v), y2: y(v), class: 'grid' }));
    const text = svg('text', { x: LEFT - 4, y: y(v) + 4, class: 'y-label', 'text-anchor': 'end' });
    text.textContent = `${format(v)} ${unit}`;
    picture.append(text);
  }
  // Time along x.
  for (const tick of timeTicks(t1)) {
    const at = x(tick.t);
    picture.append(svg('line', { x1: at, x2: at, y1: HEIGHT - BOTTOM, y2: HEIGHT - BOTTOM + 4, class: 'grid' }));
    const anchor = at > WIDTH - RIGHT - 18 ? 'end' : at < LEFT + 8 ? 'start' : 'middle';
    const text = svg('text', { x: at.toFixed(1), y: HEIGHT - 6, class: 'x-tick', 'text-anchor': anchor });
    text.textContent = tick.text;
    picture.append(text);
  }
  for (const t of marks) {
    picture.append(svg('line', { x1: x(t), x2: x(t), y1: TOP, y2: HEIGHT - BOTTOM, class: 'mark' }));
  }
  series.forEach((s, i) => {
    for (const run of runs(s.points)) {
      // A lone sample is drawn as a dot.
      const points = run.length === 1 ? [run[0], run[0]] : run;
      const line = svg('polyline', {
        points: points.map((p) => `${x(p[0]).toFixed(1)},${y(p[1]).toFixed(1)}`).join(' '),
        class: `line line-${i}`,
      });
      line.dataset.series = s.name;
      picture.append(line);
    }
  });
  figure.append(picture);
  const legend = el('ul', undefined, 'legend');
  if (series.length > 1) series.forEach((s, i) => legend.append(legendEntry(`line line-${i}`, s.name)));
  if (marks.length) legend.append(legendEntry('mark', 'thermal back-off'));
  if (legend.children.length) figure.append(legend);
  if (note) figure.append(el('p', note, 'help'));
  figure.append(numbersTable(title, unit, series, format));
  return figure;
}

function numbersTable(title, unit, series, format) {
  const table = el('table', undefined, 'sr-only');
  table.append(el('caption', `${title} (${unit})`));
  const head = el('tr');
  head.append(el('th', 'seconds'), ...series.map((s) => el('th', s.name)));
  table.append(head);
  const times = [...new Set(series.flatMap((s) => s.points.map((p) => p[0])))].sort((a, b) => a - b);
  const values = series.map((s) => new Map(s.points.map((p) => [p[0], p[1]])));
  for (const t of times) {
    const row = el('tr');
    row.append(el('td', String(t)));
    for (const v of values) {
      const value = v.get(t);
      row.append(el('td', value === null || value === undefined ? '' : String(format(value))));
    }
    table.append(row);
  }
  return table;
}

// A cluster by its CPUs ("0-3"), as the session recorded them.
const clusterName = (cpus, i) => (!cpus ? `cluster ${i + 1}` : /^\d+$/.test(cpus) ? `CPU ${cpus}` : `CPUs ${cpus}`);

// Where the frame rate over time came from, said under its chart.
const FPS_SOURCES = {
  drm: 'Source: frames the display showed (its driver\'s count); with a full-screen game in front they are close to the game\'s own.',
  fb: 'Source: frames the display showed (its driver\'s count); with a full-screen game in front they are close to the game\'s own.',
  fpsgo: 'Source: the game\'s own frames, from MediaTek\'s FPSGO (read only while it was already on).',
};

// The frame rate over the session, one reading per sample, where the phone reports one.
function frameRateChart(detail, marks, span) {
  const s = detail.summary;
  const source = FPS_SOURCES[s.fpsSource];
  if (!source) {
    const figure = el('figure', undefined, 'chart');
    figure.append(el('figcaption', 'Frame rate (fps)'), el('p', (s.format || 1) < 2
      ? 'Frame rate over time: not recorded (the session was recorded by an older version).'
      : 'Frame rate over time: this phone does not report it (no display or FPSGO frame counter), so only the totals above are known.', 'help'));
    return figure;
  }
  const fps = Array.isArray(detail.fps) ? detail.fps : [];
  return chart({
    title: 'Frame rate', unit: 'fps', marks, span, format: (v) => v.toFixed(0), floor: 0,
    series: [{ name: 'frame rate', points: detail.rows.map((r, i) => [r[0], Number.isFinite(fps[i]) ? fps[i] : null]) }],
    note: source,
  });
}

// One session's charts from its rows: [t, charging, mW, temp, level, cooling, top per cluster...].
export function sessionCharts(detail) {
  const rows = detail.rows;
  const marks = [];
  rows.forEach((r, i) => {
    const hot = r[4] >= 2 || r[5] === 1;
    const before = i > 0 && (rows[i - 1][4] >= 2 || rows[i - 1][5] === 1);
    if (hot && !before) marks.push(r[0]);
  });
  const clusters = rows.reduce((n, r) => Math.max(n, r.length - 6), 0);
  const cpus = Array.isArray(detail.clusters) ? detail.clusters : [];
  const span = rows.length ? rows[rows.length - 1][0] : 0;
  const s = detail.summary;
  const box = el('div');
  const frames = s.frames
    ? `Frames: ${s.frames.total} (${s.frames.dropped} dropped), ${s.frames.fps.toFixed(1)} fps on average, ${s.frames.lowFps.toFixed(1)} fps at the 5th percentile, counted by the system at the start and the end.${s.frames.reset ? ' The system cleared its counters during the session: these figures cover only the frames since.' : ''}`
    : 'Frames: not available on this phone (or the session was cut short).';
  box.append(el('p', frames, 'help'));
  box.append(frameRateChart(detail, marks, span));
  box.append(chart({
    title: 'Battery temperature', unit: '°C', marks, span, format: (v) => v.toFixed(1),
    series: [{ name: 'temperature', points: rows.map((r) => [r[0], r[3] > -1000 ? r[3] : null]) }],
  }));
  box.append(chart({
    title: 'Power drawn from the battery', unit: 'W', marks, span, format: (v) => v.toFixed(2),
    series: [{ name: 'power', points: rows.map((r) => [r[0], r[1] === 0 && r[2] >= 0 ? r[2] / 1000 : null]) }],
    note: rows.some((r) => r[1] !== 0) ? 'Gaps: on the charger (or its state unknown), so no power drawn from the battery.' : undefined,
  }));
  box.append(chart({
    title: 'Time at the top fifth of frequencies', unit: '%', marks, span, format: (v) => v.toFixed(0),
    series: Array.from({ length: clusters }, (_, c) => ({
      name: clusterName(cpus[c], c),
      points: rows.map((r) => [r[0], r[6 + c] >= 0 ? r[6 + c] / 10 : null]),
    })),
  }));
  if (s.levelS.some((v, i) => i >= 2 && v > 0)) {
    box.append(el('p', `Thermal: ${LEVELS.map((l, i) => (s.levelS[i] ? `${l} ${minutes(s.levelS[i])}` : '')).filter(Boolean).join(', ')}${s.firstModerateS >= 0 ? `; MODERATE after ${minutes(s.firstModerateS)}` : ''}.`, 'help'));
  }
  return box;
}

// One game's presets side by side: medians over their sessions, with how many sessions stand
// behind each figure, and a plain sentence when there are too few to say anything.
export function comparison(sessions, game) {
  const mine = sessions.filter((s) => s.game === game);
  const presets = [...new Set(mine.map((s) => s.preset))].sort();
  const rows = presets.map((preset) => {
    const of = mine.filter((s) => s.preset === preset);
    const framed = of.filter((s) => s.frames);
    const moderate = of.filter((s) => s.firstModerateS >= 0).map((s) => s.firstModerateS / 60);
    const energy = of.filter((s) => s.dischargingS > 0).map((s) => (s.energyMwh / s.dischargingS) * 60);
    return {
      preset,
      sessions: of.length,
      fps: median(framed.map((s) => s.frames.fps)),
      lowFps: median(framed.map((s) => s.frames.lowFps)),
      framed: framed.length,
      energyPerMinute: median(energy),
      minutesToModerate: median(moderate),
      reachedModerate: moderate.length,
      peakTemp: median(of.filter((s) => s.peakTempC > -1000).map((s) => s.peakTempC)),
    };
  });
  let sentence;
  if (!mine.length) {
    sentence = 'No sessions of this game yet.';
  } else if (rows.length < 2) {
    sentence = `Only ${rows[0].preset} has been played (${rows[0].sessions} session${rows[0].sessions === 1 ? '' : 's'}): there is nothing to compare yet. "Try both" alternates sustained and max over the next sessions.`;
  } else if (rows.some((r) => r.sessions < TOO_FEW)) {
    sentence = `Too few sessions to say anything yet: each preset needs at least ${TOO_FEW} (${rows.map((r) => `${r.preset} ${r.sessions}`).join(', ')}).`;
  } else {
    sentence = `Medians over ${rows.map((r) => `${r.sessions} ${r.preset} sessions`).join(' and ')} on this phone.`;
  }
  return { rows, sentence };
}

const f1 = (v, unit = '') => (v === null ? '–' : `${v.toFixed(1)}${unit}`);

// Measures down, presets across: at most three presets, so every column fits a phone's width.
export function comparisonTable(result) {
  const table = el('table', undefined, 'compare');
  const head = el('tr');
  head.append(el('th', 'preset'));
  for (const r of result.rows) {
    const th = el('th', r.preset);
    th.scope = 'col';
    head.append(th);
  }
  table.append(head);
  const measures = [
    ['sessions', (r) => String(r.sessions)],
    ['median fps', (r) => (r.framed ? f1(r.fps) : 'n/a')],
    ['5th pct fps', (r) => (r.framed ? f1(r.lowFps) : 'n/a')],
    ['mWh per min', (r) => f1(r.energyPerMinute)],
    ['min to MODERATE', (r) => (r.reachedModerate ? `${f1(r.minutesToModerate)} (${r.reachedModerate})` : 'never')],
    ['peak °C', (r) => f1(r.peakTemp)],
  ];
  for (const [name, value] of measures) {
    const row = el('tr');
    const th = el('th', name);
    th.scope = 'row';
    row.append(th, ...result.rows.map((r) => el('td', value(r))));
    table.append(row);
  }
  return table;
}
