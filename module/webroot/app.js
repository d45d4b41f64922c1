// The module's page: status, mode changes and log, and the game list as one switch per app.
// Everything from the device (pm, the log, game.txt) is shown as text, never as HTML, and only
// validated package names and fixed text ever reach a command.
import { exec } from './kernelsu/index.js';

const DEFAULT_MODDIR = '/data/adb/modules/Drovenmarke';
const PACKAGE = /^[A-Za-z][A-Za-z0-9_]*(\.[A-Za-z][A-Za-z0-9_]*)+$/;

export function validPackage(name) {
  return typeof name === 'string' && name.length <= 254 && PACKAGE.test(name);
}

// The module directory; a test may point it elsewhere, but only at a plain absolute path.
function moduleDir() {
  const dir = globalThis.TESSIVAR_MODDIR;
  if (typeof dir === 'string' && /^\/[A-Za-z0-9._/-]+$/.test(dir) && !dir.split('/').includes('..')) {
    return dir;
  }
  return DEFAULT_MODDIR;
}
const MODDIR = moduleDir();
const quote = (text) => `'${text.replace(/'/g, `'\\''`)}'`;
const GAMES = `sh ${quote(MODDIR + '/Scripts/games.sh')}`;

const $ = (id) => document.getElementById(id);
const el = (tag, text, className) => {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  if (className) node.className = className;
  return node;
};

async function run(command) {
  const { errno, stdout, stderr } = await exec(command);
  return { errno, stdout: stdout || '', stderr: stderr || '' };
}

// "State change detected: 1 -> 2. Screen: 0, Focus: '<none>'" into its parts.
const CHANGE = /^State change detected: (\d) -> (\d)\. Screen: (-?\d), Focus: '(.*)'$/;
const MODES = { 0: 'none', 1: 'performance', 2: 'balanced' };
export function parseChanges(log) {
  const changes = [];
  for (const line of log.split('\n')) {
    const m = CHANGE.exec(line);
    if (m) changes.push({ to: MODES[m[2]] || m[2], screen: m[3], focus: m[4] });
  }
  return changes.reverse();
}

const STATUS = [
  `cd ${quote(MODDIR)} || exit 1`,
  'alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }',
  's=$(cat tessivar.pid 2>/dev/null); d=$(cat tessivar.daemon.pid 2>/dev/null)',
  'alive "$s" && echo "supervisor=$s"',
  'alive "$d" && echo "daemon=$d"',
  'echo "profile=$(cat current_profile 2>/dev/null)"',
  '[ -e disable ] && echo "disabled=1"',
  '[ -e remove ] && echo "remove=1"',
  'echo "--log--"',
  'tail -n 300 tessivar.log 2>/dev/null',
  'exit 0',
].join('\n');

async function refreshStatus() {
  const { stdout } = await run(STATUS);
  const [head, log = ''] = stdout.split('--log--\n');
  const facts = Object.fromEntries(
    head.split('\n').filter((l) => l.includes('=')).map((l) => [l.slice(0, l.indexOf('=')), l.slice(l.indexOf('=') + 1)]));
  const pid = /^\d+$/;
  if (pid.test(facts.daemon || '')) {
    $('daemon').textContent = `running (pid ${facts.daemon}${pid.test(facts.supervisor || '') ? `, supervisor ${facts.supervisor}` : ''})`;
  } else if (pid.test(facts.supervisor || '')) {
    $('daemon').textContent = `restarting (supervisor ${facts.supervisor})`;
  } else {
    $('daemon').textContent = 'not running';
  }
  $('profile').textContent = facts.profile || 'unknown';
  $('switch').textContent = facts.disabled || facts.remove ? 'switched off in the root manager' : 'on';
  const list = $('changes');
  list.replaceChildren(...parseChanges(log).slice(0, 10).map((c) =>
    el('li', `${c.to} (screen ${c.screen === '1' ? 'on' : c.screen === '0' ? 'off' : 'unknown'}, focus ${c.focus})`)));
  if (!list.children.length) list.append(el('li', 'none yet'));
  $('log').textContent = log;
}

// The installed user apps: the bridge's own list with labels where it has one, else pm.
async function installedApps() {
  const bridge = globalThis.ksu;
  if (typeof bridge.listPackages === 'function') {
    try {
      const names = JSON.parse(bridge.listPackages('user'));
      let labels = {};
      if (typeof bridge.getPackagesInfo === 'function') {
        for (const info of JSON.parse(bridge.getPackagesInfo(JSON.stringify(names)))) {
          labels[info.packageName] = info.appLabel;
        }
      }
      return { icons: true, apps: names.map((name) => ({ name: String(name), label: String(labels[name] || name) })) };
    } catch (error) {
      console.warn('package list from the bridge failed, using pm', error);
    }
  }
  const { stdout } = await run('pm list packages -3');
  const apps = stdout.split('\n').filter((l) => l.startsWith('package:'))
    .map((l) => l.slice('package:'.length).replace(/\r$/, '')).map((name) => ({ name, label: name }));
  return { icons: false, apps };
}

let installed = { icons: false, apps: [] };
let listed = new Set();

function appRow(app, isListed, isInstalled) {
  const li = el('li');
  li.dataset.search = `${app.label}\n${app.name}`.toLowerCase();
  const names = el('span', undefined, 'names');
  names.append(el('span', app.label, 'label'));
  if (app.label !== app.name) names.append(el('span', app.name, 'pkg'));
  if (!validPackage(app.name)) {
    names.append(el('span', 'not a valid package name; it cannot be listed', 'note'));
    li.append(names);
    return li;
  }
  if (installed.icons && isInstalled) {
    const icon = el('img');
    icon.alt = '';
    icon.loading = 'lazy';
    icon.src = `ksu://icon/${app.name}`;
    li.append(icon);
  }
  if (!isInstalled) {
    names.append(el('span', 'listed, but not installed', 'note'));
    const remove = el('button', 'Remove');
    remove.type = 'button';
    remove.setAttribute('aria-label', `Remove ${app.name} from the game list`);
    remove.addEventListener('click', () => change('remove', app.name, remove));
    li.append(names, remove);
    return li;
  }
  const label = el('label');
  const box = el('input');
  box.type = 'checkbox';
  box.setAttribute('role', 'switch');
  box.checked = isListed;
  box.setAttribute('aria-label', `${app.label} (${app.name}): performance profile while in front`);
  box.addEventListener('change', () => change(box.checked ? 'add' : 'remove', app.name, box));
  label.append(box, names);
  li.append(label);
  return li;
}

