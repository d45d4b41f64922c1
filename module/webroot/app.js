// The module's page: status, mode changes and log, and the game list as one switch per app.
// One command reads everything (tessivarctl status --json, whose output is printable ASCII with
// every '%' and markup character escaped, so it survives the managers' javascript:-URL delivery
// untouched); edits go through tessivarctl games with validated package names only. Device text
// is always inserted as text, with invisible and direction-changing characters made visible.
import { exec } from './kernelsu/index.js';
import { chart, comparison, comparisonTable, sessionCharts, sessionSummary } from './sessions.js';
import { suggestions } from './suggestions.js';
import { verdictPanel } from './verdict.js';

const DEFAULT_MODDIR = '/data/adb/modules/Drovenmarke';
const PACKAGE = /^[A-Za-z][A-Za-z0-9_]*(\.[A-Za-z][A-Za-z0-9_]*)+$/;

export function validPackage(name) {
  return typeof name === 'string' && name.length <= 254 && PACKAGE.test(name);
}

const plainDir = (dir) => typeof dir === 'string' && /^\/[A-Za-z0-9._/-]+$/.test(dir) && !dir.split('/').includes('..');

// The module directory: the one the manager names (KernelSU's moduleInfo), a test's, or the
// standard one; only ever a plain absolute path.
function moduleDir() {
  if (plainDir(globalThis.TESSIVAR_MODDIR)) return globalThis.TESSIVAR_MODDIR;
  try {
    if (typeof globalThis.ksu?.moduleInfo === 'function') {
      const dir = JSON.parse(globalThis.ksu.moduleInfo()).moduleDir;
      if (plainDir(dir)) return dir;
    }
  } catch (error) {
    console.warn('moduleInfo', error);
  }
  return DEFAULT_MODDIR;
}

