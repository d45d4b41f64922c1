// The module page in a real browser (Debian's chromium, headless) behind a faithful stand-in for
// each root manager's bridge (bridge.mjs), talking to the test build of tessivarctl against a
// sandbox module and a fake device, with a stand-in pm on PATH.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { MANAGERS, openPage as open } from './bridge.mjs';

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const webroot = path.join(repo, 'module/webroot');
const bridgeLibrary = path.join(repo, 'node_modules/kernelsu/index.js');
const axeSource = fs.readFileSync(path.join(repo, 'node_modules/axe-core/axe.min.js'), 'utf8');
const ctlDir = path.resolve(repo, process.env.CTL_TEST_DIR || 'build/host/tests');
const shots = path.join(repo, 'build/webui');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessivar-webui-'));
const moddir = path.join(work, 'Drovenmarke');
const device = path.join(work, 'device');
const stubs = path.join(work, 'bin');
const gameList = path.join(moddir, 'game.txt');
const env = {
  PATH: `${stubs}:${process.env.PATH}`, TESSIVAR_MODULE_DIR: moddir, PROFILE_ROOT: device,
  TESSIVAR_FAST_PAUSES: '1', HOME: '/',
};
let browser;

// A module as installed, a device with one CPU policy and a GPU, what pm lists, and the apps
// of the game category `dumpsys game` names (for the current user).
function sandbox({ list = '', log = '', apps = [], pmFails = false, phoneGames = [], dumpsys = '' } = {}) {
  stopSupervisor();
  fs.rmSync(moddir, { recursive: true, force: true });
  fs.rmSync(device, { recursive: true, force: true });
  fs.mkdirSync(path.join(moddir, 'Scripts'), { recursive: true });
  fs.symlinkSync(path.join(ctlDir, 'tessivarctl-sandboxed'), path.join(moddir, 'tessivarctl'));
  fs.symlinkSync(path.join(ctlDir, 'daemon-standin'), path.join(moddir, 'Tessivar'));
  fs.copyFileSync(path.join(repo, 'module/module.prop'), path.join(moddir, 'module.prop'));
  fs.writeFileSync(gameList, list);
  if (log) fs.writeFileSync(path.join(moddir, 'tessivar.log'), log);
  const policy = path.join(device, 'sys/devices/system/cpu/cpufreq/policy0');
  fs.mkdirSync(policy, { recursive: true });
  fs.writeFileSync(path.join(policy, 'scaling_governor'), 'schedutil\n');
  fs.writeFileSync(path.join(policy, 'scaling_available_governors'), 'schedutil performance\n');
  const gpu = path.join(device, 'sys/class/kgsl/kgsl-3d0/devfreq');
  fs.mkdirSync(gpu, { recursive: true });
  fs.writeFileSync(path.join(gpu, 'governor'), 'msm-adreno-tz\n');
  fs.writeFileSync(path.join(gpu, 'available_governors'), 'msm-adreno-tz performance\n');
  fs.mkdirSync(path.join(device, 'proc/sys/kernel/random'), { recursive: true });
  fs.writeFileSync(path.join(device, 'proc/sys/kernel/random/boot_id'), 'boot-1\n');
  fs.writeFileSync(path.join(work, 'pm.txt'), apps.map((a) => `package:${a.name}\n`).join(''));
  fs.writeFileSync(path.join(work, 'pm-fails'), pmFails ? '1' : '');
  fs.writeFileSync(path.join(work, 'game-dump'), gameDump(phoneGames));
  fs.writeFileSync(path.join(work, 'dumpsys-mode'), dumpsys);
  return apps;
}

function ctl(...args) {
  return execFileSync(path.join(moddir, 'tessivarctl'), args, { env: { ...process.env, ...env } }).toString();
}
function stopSupervisor() {
  if (fs.existsSync(path.join(moddir, 'tessivarctl'))) {
    try { ctl('stop'); } catch { /* none running */ }
  }
}

const openPage = (options = {}) => open(browser, { webroot, bridgeLibrary, env, moddir, ...options });
const switchFor = (page, name) => page.$(`input[role=switch][aria-label$="(${name})"]`);

async function waitForList(expected) {
  for (let i = 0; i < 400; i++) {
    if (fs.readFileSync(gameList, 'latin1') === expected) return;
    await new Promise((r) => setTimeout(r, 25));
  }
  assert.equal(fs.readFileSync(gameList, 'latin1'), expected);
}

// Whatever happened, the bridge delivered every answer and nothing left the origin.
function assertClean(record) {
  assert.deepEqual(record.deliveryErrors, [], 'a javascript: URL that did not run');
  assert.deepEqual(record.errors, []);
  assert.deepEqual(record.dialogs, []);
  assert.deepEqual(record.remote, [], 'a request that left the page\'s origin');
}

// GameManagerService's dump as the newest source prints it: a header, then per game an empty
// line and its intervention list (none, or its modes).
function gameDump(games) {
  return `*Dump GameManagerService*\n${games.map((g, i) => (i % 2
    ? `\n[Name:${g} Modes: {3=[Game Mode:3,Scaling:0.7,Use Angle:false,Fps:30,Loading Boost Duration:-1]}]\n`
    : `\n No intervention found for package ${g}\n`)).join('')}`;
}

before(async () => {
  fs.mkdirSync(stubs, { recursive: true });
  fs.writeFileSync(path.join(stubs, 'dumpsys'), `#!/bin/sh
[ "$*" = game ] || exit 1
echo x >> '${work}/dumpsys-runs'
case $(cat '${work}/dumpsys-mode') in
  fail) echo "Can't find service: game" >&2; exit 1 ;;
  hang) sleep 30 ;;
  empty) exit 0 ;;
esac
cat '${work}/game-dump'
`, { mode: 0o755 });
  fs.writeFileSync(path.join(stubs, 'pm'), `#!/bin/sh
[ -s '${work}/pm-fails' ] && { echo "Error: pm is not ready" >&2; exit 1; }
case "$*" in
  "list packages -3") cat '${work}/pm.txt' ;;
  path*) grep -q "^package:$2\\$" '${work}/pm.txt' && echo "package:/data/app/$2/base.apk" ;;
  *) exit 1 ;;
esac
`, { mode: 0o755 });
  fs.mkdirSync(shots, { recursive: true });
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', `--user-data-dir=${path.join(work, 'profile')}`],
  });
});

after(async () => {
  stopSupervisor();
  if (browser) await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
});

