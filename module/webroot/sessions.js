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

// A line chart of series over the session's seconds, with the moments of thermal back-off
// marked, and the same numbers in a table.
export function chart({ title, unit, series, marks = [], format = (v) => v }) {
  const figure = el('figure', undefined, 'chart');
  const caption = el('figcaption', `${title} (${unit})`);
  const width = 320;
  const height = 120;
  const all = series.flatMap((s) => s.points);
  const figureId = `chart-${Math.random().toString(36).slice(2)}`;
  figure.append(caption);
  if (!all.length) {
    figure.append(el('p', 'No samples.', 'help'));
    return figure;
  }
  const t0 = Math.min(...all.map((p) => p[0]));
  const t1 = Math.max(...all.map((p) => p[0]), t0 + 1);
  const lo = Math.min(...all.map((p) => p[1]));
  const hi = Math.max(...all.map((p) => p[1]), lo + 1e-9);
  const x = (t) => ((t - t0) / (t1 - t0)) * (width - 8) + 4;
  const y = (v) => height - 4 - ((v - lo) / (hi - lo)) * (height - 16);
  const picture = svg('svg', { viewBox: `0 0 ${width} ${height}`, role: 'img', 'aria-labelledby': figureId });
  const label = svg('title', {});
  label.id = figureId;
  label.textContent = `${title}, from ${format(lo)} to ${format(hi)} ${unit}`;
  picture.append(label);
  for (const t of marks) {
    picture.append(svg('line', { x1: x(t), x2: x(t), y1: 0, y2: height, class: 'mark' }));
  }
  series.forEach((s, i) => {
    picture.append(svg('polyline', {
      points: s.points.map((p) => `${x(p[0]).toFixed(1)},${y(p[1]).toFixed(1)}`).join(' '),
      class: `line line-${i}`,
    }));
  });
  const axis = el('p', `${format(lo)} – ${format(hi)} ${unit} over ${minutes(Math.round(t1 - t0))}${marks.length ? '; lines mark thermal back-off' : ''}`, 'help');
  figure.append(picture, axis, numbersTable(title, unit, series, format));
  return figure;
}

function numbersTable(title, unit, series, format) {
  const table = el('table', undefined, 'sr-only');
  table.append(el('caption', `${title} (${unit})`));
  const head = el('tr');
  head.append(el('th', 'seconds'), ...series.map((s) => el('th', s.name)));
  table.append(head);
  const times = [...new Set(series.flatMap((s) => s.points.map((p) => p[0])))].sort((a, b) => a - b);
  for (const t of times) {
    const row = el('tr');
    row.append(el('td', String(t)));
    for (const s of series) {
      const p = s.points.find((q) => q[0] === t);
      row.append(el('td', p ? String(format(p[1])) : ''));
    }
    table.append(row);
  }
  return table;
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
  const s = detail.summary;
  const box = el('div');
  const frames = s.frames
    ? `Frames: ${s.frames.total} (${s.frames.dropped} dropped), ${s.frames.fps.toFixed(1)} fps on average, ${s.frames.lowFps.toFixed(1)} fps at the 5th percentile. The frame rate over time is not recorded: frames are counted at the start and the end.`
    : 'Frames: not available on this phone (or the session was cut short).';
  box.append(el('p', frames, 'help'));
  box.append(chart({
    title: 'Battery temperature', unit: '°C', marks, format: (v) => v.toFixed(1),
    series: [{ name: 'temperature', points: rows.filter((r) => r[3] > -1000).map((r) => [r[0], r[3]]) }],
  }));
  box.append(chart({
    title: 'Power drawn from the battery', unit: 'W', marks, format: (v) => v.toFixed(2),
    series: [{ name: 'power', points: rows.filter((r) => r[1] === 0 && r[2] >= 0).map((r) => [r[0], r[2] / 1000]) }],
  }));
  box.append(chart({
    title: 'Time at the top fifth of frequencies', unit: '%', marks, format: (v) => v.toFixed(0),
    series: Array.from({ length: clusters }, (_, c) => ({
      name: `cluster ${c + 1}`,
      points: rows.filter((r) => r[6 + c] >= 0).map((r) => [r[0], r[6 + c] / 10]),
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

export function comparisonTable(result) {
  const table = el('table', undefined, 'compare');
  const head = el('tr');
  for (const h of ['preset', 'sessions', 'median fps', '5th pct fps', 'mWh per min', 'min to MODERATE', 'peak °C']) head.append(el('th', h));
  table.append(head);
  for (const r of result.rows) {
    const row = el('tr');
    row.append(el('th', r.preset), el('td', String(r.sessions)),
      el('td', r.framed ? f1(r.fps) : 'n/a'), el('td', r.framed ? f1(r.lowFps) : 'n/a'),
      el('td', f1(r.energyPerMinute)),
      el('td', r.reachedModerate ? `${f1(r.minutesToModerate)} (${r.reachedModerate})` : 'never'),
      el('td', f1(r.peakTemp)));
    table.append(row);
  }
  return table;
}
