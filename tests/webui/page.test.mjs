// The module page in a real browser (Debian's chromium, headless), with a stand-in for the root
// manager's bridge: its exec hands each command to a small server here, which runs it with sh
// against a sandbox module directory and a stand-in pm on PATH.
import { test, before, after, beforeEach } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const webroot = path.join(repo, 'module/webroot');
const shots = path.join(repo, 'build/webui');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessivar-webui-'));
const moddir = path.join(work, 'Drovenmarke');
const stubs = path.join(work, 'bin');
const gameList = path.join(moddir, 'game.txt');
const commands = [];
let server;
let base;
let browser;
let sleeper;

const files = {
  '/': path.join(webroot, 'index.html'),
  '/index.html': path.join(webroot, 'index.html'),
  '/app.js': path.join(webroot, 'app.js'),
  '/style.css': path.join(webroot, 'style.css'),
  '/kernelsu/index.js': path.join(repo, 'node_modules/kernelsu/index.js'),
};
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };

function serve(req, res) {
  if (req.method === 'POST' && req.url === '/exec') {
    let body = '';
    req.on('data', (chunk) => { body += chunk; });
    req.on('end', () => {
      const { cmd } = JSON.parse(body);
      commands.push(cmd);
      execFile('sh', ['-c', cmd], { cwd: work, env: { ...process.env, PATH: `${stubs}:${process.env.PATH}` } },
        (error, stdout, stderr) => {
          const errno = error ? (typeof error.code === 'number' ? error.code : 1) : 0;
          res.writeHead(200, { 'content-type': 'application/json' });
          res.end(JSON.stringify({ errno, stdout, stderr }));
        });
    });
    return;
  }
  const file = files[req.url];
  if (!file) {
    res.writeHead(404);
    res.end();
    return;
  }
  res.writeHead(200, { 'content-type': types[path.extname(file)] || 'text/html' });
  res.end(fs.readFileSync(file));
}

function writeSandbox({ list = '', apps = [], log = '', profile = 'balanced' } = {}) {
  fs.rmSync(moddir, { recursive: true, force: true });
  fs.mkdirSync(path.join(moddir, 'Scripts'), { recursive: true });
  for (const name of fs.readdirSync(path.join(repo, 'module/Scripts'))) {
    fs.copyFileSync(path.join(repo, 'module/Scripts', name), path.join(moddir, 'Scripts', name));
  }
  fs.writeFileSync(gameList, list);
  fs.writeFileSync(path.join(moddir, 'tessivar.log'), log);
  fs.writeFileSync(path.join(moddir, 'current_profile'), `${profile}\n`);
  fs.writeFileSync(path.join(work, 'pm.txt'), apps.map((a) => `package:${a}\n`).join(''));
}