for (const manager of Object.keys(MANAGERS).filter((m) => MANAGERS[m].exec)) {
  test(`${manager}: the switches edit the list byte for byte, one row per app, focus stays on the switch`, async () => {
    const apps = sandbox({
      list: '# my games\r\ncom.listed.game\r\n',
      // A work profile: the same app for two users.
      apps: [{ name: 'com.listed.game', label: 'Listed Game' }, { name: 'com.other.app', label: 'Other', users: 2 }],
    });
    const { page, record } = await openPage({ manager, apps });
    const offers = MANAGERS[manager];
    assert.equal((await page.$$('input[role=switch][aria-label$="(com.other.app)"]')).length, 1, 'one row per package');
    assert.match(await page.$eval('#apps li', (li) => li.textContent), /com\.listed\.game/, 'listed games come first');
    assert.equal(await (await switchFor(page, 'com.listed.game')).evaluate((b) => b.checked), true);
    const labels = await page.$$eval('input[role=switch]', (boxes) => boxes.map((b) => b.getAttribute('aria-label')));
    assert.deepEqual(labels, offers.listPackages
      ? ['Listed Game (com.listed.game)', 'Other (com.other.app)']
      : ['com.listed.game (com.listed.game)', 'com.other.app (com.other.app)']);
    assert.equal((await page.$$('img[src="ksu://icon/com.other.app"]')).length, offers.listPackages ? 1 : 0);

    // Keyboard: focus the switch, Space; the change lands and focus is where it was.
    const other = await switchFor(page, 'com.other.app');
    await other.focus();
    await page.keyboard.press('Space');
    await waitForList('# my games\r\ncom.listed.game\r\ncom.other.app\r\n');
    await page.waitForFunction(() => document.getElementById('message').textContent === 'added com.other.app');
    assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')),
      offers.listPackages ? 'Other (com.other.app)' : 'com.other.app (com.other.app)');
    assert.equal(await page.evaluate(() => document.activeElement.checked), true);
    await (await switchFor(page, 'com.listed.game')).click();
    await waitForList('# my games\r\ncom.other.app\r\n');
    assert.ok(record.commands.every((c) => /^'[^']*\/tessivarctl' (status --json( --packages)?|games suggest --json|games (add|remove) '[A-Za-z0-9_.]+')$/.test(c)),
      `only fixed commands and validated names: ${record.commands.join(' | ')}`);
    assertClean(record);
    await page.close();
  });
}

test('device text with %22, %25, separators and markup arrives as the same text and runs nothing', async () => {
  const pwned = path.join(work, 'PWNED');
  const payload = `x%22,ksu.exec(%22touch%20${encodeURIComponent(pwned)}%22,%22{}%22,%22x%22),%22.y`;
  const apps = sandbox({
    list: 'com.pct%22x\n--check--\ncom.listed.game\n',
    log: `State change detected: 2 -> 1. Screen: 1, Focus: '${payload}'\n--log--\nafter %25 </script>\n`,
    apps: [{ name: 'com.listed.game', label: 'Listed %22 </script> \u202Eevil' }, { name: 'com.percent%25x' }],
  });
  for (const manager of ['kernelsu', 'webui-host-on-magisk']) {
    const { page, record } = await openPage({ manager, apps });
    assert.equal(fs.existsSync(pwned), false, 'a command from device text ran');
    const log = await page.$$eval('#log div', (lines) => lines.map((l) => l.textContent));
    assert.deepEqual(log.slice(-3), [`State change detected: 2 -> 1. Screen: 1, Focus: '${payload}'`, '--log--', 'after %25 </script>']);
    assert.deepEqual(await page.$$eval('#changes li', (l) => l.map((x) => x.textContent)), [`performance (screen on, ${payload})`]);
    assert.deepEqual(await page.$$eval('#problem-lines li', (l) => l.map((x) => x.textContent)),
      ["line 1: not a valid Android package name: com.pct%22x", 'line 2: not a valid Android package name: --check--']);
    assert.equal(await (await switchFor(page, 'com.listed.game')).evaluate((b) => b.checked), true, 'a separator in the list changes nothing');
    if (manager === 'kernelsu') {
      assert.match(await page.$eval('#apps li', (li) => li.textContent), /Listed %22 <\/script> ⟨U\+202E⟩evil/);
    } else {
      assert.ok((await page.$$eval('#apps li', (l) => l.map((x) => x.textContent))).some((t) => t.includes('com.percent%25x')));
    }
    assert.equal(await page.$$eval('script', (s) => s.length), 1, 'no element injected');
    assertClean(record);
    await page.close();
  }
});

test('truth on screen: a stale pid file, a missing control program, pm failing', async () => {
  const apps = sandbox({ list: 'com.listed.game\n', apps: [{ name: 'com.listed.game' }] });
  // After a reboot the pid files name other processes: this test's own, alive.
  fs.writeFileSync(path.join(moddir, 'tessivar.pid'), `${process.pid}\n`);
  fs.writeFileSync(path.join(moddir, 'tessivar.daemon.pid'), `${process.pid}\n`);
  let opened = await openPage({ apps });
  assert.equal(await opened.page.$eval('#daemon', (e) => e.textContent), 'not running');
  // The control program goes away while the page is open: the next change says why, and the
  // list stays as it was.
  fs.unlinkSync(path.join(moddir, 'tessivarctl'));
  await (await switchFor(opened.page, 'com.listed.game')).click();
  await opened.page.waitForSelector('#error:not([hidden])');
  assert.match(await opened.page.$eval('#error', (e) => e.textContent), /^Could not change the game list: .*tessivarctl/);
  assert.equal(fs.readFileSync(gameList, 'latin1'), 'com.listed.game\n');
  assert.equal(await opened.page.$eval('#error', (e) => e.getAttribute('role')), 'alert');
  await opened.page.close();

  sandbox({ list: 'com.listed.game\n', pmFails: true });
  opened = await openPage({ manager: 'webui-host-on-magisk' });
  assert.match(await opened.page.$eval('#error', (e) => e.textContent), /^Could not list the installed apps: pm list packages failed/);
  assert.equal(await opened.page.$eval('#daemon', (e) => e.textContent), 'not running');
  await opened.page.close();
});

test('taps while a change is in flight are queued, in order, and the switches match game.txt', async () => {
  const apps = sandbox({
    list: 'com.listed.game\ncom.gone.game\n',
    apps: [{ name: 'com.listed.game', label: 'Listed' }, { name: 'com.a.app', label: 'A' }, { name: 'com.b.app', label: 'B' }],
  });
  const { page, record } = await openPage({ apps });
  // Three taps before the first answer: two apps added, one switched on and off again.
  await page.evaluate(() => {
    const box = (n) => document.querySelector(`input[role=switch][aria-label$="(${n})"]`);
    box('com.a.app').click();
    box('com.b.app').click();
    box('com.listed.game').click();
    box('com.listed.game').click();
  });
  // In order: the two adds, then the listed game taken off and put back (at the end).
  await waitForList('com.gone.game\ncom.a.app\ncom.b.app\ncom.listed.game\n');
  await page.waitForFunction(() => !document.querySelector('[aria-busy]'));
  await page.waitForFunction(() => document.getElementById('message').textContent === 'added com.listed.game');
  const checked = await page.$$eval('input[role=switch]', (boxes) => boxes.map((b) => `${b.getAttribute('aria-label')}=${b.checked}`));
  assert.deepEqual(checked.sort(), ['A (com.a.app)=true', 'B (com.b.app)=true', 'Listed (com.listed.game)=true']);
  // A listed game that is not installed: one control, and no icon asked for.
  assert.deepEqual(await page.$$eval('#apps li[data-name="com.gone.game"] button, #apps li[data-name="com.gone.game"] input',
    (c) => c.map((x) => x.textContent)), ['Remove']);
  assert.ok(!record.icons.some((u) => u.includes('com.gone.game')), record.icons.join(' '));
  assert.ok(record.icons.some((u) => u.includes('com.a.app')));
  assertClean(record);
  await page.close();
});