function render() {
  const rows = [];
  const byLabel = (a, b) => a.label.localeCompare(b.label) || a.name.localeCompare(b.name);
  const installedNames = new Set(installed.apps.map((a) => a.name));
  const apps = [...installed.apps].sort(byLabel);
  for (const app of apps.filter((a) => listed.has(a.name))) rows.push(appRow(app, true, true));
  for (const name of [...listed].filter((n) => validPackage(n) && !installedNames.has(n)).sort()) {
    rows.push(appRow({ name, label: name }, true, false));
  }
  for (const app of apps.filter((a) => !listed.has(a.name))) rows.push(appRow(app, false, true));
  $('apps').replaceChildren(...rows);
  filter();
}

function filter() {
  const query = $('search').value.trim().toLowerCase();
  for (const li of $('apps').children) li.hidden = query !== '' && !li.dataset.search.includes(query);
}

async function refreshGames() {
  const { stdout } = await run(`${GAMES} list; echo "--check--"; ${GAMES} check`);
  const [names, check = ''] = stdout.split('--check--\n');
  listed = new Set(names.split('\n').map((l) => l.replace(/\r$/, '')).filter((l) => l !== ''));
  const problems = check.split('\n').filter((l) => l !== '');
  $('problems').hidden = problems.length === 0;
  $('problems-text').textContent = problems.length === 1
    ? 'This line of game.txt can never match:' : `These ${problems.length} lines of game.txt can never match:`;
  $('problem-lines').replaceChildren(...problems.map((p) => el('li', p)));
  render();
}

async function change(action, name, control) {
  if (!validPackage(name) || (action !== 'add' && action !== 'remove')) return;
  control.disabled = true;
  const { errno, stdout, stderr } = await run(`${GAMES} ${action} ${quote(name)}`);
  $('message').textContent = errno === 0 ? stdout.trim() : `Could not change the list: ${stderr.trim() || stdout.trim()}`;
  await refreshGames();
}

async function start() {
  if (typeof globalThis.ksu === 'undefined' || typeof globalThis.ksu.exec !== 'function') {
    $('no-bridge').hidden = false;
    $('status').hidden = true;
    $('games').hidden = true;
    return;
  }
  $('search').addEventListener('input', filter);
  $('fix').addEventListener('click', async () => {
    const { stderr, errno } = await run(`${GAMES} fix`);
    $('message').textContent = errno === 0 ? 'Fixed the flagged lines.' : `Could not fix: ${stderr.trim()}`;
    await refreshGames();
  });
  const started = performance.now();
  await refreshStatus();
  installed = await installedApps();
  await refreshGames();
  document.body.dataset.ready = String(Math.round(performance.now() - started));
  setInterval(() => {
    if (document.visibilityState === 'visible') refreshStatus();
  }, 5000);
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') refreshStatus();
  });
}

start().catch((error) => {
  $('message').textContent = `Something went wrong: ${error && error.message ? error.message : error}`;
});