const quote = (text) => `'${text.replace(/'/g, `'\\''`)}'`;

// Characters that draw nothing or turn text around, shown as ⟨U+XXXX⟩, so that a name can never
// pass for another or reorder what follows it.
const INVISIBLE = /[\u0000-\u0008\u000B-\u001F\u007F-\u009F\u00AD\u034F\u061C\u115F\u1160\u17B4\u17B5\u180B-\u180F\u200B-\u200F\u202A-\u202E\u2060-\u206F\u3164\uFE00-\uFE0F\uFEFF\uFFA0\uFFF0-\uFFFB]/gu;
export function visible(text) {
  return String(text).replace(INVISIBLE, (c) => `⟨U+${c.codePointAt(0).toString(16).toUpperCase().padStart(4, '0')}⟩`);
}

const $ = (id) => document.getElementById(id);
function el(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  if (className) node.className = className;
  return node;
}
// Device text: made visible, and isolated so its direction cannot spill into the page's.
const deviceText = (text, className) => el('bdi', visible(text), className);

let CTL = '';
async function ctl(args) {
  const { errno, stdout, stderr } = await exec(`${CTL} ${args}`);
  return { errno, stdout: stdout || '', stderr: stderr || '' };
}

function showError(text) {
  $('error').textContent = visible(text);
  $('error').hidden = false;
}
function clearError() {
  $('error').hidden = true;
  $('error').textContent = '';
}
function announce(text) {
  $('message').textContent = visible(text);
}

const bridgeHas = (name) => typeof globalThis.ksu?.[name] === 'function';

// The installed user apps with labels and icons, from the bridge where it can list them; one
// entry per package, however many users (work profile, dual apps) have it.
function appsFromBridge() {
  const bridge = globalThis.ksu;
  const names = [...new Set(JSON.parse(bridge.listPackages('user')).map(String))];
  const labels = new Map();
  if (bridgeHas('getPackagesInfo')) {
    for (const info of JSON.parse(bridge.getPackagesInfo(JSON.stringify(names)))) {
      if (info && typeof info.packageName === 'string' && typeof info.appLabel === 'string' && !labels.has(info.packageName)) {
        labels.set(info.packageName, info.appLabel);
      }
    }
  }
  return names.map((name) => ({ name, label: labels.get(name) || name }));
}

const PRESET_CHOICES = [['', 'default'], ['sustained', 'sustained'], ['max', 'max: hot; for short sessions'], ['battery', 'battery']];
let gamePresets = new Map();  // package -> its own preset

// "2 -> 1. Screen: 1, Focus: 'com.example.game'", as the daemon reports a change of mode.
const CHANGE = /^(\d) -> (\d)\. Screen: (-?\d), Focus: '(.*)'$/;
const MODES = { 0: 'none', 1: 'performance', 2: 'balanced' };
const SCREEN = { 1: 'on', 0: 'off', '-1': 'unknown' };

let status = null;
let apps = [];       // installed user apps, or null when they could not be listed
let icons = false;
const rows = new Map();  // package name -> its row, kept across refreshes so focus stays put

function renderStatus() {
  const s = status;
  $('daemon').textContent = s.daemon.running
    ? `running (pid ${s.daemon.pid}, supervisor ${s.supervisor.pid})`
    : s.supervisor.running ? `restarting (supervisor ${s.supervisor.pid})` : 'not running';
  const pending = s.restorePending || [];
  $('profile').textContent = visible((s.profile === 'none' ? 'none yet' : s.profile) +
    (pending.length ? `; restore pending: ${pending.join(', ')}` : ''));
  $('boosted').textContent = s.boosted.length ? visible(s.boosted.join(', ')) : 'nothing';
  const p = s.preset;
  $('preset').textContent = p
    ? visible(`${p.name}${p.game ? ` for ${p.game}` : ''}${p.changed.length ? ` (changed: ${p.changed.join(', ')})` : ''}` +
      (s.frontNotFollowed ? `; another game in front is not followed (${s.frontNotFollowed})` : ''))
    : 'none (no game in front)';
  // What the phone's own services wrote back over the preset during this game.
  const taken = s.takenBack || [];
  $('taken-back').textContent = taken.length
    ? visible(taken.map((t) => `${t.knob} ${t.times} time${t.times === 1 ? '' : 's'}` +
      (t.left ? ', left to the system' : ', set again')).join('; '))
    : 'nothing';
  const b = s.backoff;
  $('thermal').textContent = b
    ? visible(`backed off: thermal ${b.level} since ${new Date(b.since * 1000).toTimeString().slice(0, 5)}`)
    : 'no back-off';
  const presets = s.presets || { default: 'sustained', games: [] };
  gamePresets = new Map(presets.games);
  if (!queued.has('default')) $('default-preset').value = presets.default;
  $('switch').textContent = s.toBeRemoved ? 'to be removed at the next reboot'
    : s.switchedOff ? 'switched off in the root manager' : 'on';
  const changes = s.changes.map((c) => {
    const li = el('li');
    const m = CHANGE.exec(c);
    if (m) {
      li.append(`${MODES[m[2]] || m[2]} (screen ${SCREEN[m[3]] || m[3]}, `, deviceText(m[4]), ')');
    } else {
      li.append(deviceText(c));
    }
    return li;
  });
  $('changes').replaceChildren(...(changes.length ? changes : [el('li', 'none yet')]));
  $('log').replaceChildren(...s.log.map((line) => {
    const div = el('div');
    div.append(deviceText(line));
    return div;
  }));
  const problems = s.problems;
  $('problems').hidden = problems.length === 0;
  $('problems-text').textContent = problems.length === 1
    ? 'This line of game.txt can never match:' : `These ${problems.length} lines of game.txt can never match:`;
  $('problem-lines').replaceChildren(...problems.map((p) => {
    const li = el('li', `line ${p.line}: ${p.reasons}: `);
    li.append(deviceText(p.clean, 'pkg-inline'));
    return li;
  }));
  $('fix').hidden = !problems.some((p) => p.fixable);
  if (s.gameListError) showError(`The game list cannot be read: ${s.gameListError}`);
}

function makeRow(app) {
  const li = el('li');
  li.dataset.name = app.name;
  const names = el('span', undefined, 'names');
  names.append(deviceText(app.label, 'label'));
  if (app.label !== app.name) names.append(deviceText(app.name, 'pkg'));
  const row = { li, names, app, box: null, remove: null, note: null };
  if (icons) {
    const icon = el('img');
    icon.alt = '';
    icon.loading = 'lazy';
    icon.addEventListener('error', () => { icon.hidden = true; });  // no icon: the label alone
    icon.src = `ksu://icon/${app.name}`;
    li.append(icon);
  }
  if (!validPackage(app.name)) {
    names.append(el('span', 'not a valid package name; it cannot be listed', 'note'));
    li.append(names);
    return row;
  }
  const box = el('input');
  box.type = 'checkbox';
  box.setAttribute('role', 'switch');
  box.setAttribute('aria-label', `${visible(app.label)} (${app.name})`);
  box.addEventListener('change', () => change(box.checked ? 'add' : 'remove', app.name, box));
  row.box = box;
  const label = el('label');
  label.append(box, names);
  li.append(label);
  // A listed game's preset: its own, or the default.
  const select = el('select');
  select.setAttribute('aria-label', `Preset for ${visible(app.label)} (${app.name})`);
  for (const [value, text] of PRESET_CHOICES) {
    const option = el('option', text);
    option.value = value;
    select.append(option);
  }
  select.addEventListener('change', () => change(select.value ? 'preset' : 'unpreset', app.name, select, select.value));
  row.select = select;
  row.chosen = el('span', '', 'help');  // "chosen from 6 sessions" or "set by you"
  // While the game list cannot be read, the switch says so instead of passing for "off".
  const state = el('span', 'unknown', 'state');
  state.hidden = true;
  row.state = state;
  li.append(select, row.chosen, state);
  return row;
}