// Where each row is drawn on screen, by package name.
const rowBoxes = (page) => page.$$eval('#apps li', (rows) => rows.map((r) => {
  const b = r.getBoundingClientRect();
  return `${r.dataset.name} ${Math.round(b.top)} ${Math.round(b.height)}`;
}));
async function centreOf(handle) {
  const b = await handle.boundingBox();
  return [b.x + b.width / 2, b.y + b.height / 2];
}

test('a tap moves nothing under the finger: the next tap lands on the row it was aimed at; the list re-sorts once the user scrolls', async () => {
  const apps = sandbox({
    list: 'com.gamma.game\ncom.gone.game\n',
    apps: [{ name: 'com.alpha.app', label: 'Alpha' }, { name: 'com.beta.app', label: 'Beta' },
      { name: 'com.gamma.game', label: 'Gamma' }, { name: 'org.delta.app', label: 'Delta' }],
  });
  const { page, record } = await openPage({ apps });
  await page.$eval('#search', (s) => s.scrollIntoView());  // the list in view, as a finger finds it
  const drawn = await rowBoxes(page);
  const gamma = await centreOf(await switchFor(page, 'com.gamma.game'));
  const gone = await centreOf(await page.$('#apps li[data-name="com.gone.game"] button'));
  await page.mouse.click(...await centreOf(await switchFor(page, 'com.alpha.app')));
  await waitForList('com.gamma.game\ncom.gone.game\ncom.alpha.app\n');
  await page.waitForFunction(() => document.getElementById('message').textContent === 'added com.alpha.app');
  assert.deepEqual(await rowBoxes(page), drawn, 'a row moved after the first tap');
  // Aimed where Gamma was: Gamma comes off, nothing else.
  await page.mouse.click(...gamma);
  await waitForList('com.gone.game\ncom.alpha.app\n');
  await page.waitForFunction(() => document.getElementById('message').textContent === 'removed com.gamma.game');
  // A listed game that is not installed keeps its row once removed, until the user scrolls.
  await page.mouse.click(...gone);
  await waitForList('com.alpha.app\n');
  await page.waitForFunction(() => document.getElementById('message').textContent === 'removed com.gone.game', { timeout: 3000 })
    .catch(async (e) => { throw new Error(`${e.message}: ${await page.$eval('#message', (m) => m.textContent)} / ${fs.readFileSync(gameList, 'latin1')}`); });
  assert.deepEqual(await rowBoxes(page), drawn, 'a row moved after the later taps');
  // A change that fails says so, and moves nothing either.
  const broken = path.join(moddir, 'tessivarctl');
  fs.renameSync(broken, `${broken}.away`);
  await page.mouse.click(...gamma);
  await page.waitForFunction(() => /Could not change the game list/.test(document.body.textContent));
  assert.deepEqual(await rowBoxes(page), drawn, 'a row moved after a failed change');
  fs.renameSync(`${broken}.away`, broken);
  // Once the user scrolls, the list is in order again: listed games first.
  await page.mouse.wheel({ deltaY: -40 });
  await page.waitForFunction(() => [...document.querySelectorAll('#apps li')].map((l) => l.dataset.name).join(' ')
    === 'com.alpha.app com.beta.app org.delta.app com.gamma.game');
  assert.deepEqual(record.errors, []);
  await page.close();
});

test('presets: a listed game\'s own, the default, and what is in force with its back-off', async () => {
  const apps = sandbox({
    list: 'com.listed.game\n',
    apps: [{ name: 'com.listed.game', label: 'Listed' }, { name: 'com.a.app', label: 'A' }],
  });
  const since = Math.floor(new Date(2026, 0, 1, 14, 2).getTime() / 1000);
  fs.writeFileSync(path.join(moddir, 'current_profile'), `performance\nboot-1 5\nP sustained com.listed.game\nX MODERATE ${since}\n`);
  // The supervisor's record of this launch: a knob set again once, one left to the system.
  fs.writeFileSync(path.join(moddir, 'game_watch'),
    'boot-1 5\nB 1 0 policy4 up_rate_limit_us\nB 6 1 top-app cpu.uclamp.min\nF no top-app cpuset\n');
  const { page, record } = await openPage({ apps });
  assert.equal(await page.$eval('#preset', (e) => e.textContent),
    'sustained for com.listed.game; another game in front is not followed (no top-app cpuset)');
  assert.equal(await page.$eval('#thermal', (e) => e.textContent), 'backed off: thermal MODERATE since 14:02');
  assert.equal(await page.$eval('#taken-back', (e) => e.textContent),
    'policy4 up_rate_limit_us 1 time, set again; top-app cpu.uclamp.min 6 times, left to the system');
  // Only a listed game has a preset to choose.
  const selects = await page.$$eval('#apps select', (s) => s.map((x) => `${x.getAttribute('aria-label')} ${x.hidden}`));
  assert.deepEqual(selects.sort(), ['Preset for A (com.a.app) true', 'Preset for Listed (com.listed.game) false']);
  await page.select('select[aria-label="Preset for Listed (com.listed.game)"]', 'max');
  for (let i = 0; i < 400 && !fs.existsSync(path.join(moddir, 'presets.txt')); i++) await new Promise((r) => setTimeout(r, 25));
  await page.waitForFunction(() => !document.querySelector('[aria-busy]'));
  await page.select('#default-preset', 'battery');
  await page.waitForFunction(() => document.getElementById('message').textContent === 'default: battery');
  assert.equal(fs.readFileSync(path.join(moddir, 'presets.txt'), 'latin1'), 'com.listed.game max\n* battery\n');
  assert.equal(await page.$eval('select[aria-label="Preset for Listed (com.listed.game)"]', (s) => s.value), 'max');
  await page.select('select[aria-label="Preset for Listed (com.listed.game)"]', '');
  await page.waitForFunction(() => document.getElementById('message').textContent === 'com.listed.game: battery (the default)');
  assert.equal(fs.readFileSync(path.join(moddir, 'presets.txt'), 'latin1'), '* battery\n');
  assert.ok(record.commands.every((c) => /^'[^']*\/tessivarctl' (status --json( --packages)?|games suggest --json|preset (set '[A-Za-z0-9_.]+' (sustained|max|battery)|set default (sustained|max|battery)|clear '[A-Za-z0-9_.]+'))$/.test(c)),
    record.commands.join(' | '));
  assertClean(record);
  await page.close();
});

