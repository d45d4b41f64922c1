// The verdict on the page, in a real browser behind the KernelSU bridge stand-in, from what the
// test build of tessivarctl computes from a sessions index: 0, 1, 3 and 6 sessions per preset,
// too close, clear both ways, sessions left out, hostile labels inert; the one-tap choice and
// "Choose for me" (for the game, applied at once when clear, and for every game); a screenshot.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { openPage as open } from './bridge.mjs';

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const webroot = path.join(repo, 'module/webroot');
const bridgeLibrary = path.join(repo, 'node_modules/kernelsu/index.js');
const ctlDir = path.resolve(repo, process.env.CTL_TEST_DIR || 'build/host/tests');
const shots = path.join(repo, 'build/webui');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessivar-verdict-'));
const moddir = path.join(work, 'Drovenmarke');
const env = { PATH: process.env.PATH, TESSIVAR_MODULE_DIR: moddir, PROFILE_ROOT: path.join(work, 'device'), TESSIVAR_FAST_PAUSES: '1', HOME: '/' };
const GAME = 'com.example.game';
let browser;

// A module with the game listed and a sessions index as the recorder writes it.
function sandbox(sessions) {
  fs.rmSync(moddir, { recursive: true, force: true });
  fs.mkdirSync(path.join(moddir, 'sessions'), { recursive: true });
  fs.mkdirSync(path.join(work, 'device/proc/sys/kernel/random'), { recursive: true });
  fs.writeFileSync(path.join(work, 'device/proc/sys/kernel/random/boot_id'), 'boot-1\n');
  fs.symlinkSync(path.join(ctlDir, 'tessivarctl-sandboxed'), path.join(moddir, 'tessivarctl'));
  fs.copyFileSync(path.join(repo, 'module/module.prop'), path.join(moddir, 'module.prop'));
  fs.writeFileSync(path.join(moddir, 'game.txt'), `${GAME}\n`);
  fs.writeFileSync(path.join(moddir, 'sessions/index'), sessions.map((s, i) => {
    const seconds = (s.minutes ?? 10) * 60;
    const frames = s.fps ? `frames_known=1 frames=30000 dropped=3 fps_x100=${Math.round(s.fps * 100) + 500} low_fps_x100=${Math.round(s.fps * 100)}`
      : 'frames_known=0 frames=0 dropped=0 fps_x100=0 low_fps_x100=0';
    return `start=${1765000000 + i * 3600} game=${GAME} preset=${s.preset} duration_s=${seconds} energy_mwh_x10=${Math.round(s.mwh * seconds / 6)} discharging_s=${seconds} mean_mw=${s.mwh * 60} peak_temp_dc=${s.peak ?? 400} mean_temp_dc=380 levels_s=${seconds},0,0,0,0,0,0 first_moderate_s=-1 top_permille=300,600 samples=120 throttled_samples=0 ${frames}\n`;
  }).join(''));
}
const times = (n, s) => Array.from({ length: n }, () => ({ ...s }));
const read = (name) => (fs.existsSync(path.join(moddir, name)) ? fs.readFileSync(path.join(moddir, name), 'latin1') : '');

const LABEL = 'Racing </script><img src=x onerror="fetch(\'/x\')"> %22';
async function openAt(options = {}) {
  const opened = await open(browser, { webroot, bridgeLibrary, env, moddir, apps: [{ name: GAME, label: LABEL }], ...options });
  await opened.page.waitForFunction(() => document.body.dataset.ready && document.body.dataset.ready !== 'failed');
  return opened;
}
const text = (page, id) => page.$eval(`#${id}`, (e) => (e.hidden || e.closest('[hidden]') ? null : e.textContent));

before(async () => {
  fs.mkdirSync(shots, { recursive: true });
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', `--user-data-dir=${path.join(work, 'profile')}`],
  });
});

after(async () => {
  if (browser) await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
});