// A listed game that is not installed: no icon to ask for, and one control, to take it off.
function notInstalledRow(name) {
  const li = el('li');
  li.dataset.name = name;
  const names = el('span', undefined, 'names');
  names.append(deviceText(name, 'label'));
  const note = el('span', 'listed, but not installed', 'note');
  names.append(note);
  const remove = el('button', 'Remove');
  remove.type = 'button';
  remove.addEventListener('click', () => change(remove.dataset.listed ? 'remove' : 'add', name, remove));
  li.append(names, remove);
  return { li, names, app: { name, label: name }, box: null, remove, note };
}

// Such a row once removed stays where it was while the rows are held, and can list it again.
function updateNotInstalled(row, listed) {
  const name = row.app.name;
  row.remove.dataset.listed = listed ? '1' : '';
  row.remove.textContent = listed ? 'Remove' : 'List again';
  row.remove.setAttribute('aria-label', listed ? `Remove ${name} from the game list` : `List ${name} again`);
  row.note.textContent = listed ? 'listed, but not installed' : 'removed; not installed';
  row.remove.disabled = !status;
}

const labelOf = (name) => (apps || []).find((a) => a.name === name)?.label || name;
let shownSession = null;

function renderSessions() {
  const sessions = status.sessions || [];
  $('sessions-empty').hidden = sessions.length > 0;
  const items = [...sessions].reverse().map((s) => {
    const li = el('li');
    const button = el('button');
    button.type = 'button';
    button.className = 'session';
    button.append(deviceText(sessionSummary(s, labelOf(s.game))));
    button.setAttribute('aria-expanded', String(shownSession === s.start));
    button.addEventListener('click', () => showSession(s));
    li.append(button);
    return li;
  });
  const keys = sessions.map((s) => s.start).join(',');
  if ($('session-list').dataset.keys !== keys) {
    $('session-list').replaceChildren(...items);
    $('session-list').dataset.keys = keys;
  }
  // The comparison: one game at a time, the last one played first.
  const games = [...new Set(sessions.map((s) => s.game))].reverse();
  const select = $('compare-game');
  const chosen = select.value && games.includes(select.value) ? select.value : games[0] || '';
  if (select.dataset.keys !== games.join(',')) {
    select.replaceChildren(...games.map((g) => {
      const option = el('option', visible(labelOf(g)));
      option.value = g;
      return option;
    }));
    select.dataset.keys = games.join(',');
  }
  select.value = chosen;
  $('compare-choice').hidden = games.length === 0;
  const result = comparison(sessions, chosen);
  $('compare-note').textContent = games.length ? visible(result.sentence) : 'Nothing to compare yet.';
  $('compare-table').replaceChildren(...(result.rows.length ? [comparisonTable(result)] : []));
  const trying = new Map(status.trials || []);
  const left = trying.get(chosen);
  $('try-both').hidden = !chosen || !validPackage(chosen);
  $('try-both').textContent = left ? `Stop trying both (${left} session${left === 1 ? '' : 's'} left)` : 'Try both: sustained and max by turns for the next 6 sessions';
  $('try-both').dataset.game = chosen;
  $('try-both').dataset.on = left ? '1' : '';
  verdicts.render(chosen);
}