// Sessions on record, as the supervisor writes them: a summary line each in sessions/index and
// its rows in sessions/<start>-<game>.tsv. Optional: the exact duration in seconds, a span of
// seconds on the charger, a span with the second cluster offline, the clusters' CPUs, and
// (format2) the frame rate each sample read from `fpsNode`, none in the span `noFps`.
function recordSessions(list) {
  const dir = path.join(moddir, 'sessions');
  fs.mkdirSync(dir, { recursive: true });
  let index = '';
  const inside = (t, span) => Boolean(span) && t >= span[0] && t < span[1];
  for (const s of list) {
    const rows = [];
    const duration = s.durationS ?? s.minutes * 60;
    for (let t = 0; t <= duration; t += 5) {
      const hot = t >= duration * 2 / 3 ? 2 : 1;
      rows.push([t * 1000, inside(t, s.charger) ? 1 : 0, 2400 + (t % 60) * 10, 360 + Math.round(t / 12), 80, hot, 0, 500, 585000, 2,
        t ? 300 : -1, 1800000, 1800000, t && !inside(t, s.offline) ? 600 : -1, 2400000, 2400000,
        ...(s.format2 ? [s.fpsNode && !inside(t, s.noFps) ? 600 - Math.round((t * t) / 12000) - (t % 20) : -1] : [])].join('\t'));
    }
    const clusters = s.clusters ? `# clusters ${s.clusters}\n` : '';
    fs.writeFileSync(path.join(dir, `${s.start}-${s.game}.tsv`), `# session ${s.start} ${s.game} ${s.preset}\n${clusters}${rows.join('\n')}\n`);
    const frames = s.fps ? `frames_known=1 frames=${Math.round(s.fps * duration)} dropped=3 fps_x100=${Math.round(s.fps * 100)} low_fps_x100=${Math.round(s.fps * 80)}`
      : 'frames_known=0 frames=0 dropped=0 fps_x100=0 low_fps_x100=0';
    const moderate = s.durationS ?? Math.round(duration * 2 / 3);
    index += `start=${s.start} game=${s.game} preset=${s.preset} duration_s=${duration} energy_mwh_x10=${Math.round(duration * 20 / 3)} discharging_s=${duration} mean_mw=2400 peak_temp_dc=${s.peak} mean_temp_dc=380 levels_s=0,${moderate},${duration - moderate},0,0,0,0 first_moderate_s=${moderate} top_permille=300,600 samples=${rows.length} throttled_samples=0 ${frames}${s.format2 ? ` format=2${s.fpsNode ? ` fps_mean_x10=585 fps_node=${s.fpsNode}` : ''}` : ''}\n`;
  }
  fs.writeFileSync(path.join(dir, 'index'), index);
}

test('sessions: thirty listed (the time printed), charts with their tables, hostile labels inert, comparisons with 0, 1 and many sessions, try both', async () => {
  const pwned = path.join(work, 'PWNED');
  const apps = sandbox({
    list: 'com.example.game\ncom.tencent.ig\n',
    apps: [{ name: 'com.example.game', label: `Racing </script><img src=x onerror="fetch('/x')"> %22 \u202Eevil` },
      { name: 'com.tencent.ig', label: 'PUBG MOBILE' }, { name: 'com.quiet.app', label: 'Quiet' }],
  });
  const sessions = [];
  for (let i = 0; i < 30; i++) {
    const game = i < 24 ? 'com.example.game' : 'com.tencent.ig';
    sessions.push({ start: 1765000000 + i * 3600, game, preset: i % 2 ? 'max' : 'sustained', minutes: 10 + (i % 5), fps: i % 2 ? 59 : 57, peak: i % 2 ? 440 : 405 });
  }
  recordSessions(sessions);
  for (const scheme of ['light', 'dark']) {
    const started = Date.now();
    const { page, record } = await openPage({ apps, scheme });
    await page.waitForFunction(() => document.querySelectorAll('#session-list li').length === 30);
    // How long it took is printed, not asserted: a test never fails because the machine is busy.
    const own = Number(await page.$eval('body', (b) => b.dataset.ready));
    console.log(`30 sessions listed ${own} ms after the page started (${Date.now() - started} ms with the browser)`);
    const first = await page.$eval('#session-list li button', (b) => b.textContent);
    assert.match(first, /^PUBG MOBILE · max · 14 min · 59\.0 fps · 2\.40 W · 44\.0 °C$/);
    const labels = await page.$$eval('#session-list li button', (b) => b.map((x) => x.textContent));
    assert.ok(labels.some((l) => l.startsWith('Racing </script><img src=x onerror="fetch(\'/x\')"> %22 ⟨U+202E⟩evil · ')), labels[10]);
    assert.equal(await page.$$eval('#sessions img', (i) => i.length), 0, 'no element from a label');
    // One session's charts: three pictures, each with a table of its numbers.
    await page.click('#session-list li:nth-child(2) button');
    await page.waitForFunction(() => document.querySelectorAll('#session-charts figure > svg').length === 3);
    assert.equal(await page.$$eval('#session-charts figure table', (t) => t.length), 3);
    assert.ok(await page.$$eval('#session-charts .mark', (m) => m.length) >= 1, 'the back-off is marked');
    assert.match(await page.$eval('#session-charts p', (p) => p.textContent), /Frames: \d+ \(3 dropped\), 57\.0 fps on average/);
    // The comparison: many sessions per preset for the game played most recently... 
    await page.select('#compare-game', 'com.example.game');
    assert.match(await page.$eval('#compare-note', (p) => p.textContent), /^Medians over 12 max sessions and 12 sustained sessions on this phone\.$/);
    const table = await page.$$eval('#compare-table tr', (rows) => rows.map((r) => [...r.children].map((c) => c.textContent).join('|')));
    assert.deepEqual(table, ['preset|max|sustained', 'sessions|12|12', 'median fps|59.0|57.0', '5th pct fps|47.2|45.6',
      'mWh per min|40.0|40.0', 'min to MODERATE|8.0 (12)|8.0 (12)', 'peak °C|44.0|40.5']);
    // ... too few for the other game.
    await page.select('#compare-game', 'com.tencent.ig');
    assert.match(await page.$eval('#compare-note', (p) => p.textContent), /^Too few sessions to say anything yet: each preset needs at least 3 \(max 3, sustained 3\)|^Medians over/);
    assert.equal(fs.existsSync(pwned), false);
    assertClean(record);
    await page.close();
  }
  // One session: nothing to compare; try both starts six sessions by turns.
  recordSessions([{ start: 1765000000, game: 'com.tencent.ig', preset: 'sustained', minutes: 5, fps: 0, peak: 400 }]);
  let opened = await openPage({ apps });
  await opened.page.waitForFunction(() => document.querySelectorAll('#session-list li').length === 1);
  assert.match(await opened.page.$eval('#compare-note', (p) => p.textContent), /^Only sustained has been played \(1 session\): there is nothing to compare yet\./);
  assert.match(await opened.page.$eval('#session-list li button', (b) => b.textContent), /frames: n\/a/);
  await opened.page.click('#try-both');
  await opened.page.waitForFunction(() => document.getElementById('try-both').textContent.startsWith('Stop trying both (6 sessions left)'));
  assert.equal(fs.readFileSync(path.join(moddir, 'trials.txt'), 'latin1'), 'com.tencent.ig 6\n');
  await opened.page.click('#try-both');
  await opened.page.waitForFunction(() => document.getElementById('try-both').textContent.startsWith('Try both'));
  assert.equal(fs.readFileSync(path.join(moddir, 'trials.txt'), 'latin1'), '');
  await opened.page.close();
  // None at all.
  fs.rmSync(path.join(moddir, 'sessions'), { recursive: true, force: true });
  opened = await openPage({ apps });
  assert.equal(await opened.page.$eval('#sessions-empty', (p) => p.hidden), false);
  assert.equal(await opened.page.$eval('#compare-note', (p) => p.textContent), 'Nothing to compare yet.');
  assert.equal(await opened.page.$eval('#compare-game', (d) => d.getClientRects().length), 0, 'an empty drop-down is drawn');
  assert.equal(await opened.page.$eval('#try-both', (b) => b.hidden), true);
  await opened.page.close();
});