async function openPage({ bridge = true, scheme = 'light' } = {}) {
  const page = await browser.newPage();
  const errors = [];
  const dialogs = [];
  page.on('pageerror', (error) => errors.push(error));
  page.on('dialog', (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
  await page.setViewport({ width: 360, height: 800 });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
  if (bridge) {
    await page.evaluateOnNewDocument((dir) => {
      window.TESSIVAR_MODDIR = dir;
      window.ksu = {
        exec(cmd, options, callback) {
          fetch('/exec', { method: 'POST', body: JSON.stringify({ cmd }) })
            .then((r) => r.json())
            .then((r) => window[callback](r.errno, r.stdout, r.stderr));
        },
        toast() {},
        fullScreen() {},
      };
    }, moddir);
  }
  await page.goto(base);
  if (bridge) await page.waitForSelector('body[data-ready]');
  return { page, errors, dialogs };
}

// The switch whose accessible name holds the package.
const switchFor = (page, name) => page.$(`input[role=switch][aria-label*="(${name})"]`);

async function waitForList(expected) {
  for (let i = 0; i < 400; i++) {
    if (fs.readFileSync(gameList, 'latin1') === expected) return;
    await new Promise((r) => setTimeout(r, 25));
  }
  assert.equal(fs.readFileSync(gameList, 'latin1'), expected);
}

before(async () => {
  fs.mkdirSync(stubs, { recursive: true });
  fs.writeFileSync(path.join(stubs, 'pm'),
    `#!/bin/sh\n[ "$*" = "list packages -3" ] || exit 1\ncat '${work}/pm.txt'\n`, { mode: 0o755 });
  fs.mkdirSync(shots, { recursive: true });
  server = http.createServer(serve);
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  base = `http://127.0.0.1:${server.address().port}/`;
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', `--user-data-dir=${path.join(work, 'profile')}`],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  if (sleeper) sleeper.kill();
  fs.rmSync(work, { recursive: true, force: true });
});

beforeEach(() => { commands.length = 0; });

test('the switches add and remove games, keeping the rest of the list byte for byte', async () => {
  writeSandbox({ list: '# my games\r\ncom.listed.game\r\n', apps: ['com.other.app', 'com.listed.game'] });
  const { page, errors } = await openPage();
  const first = await page.$eval('#apps li', (li) => li.textContent);
  assert.match(first, /com\.listed\.game/, 'listed games come first');
  assert.equal(await (await switchFor(page, 'com.listed.game')).evaluate((b) => b.checked), true);
  await (await switchFor(page, 'com.other.app')).click();
  await waitForList('# my games\r\ncom.listed.game\r\ncom.other.app\r\n');
  // The list is drawn anew once the change is through: wait for that before the next click.
  await page.waitForFunction(() => document.querySelector('input[aria-label*="(com.other.app)"]').checked &&
    document.getElementById('message').textContent === 'added com.other.app');
  await (await switchFor(page, 'com.listed.game')).click();
  await waitForList('# my games\r\ncom.other.app\r\n');
  assert.deepEqual(errors, []);
  await page.close();
});

test('the search matches the label or the package', async () => {
  writeSandbox({ apps: ['com.alpha.one', 'com.beta.two', 'org.gamma.three'] });
  const { page } = await openPage();
  await page.type('#search', 'BETA');
  const visible = await page.$$eval('#apps li:not([hidden])', (rows) => rows.map((r) => r.textContent));
  assert.deepEqual(visible, ['com.beta.two']);
  await page.$eval('#search', (s) => { s.value = ''; s.dispatchEvent(new Event('input')); });
  assert.equal((await page.$$('#apps li:not([hidden])')).length, 3);
  await page.close();
});

test('a listed app that is not installed is shown so and can be removed', async () => {
  writeSandbox({ list: 'com.gone.game\ncom.here.game\n', apps: ['com.here.game'] });
  const { page } = await openPage();
  const row = await page.$$eval('#apps li', (rows) => rows.map((r) => r.textContent).find((t) => t.includes('com.gone.game')));
  assert.match(row, /not installed/);
  await page.click('button[aria-label="Remove com.gone.game from the game list"]');
  await waitForList('com.here.game\n');
  await page.close();
});

test('lines that can never match are flagged and fixed with one tap', async () => {
  writeSandbox({ list: '# keep\n com.listed.game \ncom.other.app # fav\n', apps: ['com.listed.game'] });
  const { page } = await openPage();
  const flagged = await page.$$eval('#problem-lines li', (rows) => rows.map((r) => r.textContent));
  assert.deepEqual(flagged, [
    "line 2: surrounding whitespace; fix makes it 'com.listed.game'",
    "line 3: an inline comment; fix makes it 'com.other.app'",
  ]);
  await page.click('#fix');
  await waitForList('# keep\ncom.listed.game\ncom.other.app\n');
  await page.waitForFunction(() => document.getElementById('problems').hidden);
  await page.close();
});

test('the status shows the daemon, the profile, the switch, the mode changes and the log', async () => {
  writeSandbox({
    list: '# my games\ncom.listed.game\n com.spaced.game\n',
    apps: ['com.listed.game', 'com.other.app', 'org.example.chess'],
    profile: 'performance',
    log: "Tessivar Next Gen Monitor Started (Combined Dumpsys).\n" +
      "State change detected: 0 -> 2. Screen: 1, Focus: 'com.android.launcher3'\n" +
      "State change detected: 2 -> 1. Screen: 1, Focus: 'com.listed.game'\n",
  });
  sleeper = execFile('sleep', ['60']);
  fs.writeFileSync(path.join(moddir, 'tessivar.pid'), `${sleeper.pid}\n`);
  fs.writeFileSync(path.join(moddir, 'tessivar.daemon.pid'), `${sleeper.pid}\n`);
  fs.writeFileSync(path.join(moddir, 'disable'), '');
  const { page } = await openPage({ scheme: 'light' });
  assert.equal(await page.$eval('#daemon', (e) => e.textContent), `running (pid ${sleeper.pid}, supervisor ${sleeper.pid})`);
  assert.equal(await page.$eval('#profile', (e) => e.textContent), 'performance');
  assert.equal(await page.$eval('#switch', (e) => e.textContent), 'switched off in the root manager');
  assert.deepEqual(await page.$$eval('#changes li', (rows) => rows.map((r) => r.textContent)), [
    'performance (screen on, focus com.listed.game)',
    'balanced (screen on, focus com.android.launcher3)',
  ]);
  assert.match(await page.$eval('#log', (e) => e.textContent), /Monitor Started/);
  assert.equal(await page.$eval('#status-heading', (e) => e.closest('section').id), 'status');
  await page.screenshot({ path: path.join(shots, 'page-light.png') });
  await page.close();
  const dark = await openPage({ scheme: 'dark' });
  await dark.page.screenshot({ path: path.join(shots, 'page-dark.png') });
  const background = await dark.page.$eval('body', (b) => getComputedStyle(b).backgroundColor);
  assert.equal(background, 'rgb(18, 19, 22)', 'the dark theme follows the phone');
  await dark.page.close();
  sleeper.kill();
  sleeper = undefined;
});

test('hostile names from pm run nothing, inject nothing and get no switch', async () => {
  const hostile = ['com.x;touch pwned', '$(touch pwned)', '<img src=x onerror=alert(1)>', "com.a'b"];
  writeSandbox({ apps: [...hostile, 'com.fine.app'] });
  const { page, errors, dialogs } = await openPage();
  const texts = await page.$$eval('#apps li', (rows) => rows.map((r) => r.textContent));
  for (const name of hostile) {
    assert.ok(texts.some((t) => t.includes(name) && t.includes('not a valid package name')), name);
  }
  assert.equal(await page.$$eval('img', (imgs) => imgs.length), 0, 'no element injected');
  assert.equal((await page.$$('input[role=switch]')).length, 1, 'only the valid app has a switch');
  await (await switchFor(page, 'com.fine.app')).click();
  await waitForList('com.fine.app\n');
  assert.equal(fs.existsSync(path.join(work, 'pwned')), false, 'no command ran');
  assert.ok(commands.every((c) => !c.includes('pwned')), 'no hostile text in a command');
  assert.deepEqual(dialogs, []);
  assert.deepEqual(errors, []);
  await page.close();
});

test('without a bridge the page says so in one sentence and throws nothing', async () => {
  const { page, errors } = await openPage({ bridge: false });
  await page.waitForSelector('#no-bridge:not([hidden])');
  const text = await page.$eval('#no-bridge', (e) => e.textContent);
  assert.match(text, /^[^.]*root manager[^.]*\.$/);
  assert.equal(await page.$eval('#games', (e) => e.hidden), true);
  assert.deepEqual(errors, []);
  assert.equal(commands.length, 0);
  await page.close();
});

test('500 installed apps: how long the page takes (printed, not asserted)', async () => {
  const apps = Array.from({ length: 500 }, (_, i) => `com.vendor${i % 37}.app${i}`);
  writeSandbox({ list: 'com.vendor1.app1\n', apps });
  const started = Date.now();
  const { page } = await openPage();
  const shown = Date.now() - started;
  const own = await page.$eval('body', (b) => b.dataset.ready);
  const filtering = await page.evaluate(() => {
    const search = document.getElementById('search');
    const t0 = performance.now();
    search.value = 'app49';
    search.dispatchEvent(new Event('input'));
    return performance.now() - t0;
  });
  assert.equal((await page.$$('#apps li')).length, 500);
  console.log(`500 apps: page shown in ${shown} ms (${own} ms from the page's start to its list), filtered in ${filtering.toFixed(1)} ms`);
  await page.close();
});