async function showSession(s) {
  shownSession = s.start;
  $('session-detail').hidden = false;
  $('session-title').textContent = visible(`${labelOf(s.game)}, ${s.preset}, ${new Date(s.start * 1000).toLocaleString()}`);
  $('session-charts').replaceChildren(el('p', 'Loading…', 'help'));
  const r = await ctl(`sessions show ${Number.parseInt(s.start, 10)}`);
  try {
    if (r.errno !== 0) throw new Error(r.stderr.trim() || `status ${r.errno}`);
    $('session-charts').replaceChildren(sessionCharts(JSON.parse(r.stdout)));
  } catch (error) {
    $('session-charts').replaceChildren(el('p', visible(`Could not read the session: ${error.message}`), 'error'));
  }
  for (const b of $('session-list').querySelectorAll('button')) b.setAttribute('aria-expanded', 'false');
}

// Builds the list when the set of apps changed, else only updates each switch: the element
// that has focus stays where it is.
function renderApps() {
  const listed = new Set(status ? status.games : []);
  const installedNames = new Set((apps || []).map((a) => a.name));
  const byLabel = (a, b) => a.label.localeCompare(b.label) || a.name.localeCompare(b.name);
  const sorted = [...(apps || [])].sort(byLabel);
  let order = [
    ...sorted.filter((a) => listed.has(a.name)).map((a) => ({ key: a.name, app: a })),
    ...(apps ? [...listed].filter((n) => validPackage(n) && !installedNames.has(n)).sort()
      .map((n) => ({ key: `missing:${n}`, name: n })) : []),
    ...sorted.filter((a) => !listed.has(a.name)).map((a) => ({ key: a.name, app: a })),
  ];
  // Rows held after a tap stay in their places; only rows new to the list go at its end.
  if (holdRows && $('apps').dataset.keys) {
    const shown = $('apps').dataset.keys.split('\n').filter((k) => rows.has(k));
    const kept = new Set(shown);
    order = [...shown.map((key) => ({ key })), ...order.filter((o) => !kept.has(o.key))];
  }
  const keys = order.map((o) => o.key).join('\n');
  if (keys !== $('apps').dataset.keys) {
    const focusedName = document.activeElement?.closest?.('#apps li')?.dataset.name;
    const fragment = document.createDocumentFragment();
    const fresh = new Map();
    for (const o of order) {
      const row = rows.get(o.key) || (o.app ? makeRow(o.app) : notInstalledRow(o.name));
      fresh.set(o.key, row);
      fragment.append(row.li);
    }
    rows.clear();
    for (const [key, row] of fresh) rows.set(key, row);
    $('apps').replaceChildren(fragment);
    $('apps').dataset.keys = keys;
    if (focusedName && !document.activeElement?.closest?.('#apps')) {
      const again = [...rows.values()].find((r) => r.app.name === focusedName);
      (again?.box || again?.remove || $('search')).focus();
    }
  }
  for (const row of rows.values()) {
    if (row.box) {
      // A tap still queued shows what it asked for until the list has it.
      if (!queued.has(row.app.name)) row.box.checked = listed.has(row.app.name);
      // Not known: neither on nor off, for the eye and for a screen reader (a switch has no
      // third state, a checkbox has).
      row.box.indeterminate = !status;
      row.box.setAttribute('role', status ? 'switch' : 'checkbox');
      row.state.hidden = Boolean(status);
      row.box.disabled = !status;
      row.box.title = status ? '' : 'The game list cannot be read or changed now';
      row.select.hidden = !listed.has(row.app.name);
      row.select.disabled = !status;
      if (!queued.has(row.app.name)) row.select.value = gamePresets.get(row.app.name) || '';
      const chose = (status?.choose?.games || []).find((g) => g.game === row.app.name && g.state === 'chosen');
      row.chosen.textContent = !listed.has(row.app.name) ? ''
        : chose ? `chosen from ${chose.from} sessions` : gamePresets.has(row.app.name) ? 'set by you' : '';
      row.li.dataset.search = `${row.app.label}\n${row.app.name}`.toLowerCase();
    } else {
      if (row.remove) updateNotInstalled(row, listed.has(row.app.name));
      row.li.dataset.search = row.app.name.toLowerCase();
    }
  }
  filter();
}