// Everything drawn inside `selector` that lies beyond the 360 px screen or is cut by a box it
// scrolls in.
const offScreen = (page, selector) => page.$$eval(`${selector} *`, (nodes) => nodes.filter((n) => {
  const b = n.getBoundingClientRect();
  if (!b.width || n.closest('.sr-only')) return false;
  for (let up = n.parentElement; up; up = up.parentElement) if (up.scrollWidth > up.clientWidth + 1 && getComputedStyle(up).overflowX !== 'visible') return true;
  return b.left < 0 || b.right > 360;
}).map((n) => `${n.tagName} ${n.textContent.slice(0, 30)}`));

// axe-core finds nothing serious or critical on the page as it is drawn now.
async function assertAxeClean(page, scheme) {
  await page.evaluate(axeSource);
  const result = await page.evaluate(() => globalThis.axe.run(document, { resultTypes: ['violations'] }));
  const bad = result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  assert.deepEqual(bad.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(', ')}`), [], scheme);
}

test('charts that explain themselves at 360 px, light and dark: legend by CPUs, minutes along x, the range on y, gaps, the back-off in the legend; the whole comparison on screen', async () => {
  const apps = sandbox({ list: 'com.example.game\n', apps: [{ name: 'com.example.game', label: 'Example Racing' }] });
  // 20 minutes: on the charger from 5:00 to 7:00, the second cluster offline from 10:00 to 12:00,
  // MODERATE from 13:20.
  recordSessions([
    { start: 1763000000, game: 'com.example.game', preset: 'sustained', minutes: 20, fps: 57, peak: 420, format2: true },
    ...Array.from({ length: 4 }, (_, i) => ({ start: 1764000000 + i * 7200, game: 'com.example.game', preset: i % 2 ? 'max' : 'sustained', minutes: 20, fps: 55 + i, peak: 430 })),
    { start: 1765000000, game: 'com.example.game', preset: 'max', minutes: 20, fps: 58, peak: 446, charger: [300, 420], offline: [600, 720], clusters: '0-3 4-7',
      format2: true, fpsNode: '/sys/class/drm/sde-crtc-0/measured_fps', noFps: [900, 960] },
  ]);
  for (const scheme of ['light', 'dark']) {
    const { page, record } = await openPage({ apps, scheme });
    await page.click('#session-list li:first-child button');
    await page.waitForFunction(() => document.querySelectorAll('#session-charts figure > svg').length >= 3);
    const figures = await page.$$eval('#session-charts figure', (list) => list.filter((f) => f.querySelector(':scope > svg')).map((f) => {
      const svg = f.querySelector(':scope > svg');
      const scale = svg.getBoundingClientRect().width / svg.viewBox.baseVal.width;
      const legend = f.querySelector('.legend');
      const strokeOf = (e) => getComputedStyle(e).stroke;
      return {
        title: f.querySelector('figcaption').textContent,
        ticks: [...svg.querySelectorAll('.x-tick')].map((t) => ({ text: t.textContent, x: Number(t.getAttribute('x')) })),
        yLabels: [...svg.querySelectorAll('.y-label')].map((t) => t.textContent),
        segments: [...svg.querySelectorAll('polyline.line')].map((l) => ({
          series: l.dataset.series, stroke: strokeOf(l),
          xs: l.getAttribute('points').trim().split(' ').map((p) => Number(p.split(',')[0])),
        })),
        legend: legend ? [...legend.querySelectorAll('li')].map((li) => ({
          text: li.textContent, drawn: li.getBoundingClientRect().height > 0 && li.getBoundingClientRect().height < 24, stroke: strokeOf(li.querySelector('line')),
        })) : [],
        scale,
      };
    }));
    const byTitle = (re) => figures.find((f) => re.test(f.title));
    for (const f of figures) {
      // Minutes along x: a few ticks, in order, the last with its unit; the range on y.
      assert.ok(f.ticks.length >= 3 && f.ticks.length <= 5, `${f.title}: ${f.ticks.length} ticks`);
      assert.ok(f.ticks.every((t, i) => /^\d+( min)?$/.test(t.text) && (!i || t.x > f.ticks[i - 1].x)), JSON.stringify(f.ticks));
      assert.match(f.ticks.at(-1).text, / min$/);
      assert.equal(f.yLabels.length, 2, f.title);
      // The back-off is drawn, so it is in the legend.
      assert.ok(f.legend.some((l) => /back-off/.test(l.text) && l.drawn), `${f.title}: ${JSON.stringify(f.legend)}`);
    }
    // Seconds to the picture's x, from two ticks.
    const xAt = (f, seconds) => {
      const [a, b] = f.ticks;
      return a.x + ((b.x - a.x) * seconds) / ((Number.parseInt(b.text, 10) - Number.parseInt(a.text, 10)) * 60);
    };
    // No line across a span without samples: no two neighbouring points on either side of it.
    const crosses = (f, series, [from, to]) => f.segments.filter((s) => s.series === series)
      .some((s) => s.xs.some((x, i) => i && s.xs[i - 1] < xAt(f, from) && x > xAt(f, to - 5)));
    const power = byTitle(/^Power/);
    assert.ok(power.segments.length >= 2, 'the charger leaves a gap');
    assert.equal(crosses(power, 'power', [300, 420]), false, 'a line across the charger');
    const top = byTitle(/^Time at the top/);
    assert.equal(crosses(top, 'CPUs 4-7', [600, 720]), false, 'a line across the offline cluster');
    const within = (f, series, [from, to]) => f.segments.filter((s) => s.series === series)
      .some((s) => s.xs.some((x) => x > xAt(f, from) && x < xAt(f, to)));
    assert.equal(within(top, 'CPUs 0-3', [600, 720]), true, 'the other cluster carries on');
    assert.equal(within(top, 'CPUs 4-7', [605, 720]), false, 'a point of the offline cluster');
    // Which line is which cluster: the legend names them by CPU, in the lines' own colours.
    const named = top.legend.filter((l) => /^CPUs /.test(l.text));
    assert.deepEqual(named.map((l) => [l.text, l.drawn]), [['CPUs 0-3', true], ['CPUs 4-7', true]]);
    for (const l of named) assert.equal(l.stroke, top.segments.find((s) => s.series === l.text).stroke, l.text);
    assert.notEqual(named[0].stroke, named[1].stroke);
    // The frame rate over time, its source named under it, a gap where no reading came.
    const rate = byTitle(/^Frame rate/);
    assert.ok(rate, 'no frame-rate chart');
    assert.equal(crosses(rate, 'frame rate', [900, 960]), false, 'a line across the missing readings');
    assert.match(await page.$eval('#session-charts figure', (f) => f.textContent), /^Frame rate \(fps\).*Source: frames the display showed/);
    // A chart of one line has no legend entry for it, only for the mark.
    assert.deepEqual(byTitle(/^Battery/).legend.map((l) => l.text), ['thermal back-off']);
    assert.deepEqual(await offScreen(page, '#session-detail'), [], scheme);
    // A phone with no frame-rate node says so, plainly.
    await page.click('#session-list li:last-child button');
    await page.waitForFunction(() => /this phone does not report it/.test(document.getElementById('session-charts').textContent));
    assert.equal(await page.$$eval('#session-charts figure > svg', (l) => l.length), 3);
    await page.click('#session-list li:first-child button');
    await page.waitForFunction(() => document.querySelectorAll('#session-charts figure > svg').length === 4);
    // The comparison: every column on screen, nothing in a scroll box.
    await page.select('#compare-game', 'com.example.game');
    const cells = await page.$$eval('#compare-table th, #compare-table td', (c) => c.map((x) => x.textContent));
    for (const h of ['median fps', '5th pct fps', 'mWh per min', 'min to MODERATE', 'peak °C']) assert.ok(cells.includes(h), h);
    assert.deepEqual(await offScreen(page, '#sessions'), [], scheme);
    await assertAxeClean(page, scheme);
    assertClean(record);
    await page.close();
  }
});

test('minutes are rounded alike on the page and by tessivarctl sessions', async () => {
  const apps = sandbox({ list: '', apps: [] });
  const table = [[30, '30 s'], [59, '59 s'], [60, '1 min'], [89, '1 min'], [90, '2 min'], [95, '2 min'], [149, '2 min'], [3599, '60 min']];
  recordSessions(table.map(([seconds], i) => ({ start: 1765000000 + i * 3600, game: `com.game.n${i}`, preset: 'sustained', durationS: seconds, fps: 0, peak: 400 })));
  const printed = ctl('sessions').trim().split('\n').reverse();
  const { page } = await openPage({ apps });
  const shown = (await page.$$eval('#session-list li button', (b) => b.map((x) => x.textContent))).reverse();
  table.forEach(([seconds, text], i) => {
    assert.match(shown[i], new RegExp(`^com\\.game\\.n${i} · sustained · ${text} · `), `page, ${seconds} s`);
    assert.match(printed[i], new RegExp(`^com\\.game\\.n${i} \\(sustained\\): ${text}, .*, MODERATE after ${text}([,;]|$)`), `tessivarctl, ${seconds} s`);
  });
  await page.close();
});

test('a control program missing, not executable, failing or cut off before any status: everything reads "unknown", never "off"', async () => {
  const program = path.join(moddir, 'tessivarctl');
  const replace = (text, mode) => { fs.unlinkSync(program); fs.writeFileSync(program, text, { mode }); };
  const cases = [
    ['missing', () => fs.unlinkSync(program)],
    ['not executable', () => replace('#!/bin/sh\necho "{}"\n', 0o644)],
    ['failing', () => replace('#!/bin/sh\necho "status: cannot read the module directory" >&2\nexit 3\n', 0o755)],
    ['cut-off JSON', (whole) => {
      fs.writeFileSync(path.join(work, 'cut.json'), whole.slice(0, Math.floor(whole.length / 2)));
      replace(`#!/bin/sh\ncat '${path.join(work, 'cut.json')}'\n`, 0o755);
    }],
  ];
  for (const [name, breakIt] of cases) {
    const apps = sandbox({ list: 'com.listed.game\n', apps: [{ name: 'com.listed.game', label: 'Listed' }, { name: 'com.a.app', label: 'A' }] });
    recordSessions([{ start: 1765000000, game: 'com.listed.game', preset: 'max', minutes: 5, fps: 50, peak: 400 }]);
    breakIt(ctl('status', '--json'));
    const { page } = await openPage({ apps });
    assert.match(await page.$eval('#error', (e) => e.textContent), /^Could not read Tessivar's status: ./, name);
    for (const id of ['daemon', 'profile', 'preset', 'thermal', 'boosted', 'switch']) {
      assert.equal(await page.$eval(`#${id}`, (e) => e.textContent), 'unknown', `${name}: ${id}`);
    }
    // What a screen reader hears and what is drawn: neither on nor off, and the word.
    const heard = [];
    const walk = (node) => {
      if (/\(com\.(listed\.game|a\.app)\)$/.test(node.name || '')) heard.push(`${node.name} ${node.checked} ${node.disabled}`);
      for (const child of node.children || []) walk(child);
    };
    walk(await page.accessibility.snapshot({ interestingOnly: false }));
    assert.deepEqual(heard.sort(), ['A (com.a.app) mixed true', 'Listed (com.listed.game) mixed true'], name);
    assert.deepEqual(await page.$$eval('#apps li', (rows) => rows.map((r) => r.innerText.includes('unknown'))), [true, true], name);
    // Nothing claims there are no sessions, and no control that cannot work is offered.
    assert.equal(await page.$eval('#sessions-empty', (p) => p.getClientRects().length), 0, name);
    const live = await page.$$eval('button, select, input', (c) => c.filter((e) => e.getClientRects().length && !e.disabled && e.id !== 'search').map((e) => e.id || e.getAttribute('aria-label')));
    assert.deepEqual(live, [], name);
    await page.close();
  }
});