test('the verdict with 0, 1, 3 and 6 sessions per preset, too close, clear both ways, left out, labels inert', async () => {
  const max = { preset: 'max', fps: 60, mwh: 40, peak: 440 };
  const sustained = { preset: 'sustained', fps: 58.2, mwh: 28.4, peak: 410 };
  const cases = [
    { name: '0 sessions', sessions: [], sentence: null },
    { name: '1 session each', sessions: [max, sustained], sentence: 'Not enough sessions yet: max (1 of 3), sustained (1 of 3) need 3 usable sessions to take part.' },
    { name: '3 each, energy decides', sessions: [...times(3, max), ...times(3, sustained)], use: 'Use sustained for this game',
      sentence: `On this phone, sustained gives ${LABEL} 97 % of max's 5th-percentile frame rate for 71 % of its power: sustained is the better choice.` },
    { name: '6 each, frames decide the other way', sessions: [...times(6, max), ...times(6, { ...sustained, fps: 45 })], use: 'Use max for this game',
      sentence: `On this phone, max gives ${LABEL} 133 % of sustained's 5th-percentile frame rate for 141 % of its power: max is the better choice.` },
    { name: 'too close', sessions: [...times(3, max), ...times(3, { ...sustained, mwh: 39 })],
      sentence: 'Too close to call after 3 sessions each: play a few more. sustained ran 3.0 °C cooler at its peak (information, not a verdict).' },
    { name: 'left out: short, no frames', sessions: [...times(3, max), ...times(2, sustained), { ...sustained, minutes: 1 }, { ...sustained, fps: 0 }],
      sentence: 'Not enough sessions yet: sustained (2 of 3) needs 3 usable sessions to take part.', numbers: /2 sessions left out: 1 shorter than 2 minutes, 1 without frames\./ },
  ];
  for (const c of cases) {
    sandbox(c.sessions);
    const { page, record } = await openAt();
    assert.equal(await text(page, 'verdict-sentence'), c.sentence, c.name);
    assert.equal(await text(page, 'use-winner'), c.use ?? null, c.name);
    if (c.numbers) assert.match(await text(page, 'verdict-numbers'), c.numbers, c.name);
    assert.equal(await page.$$eval('#sessions img, #verdict img', (i) => i.length), 0, 'no element from a label');
    assert.deepEqual(record.errors, [], c.name);
    assert.deepEqual(record.remote, [], c.name);
    await page.close();
  }
});

test('one tap sets the winner by hand; Choose for me applies a clear verdict at once, and for every game; screenshot', async () => {
  const sessions = [...times(3, { preset: 'max', fps: 60, mwh: 40, peak: 440 }), ...times(3, { preset: 'sustained', fps: 58.2, mwh: 28.4, peak: 410 })];
  sandbox(sessions);
  let { page } = await openAt();
  await page.click('#use-winner');
  await page.waitForFunction(() => /set by you/.test(document.getElementById('choose-note').textContent));
  assert.match(read('presets.txt'), /^com\.example\.game sustained$/m);
  assert.equal(await page.$eval('#choose-game', (b) => b.checked), false);
  await page.close();

  sandbox(sessions);
  ({ page } = await openAt({ apps: [{ name: GAME, label: 'Example Racing' }] }));
  assert.equal(await page.$eval('#choose-game', (b) => b.checked), false);
  await page.click('#choose-game');
  await page.waitForFunction(() => document.getElementById('choose-note').textContent.startsWith('sustained, chosen from 6 sessions'));
  assert.match(read('presets.txt'), /^com\.example\.game sustained$/m);
  assert.match(read('choose.txt'), /^com\.example\.game sustained 6 0$/m);
  assert.equal(await page.$eval('#choose-game', (b) => b.checked), true);
  assert.equal(await text(page, 'use-winner'), null, 'already in force');
  assert.equal(await page.$eval('#apps li[data-name="com.example.game"] .help, #apps li .help', (s) => s.textContent), 'chosen from 6 sessions');
  await page.click('#choose-all');
  await page.waitForFunction(() => document.getElementById('choose-all').checked);
  for (let i = 0; i < 100 && !/^\* on$/m.test(read('choose.txt')); i++) await new Promise((r) => setTimeout(r, 20));
  assert.match(read('choose.txt'), /^\* on$/m);
  await page.$eval('#verdict', (d) => d.previousElementSibling.scrollIntoView());
  await page.screenshot({ path: path.join(shots, 'verdict-light.png') });
  await page.close();
});