// After a tap on the list its rows stay where they are, whatever the answer re-sorts, until
// the user scrolls, searches or leaves the page: nothing moves under a finger about to tap.
let holdRows = false;
function releaseRows() {
  if (!holdRows) return;
  holdRows = false;
  if (status) renderApps();
}

export function filter() {
  const query = $('search').value.trim().toLowerCase();
  for (const li of $('apps').children) li.hidden = query !== '' && !li.dataset.search.includes(query);
}

// One call reads everything; on failure the page keeps what it showed and says why.
async function refresh() {
  const packages = !bridgeHas('listPackages');
  const r = await ctl(`status --json${packages ? ' --packages' : ''}`);
  let next;
  try {
    if (r.errno !== 0) throw new Error(r.stderr.trim() || r.stdout.trim() || `it ended with status ${r.errno}`);
    next = JSON.parse(r.stdout);
  } catch (error) {
    showError(`Could not read Tessivar's status: ${error.message}`);
    if (!status) {
      // Never "…" as if it were still loading, never "off" as if it were known: unknown, and
      // the apps still listed, their switches unknown until the control program answers.
      for (const id of ['daemon', 'profile', 'preset', 'thermal', 'boosted', 'switch']) $(id).textContent = 'unknown';
      $('default-preset').disabled = true;
      renderApps();
    }
    return false;
  }
  status = next;
  $('default-preset').disabled = false;
  $('apps').removeAttribute('aria-describedby');
  if (packages) {
    if (next.packagesError) {
      showError(`Could not list the installed apps: ${next.packagesError}`);
      apps = null;
    } else {
      apps = [...new Set(next.packages)].map((name) => ({ name, label: name }));
    }
  }
  renderStatus();
  renderApps();
  renderSessions();
  suggested.render();
  return true;
}