test('nothing is wider than a 360 px screen', async () => {
  const long = `com.${'verylongname'.repeat(60)}`;
  const apps = sandbox({
    list: `${long} # a remark that never ends ${'x'.repeat(3000)}\n`,
    log: `${'y'.repeat(5000)}\n`,
    apps: [{ name: long, label: 'L'.repeat(400) }],
  });
  const { page } = await openPage({ apps });
  await page.$eval('#log-panel', (d) => { d.open = true; });
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 360),
    `the page is ${await page.evaluate(() => document.documentElement.scrollWidth)} px wide`);
  await page.close();
});

test('keyboard only, and no serious or critical accessibility violation', async () => {
  const apps = sandbox({ list: 'com.listed.game\n com.spaced.game\n', apps: [{ name: 'com.listed.game', label: 'Listed' }, { name: 'com.b.app', label: 'B' }] });
  for (const scheme of ['light', 'dark']) {
    const { page, record } = await openPage({ apps, scheme });
    await page.$eval('#log-panel', (d) => { d.open = true; });
    await assertAxeClean(page, scheme);
    assertClean(record);
    await page.close();
  }
  // Tab from the top reaches every control; Space on a switch toggles it and keeps focus.
  const { page } = await openPage({ apps });
  const reached = [];
  for (let i = 0; i < 12; i++) {
    await page.keyboard.press('Tab');
    reached.push(await page.evaluate(() => document.activeElement.getAttribute('aria-label') || document.activeElement.id || document.activeElement.tagName));
  }
  assert.ok(reached.includes('fix') && reached.includes('search') && reached.includes('B (com.b.app)'), reached.join(' | '));
  while (await page.evaluate(() => document.activeElement.getAttribute('aria-label')) !== 'B (com.b.app)') await page.keyboard.press('Tab');
  await page.keyboard.press('Space');
  await waitForList('com.listed.game\n com.spaced.game\ncom.b.app\n');
  await page.waitForFunction(() => document.getElementById('message').textContent === 'added com.b.app');
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'B (com.b.app)');
  await page.close();
});

test('without a bridge the page says so in one sentence and runs nothing', async () => {
  sandbox();
  const { page, record } = await openPage({ manager: 'none' });
  await page.waitForSelector('#no-bridge:not([hidden])');
  assert.match(await page.$eval('#no-bridge', (e) => e.textContent), /^[^.]*root manager[^.]*\.$/);
  assert.equal(await page.$eval('#games', (e) => e.hidden), true);
  // No control that cannot work: every one drawn is disabled.
  const live = await page.$$eval('button, select, input, summary', (c) => c.filter((e) => e.getClientRects().length && !e.disabled).map((e) => e.id || e.tagName));
  assert.deepEqual(live, []);
  assert.deepEqual(record.commands, []);
  assertClean(record);
  await page.close();
});

test('a real state: a game in front, its switch on, a few changes (screenshots)', async () => {
  const apps = sandbox({
    list: '# my games\ncom.example.game\ncom.tencent.ig\n',
    apps: [{ name: 'com.example.game', label: 'Example Racing' }, { name: 'com.tencent.ig', label: 'PUBG MOBILE' },
      { name: 'com.android.chrome', label: 'Chrome' }, { name: 'org.videolan.vlc', label: 'VLC' }],
  });
  fs.writeFileSync(path.join(moddir, 'standin-mode'), `say
Tessivar Next Gen Monitor Started (Combined Dumpsys).
State change detected: 0 -> 2. Screen: 1, Focus: 'com.android.launcher3'
State change detected: 2 -> 1. Screen: 1, Focus: 'com.tencent.ig'
State change detected: 1 -> 2. Screen: 0, Focus: '<none>'
State change detected: 2 -> 1. Screen: 1, Focus: 'com.example.game'
`);
  const supervisor = spawn(path.join(moddir, 'tessivarctl'), ['supervise'], { env: { ...process.env, ...env }, stdio: 'ignore' });
  for (let i = 0; i < 200 && !fs.existsSync(path.join(moddir, 'tessivar.daemon.pid')); i++) await new Promise((r) => setTimeout(r, 25));
  await new Promise((r) => setTimeout(r, 300));
  ctl('profile', 'performance');
  for (const scheme of ['light', 'dark']) {
    const { page, record } = await openPage({ apps, scheme });
    const daemonPid = fs.readFileSync(path.join(moddir, 'tessivar.daemon.pid'), 'utf8').trim();
    assert.equal(await page.$eval('#daemon', (e) => e.textContent), `running (pid ${daemonPid}, supervisor ${supervisor.pid})`);
    assert.equal(await page.$eval('#profile', (e) => e.textContent), 'performance');
    assert.equal(await page.$eval('#switch', (e) => e.textContent), 'on');
    assert.equal(await (await switchFor(page, 'com.example.game')).evaluate((b) => b.checked), true);
    assert.deepEqual(await page.$$eval('#changes li', (l) => l.map((x) => x.textContent)), [
      'performance (screen on, com.example.game)', 'balanced (screen off, <none>)', 'performance (screen on, com.tencent.ig)']);
    await page.screenshot({ path: path.join(shots, `webui-${scheme}.png`) });
    assertClean(record);
    await page.close();
  }
  stopSupervisor();
  // The evidence for the README: a few sessions of each preset, one opened, and the comparison.
  recordSessions(Array.from({ length: 8 }, (_, i) => ({
    start: 1765000000 + i * 7200, game: 'com.example.game', preset: i % 2 ? 'max' : 'sustained',
    minutes: 20 + i, fps: i % 2 ? 58.4 : 56.9, peak: i % 2 ? 446 : 411, clusters: '0-3 4-7', charger: [480, 600], offline: [780, 900],
    format2: true, fpsNode: '/sys/class/drm/sde-crtc-0/measured_fps', noFps: [480, 540],
  })));
  const { page } = await openPage({ apps });
  await page.click('#session-list li:nth-child(2) button');
  await page.waitForFunction(() => document.querySelectorAll('#session-charts figure > svg').length === 4);
  await page.$eval('#session-title', (d) => d.scrollIntoView());
  await page.screenshot({ path: path.join(shots, 'session-light.png') });
  await page.$eval('#compare-choice', (d) => d.previousElementSibling.scrollIntoView());
  await page.screenshot({ path: path.join(shots, 'compare-light.png') });
  await page.close();
  // The cluster chart and its legend, dark.
  const dark = await openPage({ apps, scheme: 'dark' });
  await dark.page.click('#session-list li:nth-child(2) button');
  await dark.page.waitForFunction(() => document.querySelectorAll('#session-charts figure > svg').length === 4);
  await dark.page.$eval('#session-charts figure:nth-of-type(3)', (d) => d.scrollIntoView());
  await dark.page.screenshot({ path: path.join(shots, 'session-dark.png') });
  await dark.page.close();
});

test('2,000 installed apps: the search draws only the matches; how long the page takes (printed)', async () => {
  const apps = sandbox({
    list: 'com.vendor1.app1\n',
    apps: Array.from({ length: 2000 }, (_, i) => ({ name: `com.vendor${i % 37}.app${i}`, label: `App ${i}` })),
  });
  for (const manager of ['kernelsu', 'webui-host-on-magisk']) {
    const started = Date.now();
    const { page } = await openPage({ manager, apps });
    const shown = Date.now() - started;
    const own = await page.$eval('body', (b) => b.dataset.ready);
    const filtering = await page.evaluate(() => {
      const search = document.getElementById('search');
      const t0 = performance.now();
      search.value = 'app49';
      search.dispatchEvent(new Event('input'));
      return performance.now() - t0;
    });
    assert.equal((await page.$$('#apps li')).length, 2000);
    // What is drawn, not the attribute: only the matching rows take room on screen.
    const drawn = await page.$$eval('#apps li', (rows) => rows.filter((r) => r.getBoundingClientRect().height > 0).length);
    assert.equal(drawn, apps.filter((a) => `app ${a.name.slice(a.name.lastIndexOf('.app') + 4)}\n${a.name}`.includes('app49')).length);
    console.log(`${manager}: 2,000 apps shown in ${shown} ms (${own} ms from the page's start to its list), filtered in ${filtering.toFixed(1)} ms`);
    await page.close();
  }
});

// The games the phone knows: `games suggest --json` once per visit, offered at the top of the
// list on the first visit and again when a new one appears; nothing added without a tap.
const suggestedRows = (page) => page.$$eval('#suggest-list input[role=switch]', (b) => b.map((x) => `${x.getAttribute('aria-label')}=${x.checked}`));
const suggestRuns = (record) => record.commands.filter((c) => c.endsWith(' games suggest --json')).length;
async function forgetOffers() {
  const { page } = await openPage();
  await page.waitForSelector('body[data-suggested]');  // its own offer remembered first
  await page.evaluate(() => localStorage.clear());
  await page.close();
}