// Taps run in order, one command at a time: a second tap while the first is in flight is
// queued, never dropped, and the switches are set from the list once the queue is empty.
let queue = Promise.resolve();
const queued = new Map();  // package -> taps not yet done
let busy = 0;
const COMMANDS = {
  add: (name) => `games add ${quote(name)}`,
  remove: (name) => `games remove ${quote(name)}`,
  preset: (name, preset) => `preset set ${quote(name)} ${preset}`,
  unpreset: (name) => `preset clear ${quote(name)}`,
  default: (name, preset) => `preset set default ${preset}`,
  try: (name) => `preset try ${quote(name)}`,
  untry: (name) => `preset try ${quote(name)} off`,
  choose: (name) => `preset choose ${quote(name)}`,
  unchoose: (name) => `preset choose ${quote(name)} off`,
  chooseAll: () => 'preset choose all',
  unchooseAll: () => 'preset choose all off',
};
const PRESETS = new Set(['sustained', 'max', 'battery']);
function change(action, name, control, preset) {
  const anyGame = action === 'default' || action === 'chooseAll' || action === 'unchooseAll';
  if (!COMMANDS[action] || (!anyGame && !validPackage(name))) return;
  if ((action === 'preset' || action === 'default') && !PRESETS.has(preset)) return;
  if (control.closest('#games')) holdRows = true;  // the app list, or the suggestions above it
  busy++;
  queued.set(name, (queued.get(name) || 0) + 1);
  control.setAttribute('aria-busy', 'true');
  queue = queue.then(async () => {
    const r = await ctl(COMMANDS[action](name, preset));
    const left = queued.get(name) - 1;
    if (left) queued.set(name, left); else queued.delete(name);
    if (!left) control.removeAttribute('aria-busy');
    busy--;
    if (r.errno === 0) clearError();
    // The switches match the list: read afresh, or the last list read when that fails (a
    // failed change left it as it was).
    if (!busy && !(await refresh()) && status) renderApps();
    // Said after the refresh, so that this call's own outcome is what the line shows.
    if (r.errno === 0) announce(r.stdout.trim());
    else showError(`Could not change the game list: ${r.stderr.trim() || r.stdout.trim() || `status ${r.errno}`}`);
  });
}

const verdicts = verdictPanel({
  $, el, visible, validPackage, change, labelOf, status: () => status, queued: (name) => queued.has(name),
});

const suggested = suggestions({
  $, el, deviceText, visible, validPackage, ctl, change, labelOf,
  status: () => status, queued: (name) => queued.has(name),
});

async function fix() {
  const r = await ctl('games fix');
  if (r.errno === 0) clearError();
  await refresh();
  if (r.errno === 0) announce('Fixed the flagged lines.');
  else showError(`Could not fix the game list: ${r.stderr.trim() || r.stdout.trim()}`);
}

async function start() {
  if (!bridgeHas('exec')) {
    $('no-bridge').hidden = false;
    $('status').hidden = true;
    $('sessions').hidden = true;
    $('games').hidden = true;
    return;
  }
  CTL = quote(`${moduleDir()}/tessivarctl`);
  $('search').addEventListener('input', () => {
    releaseRows();
    filter();
  });
  // The user scrolls (a finger, a wheel or a key) or leaves: the list may take its order again.
  // A scroll that focus causes (Tab to the next row) is no reason: it holds still.
  let moved = -Infinity;
  const moves = () => { moved = performance.now(); };
  for (const type of ['touchstart', 'touchmove', 'wheel']) window.addEventListener(type, moves, { passive: true });
  window.addEventListener('keydown', (event) => {
    if (['PageUp', 'PageDown', 'ArrowUp', 'ArrowDown', 'Home', 'End'].includes(event.key)) moves();
  });
  window.addEventListener('scroll', () => {
    if (performance.now() - moved < 1000) releaseRows();
  }, { passive: true });
  $('fix').addEventListener('click', fix);
  $('default-preset').addEventListener('change', (event) => change('default', 'default', event.target, event.target.value));
  $('compare-game').addEventListener('change', () => renderSessions());
  $('try-both').addEventListener('click', (event) => {
    const b = event.target;
    change(b.dataset.on ? 'untry' : 'try', b.dataset.game, b);
  });
  const started = performance.now();
  if (bridgeHas('listPackages')) {
    try {
      apps = appsFromBridge();
      icons = true;
    } catch (error) {
      showError(`Could not list the installed apps: ${error.message}`);
      apps = null;
    }
  }
  if (await refresh()) document.body.dataset.ready = String(Math.round(performance.now() - started));
  else document.body.dataset.ready = 'failed';
  // Once per visit, after the list is on screen: the dump is one command, never in a refresh.
  suggested.start();
  suggested.load().finally(() => { document.body.dataset.suggested = '1'; });
  setInterval(() => {
    if (document.visibilityState === 'visible' && !busy) refresh();
  }, 5000);
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'hidden') releaseRows();
    if (document.visibilityState === 'visible' && !busy) refresh();
  });
}

start().catch((error) => {
  showError(`Something went wrong: ${error && error.message ? error.message : error}`);
});