test('suggestions: some (one row for two users\' copies), a tap, Add all, once per visit, a new one, none (screenshot)', async () => {
  const apps = sandbox({
    list: 'com.listed.game\n',
    // Racing has a second copy in a work profile or as a dual app; Cards is the work profile's
    // alone, so the dump (the current user's) does not name it.
    apps: [{ name: 'com.listed.game', label: 'Listed Game' }, { name: 'com.example.racing', label: 'Example Racing', users: 2 },
      { name: 'com.example.puzzle', label: 'Puzzle Quest' }, { name: 'org.work.cards', label: 'Cards' }, { name: 'com.android.chrome', label: 'Chrome' }],
    phoneGames: ['com.listed.game', 'com.example.racing', 'com.example.puzzle'],
  });
  await forgetOffers();
  let { page, record } = await openPage({ apps });
  await page.waitForSelector('body[data-suggested]');
  assert.equal(await page.$eval('#suggest', (e) => e.hidden), false);
  assert.deepEqual(await suggestedRows(page), ['Boost Example Racing (com.example.racing) as a game=false', 'Boost Puzzle Quest (com.example.puzzle) as a game=false']);
  assert.equal(await page.$eval('#suggest-count', (e) => e.textContent), '2 apps on this phone are games by their own account.');
  assert.equal(fs.readFileSync(gameList, 'latin1'), 'com.listed.game\n', 'nothing added without a tap');
  await page.$eval('#games', (e) => e.scrollIntoView());
  await page.screenshot({ path: path.join(shots, 'suggest-light.png') });
  // One tap adds one game; the offer stays where it is.
  const before = await page.$eval('#suggest', (e) => e.getBoundingClientRect().top);
  await page.click('#suggest-list input[aria-label^="Boost Example Racing"]');
  await waitForList('com.listed.game\ncom.example.racing\n');
  await page.waitForFunction(() => document.getElementById('message').textContent === 'added com.example.racing');
  assert.equal(await page.$eval('#suggest', (e) => e.getBoundingClientRect().top), before);
  assert.equal(await (await switchFor(page, 'com.example.racing')).evaluate((b) => b.checked), true, 'the list shows it listed');
  await page.click('#suggest-all');
  await waitForList('com.listed.game\ncom.example.racing\ncom.example.puzzle\n');
  await page.waitForFunction(() => !document.querySelector('[aria-busy]') && document.getElementById('suggest-all').disabled);
  assert.deepEqual(await suggestedRows(page), ['Boost Example Racing (com.example.racing) as a game=true', 'Boost Puzzle Quest (com.example.puzzle) as a game=true']);
  // The page's refreshes never ask again.
  await page.evaluate(() => document.dispatchEvent(new Event('visibilitychange')));
  await page.waitForFunction(() => !document.querySelector('[aria-busy]'));
  assert.equal(suggestRuns(record), 1);
  assertClean(record);
  await page.close();

  // The next visit asks once more: nothing new, nothing offered; then a new game appears.
  fs.writeFileSync(gameList, 'com.listed.game\n');
  ({ page, record } = await openPage({ apps }));
  await page.waitForSelector('body[data-suggested]');
  assert.equal(await page.$eval('#suggest', (e) => e.hidden), true, 'offered already, nothing new');
  assert.equal(suggestRuns(record), 1);
  await page.close();
  fs.writeFileSync(path.join(work, 'game-dump'), gameDump(['com.listed.game', 'com.example.racing', 'com.example.puzzle', 'org.new.game']));
  ({ page, record } = await openPage({ apps }));
  await page.waitForSelector('body[data-suggested]');
  assert.deepEqual(await suggestedRows(page), ['Boost Example Racing (com.example.racing) as a game=false', 'Boost Puzzle Quest (com.example.puzzle) as a game=false',
    'Boost org.new.game (org.new.game) as a game=false']);
  await page.click('#suggest-later');
  assert.equal(await page.$eval('#suggest', (e) => e.hidden), true);
  assert.equal(fs.readFileSync(gameList, 'latin1'), 'com.listed.game\n');
  await page.close();

  // None: every game the phone knows is listed; nothing shown, no note.
  await forgetOffers();
  fs.writeFileSync(path.join(work, 'game-dump'), gameDump(['com.listed.game']));
  ({ page, record } = await openPage({ apps }));
  await page.waitForSelector('body[data-suggested]');
  assert.equal(await page.$eval('#suggest', (e) => e.hidden), true);
  assert.equal(await page.$eval('#suggest-note', (e) => e.hidden), true);
  assertClean(record);
  await page.close();
});

test('suggestions: the phone cannot tell (Android 12, a failing, hanging or empty dumpsys), a failing command; the list as today', async () => {
  const apps = [{ name: 'com.listed.game', label: 'Listed' }, { name: 'com.example.racing', label: 'Example Racing' }];
  const cases = [
    { name: 'Android 12', env: { TESSIVAR_SDK: '31' }, note: /^The phone cannot tell which apps are games \(Android 12 and older do not say which apps are games \(this is API 31\)\); switch your games on in the list below\.$/ },
    { name: 'failing dumpsys', dumpsys: 'fail', note: /^The phone cannot tell which apps are games \(dumpsys game failed \(status 1\)\); / },
    { name: 'hanging dumpsys', dumpsys: 'hang', env: { TESSIVAR_COMMAND_DEADLINE_MS: '300' }, note: /\(dumpsys game did not answer within 1 s; it was stopped\)/ },
    { name: 'empty dumpsys', dumpsys: 'empty', note: /\(dumpsys game printed nothing\)/ },
    { name: 'unreadable game list', list: null, note: /^The phone cannot tell which apps are games \(the game list cannot be read: not a regular file\)/ },
    { name: 'a control program without the command', ctl: '#!/bin/sh\n[ "$1" = games ] && { echo "usage: tessivarctl games list" >&2; exit 2; }\n', note: /^Could not ask the phone which apps are games \(usage: tessivarctl games list\); / },
  ];
  for (const c of cases) {
    sandbox({ list: 'com.listed.game\n', apps, phoneGames: ['com.example.racing'], dumpsys: c.dumpsys || '' });
    if (c.list === null) { fs.rmSync(gameList); fs.mkdirSync(gameList); }
    if (c.ctl) {
      const real = path.join(moddir, 'tessivarctl');
      fs.renameSync(real, `${real}.real`);
      fs.writeFileSync(real, `${c.ctl}exec '${real}.real' "$@"\n`, { mode: 0o755 });
    }
    await forgetOffers();
    fs.rmSync(path.join(work, 'dumpsys-runs'), { force: true });
    const { page, record } = await openPage({ apps, env: { ...env, ...(c.env || {}) } });
    await page.waitForSelector('body[data-suggested]');
    assert.match(await page.$eval('#suggest-note', (e) => (e.hidden ? '' : e.textContent)), c.note, c.name);
    assert.equal(await page.$eval('#suggest', (e) => e.hidden), true, c.name);
    assert.equal((await page.$$('#apps input[role=switch]')).length, 2, `${c.name}: the list as today`);
    if (c.name === 'Android 12') assert.equal(fs.existsSync(path.join(work, 'dumpsys-runs')), false, 'no dump on Android 12');
    assertClean(record);
    await page.close();
  }
});
