// A stand-in for the root managers' WebView bridge that behaves as theirs do on a phone:
// - the page is served from https://mui.kernelsu.org/ out of webroot/, with no header of its own;
// - exec(cmd, options, callback) blocks the page's JavaScript until the command is done, runs it
//   in a new root shell (mksh reading the command on stdin, cwd /), collects its output as lines
//   (\n, \r and \r\n end a line; bad UTF-8 replaced), joins them with \n without a final one, and
//   answers by loading "javascript: ...callback(code, JSONObject.quote(stdout), ...)", a URL the
//   WebView percent-decodes before it runs it; a command that runs exit reports 1;
// - listPackages/getPackagesInfo (current KernelSU and APatch) list one entry per Android user,
//   icons at ksu://icon/<package>; moduleInfo on KernelSU only.
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

export const ORIGIN = 'https://mui.kernelsu.org';

// What each manager's bridge offers.
export const MANAGERS = {
  kernelsu: { exec: true, listPackages: true, moduleInfo: true },
  'kernelsu-without-packages': { exec: true, listPackages: false, moduleInfo: true },
  apatch: { exec: true, listPackages: true, moduleInfo: false },
  'webui-host-on-magisk': { exec: true, listPackages: false, moduleInfo: false },
  none: { exec: false },
};

// org.json's JSONObject.quote.
export function jsonQuote(text) {
  let out = '"';
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    const code = text.charCodeAt(i);
    if (c === '"' || c === '\\') out += `\\${c}`;
    else if (c === '/') out += i > 0 && text[i - 1] === '<' ? '\\/' : '/';
    else if (c === '\b') out += '\\b';
    else if (c === '\t') out += '\\t';
    else if (c === '\n') out += '\\n';
    else if (c === '\f') out += '\\f';
    else if (c === '\r') out += '\\r';
    else if (code < 0x20 || (code >= 0x80 && code < 0xa0) || (code >= 0x2000 && code < 0x2100)) {
      out += `\\u${code.toString(16).padStart(4, '0')}`;
    } else out += c;
  }
  return `${out}"`;
}

// What the WebView does to a javascript: URL before running it.
export function percentDecode(url) {
  return url.replace(/(%[0-9A-Fa-f]{2})+/g, (run) => {
    try {
      return decodeURIComponent(run);
    } catch {
      return run;
    }
  });
}

// Runs one command as the managers' root shell does; resolves to { code, stdout, stderr }.
export function rootShell(cmd, env) {
  return new Promise((resolve) => {
    const token = crypto.randomBytes(8).toString('hex');
    const shell = spawn('mksh', [], { cwd: '/', env });
    const out = [];
    const err = [];
    shell.stdout.on('data', (d) => out.push(d));
    shell.stderr.on('data', (d) => err.push(d));
    shell.on('close', () => {
      const lines = (chunks) => Buffer.concat(chunks).toString('utf8').split(/\r\n|\r|\n/);
      const stdout = lines(out);
      let code = 1;  // the shell ended before the end marker: the command ran exit
      const at = stdout.findIndex((l) => l.includes(token));
      let kept = stdout;
      if (at >= 0) {
        const marker = stdout[at];
        code = Number(marker.slice(marker.indexOf(token) + token.length + 1));
        const before = marker.slice(0, marker.indexOf(token));
        kept = stdout.slice(0, at).concat(before ? [before] : []);
      } else if (kept[kept.length - 1] === '') kept.pop();
      const stderr = lines(err).filter((l) => !l.includes(token));
      if (stderr[stderr.length - 1] === '') stderr.pop();
      resolve({ code, stdout: kept.join('\n'), stderr: stderr.join('\n') });
    });
    shell.stdin.end(`${cmd}\necho ${token} $?\necho ${token} >&2\nexit\n`);
  });
}

// Opens the page in `browser` as `manager` would, with `env` for the root shell and `apps` as the
// package manager's entries ({ name, label, users }). Answers the page, its errors, the commands
// it ran and the javascript: URLs that failed to run.
export async function openPage(browser, { webroot, bridgeLibrary, manager = 'kernelsu', env, apps = [], moddir,
  scheme = 'light', width = 360, height = 800 }) {
  const offers = MANAGERS[manager];
  const page = await browser.newPage();
  const record = { errors: [], commands: [], deliveryErrors: [], dialogs: [], remote: [], icons: [] };
  page.on('pageerror', (error) => record.errors.push(error));
  page.on('dialog', (dialog) => { record.dialogs.push(dialog.message()); dialog.dismiss(); });
  await page.setViewport({ width, height });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
  await page.setRequestInterception(true);

  const perUser = apps.flatMap((a) => Array.from({ length: a.users || 1 }, (_, u) => ({ ...a, uid: 10000 + u * 100000 })));
  const bridgeCall = async (name, body) => {
    if (name === 'exec') {
      const { cmd, callback } = JSON.parse(body);
      record.commands.push(cmd);
      const result = await rootShell(cmd, env);
      const url = `javascript: (function() { try { ${callback}(${result.code}, ${jsonQuote(result.stdout)}, ${jsonQuote(result.stderr)}); } catch(e) { console.error(e); } })();`;
      // After the call returns, as webView.post does.
      setImmediate(() => {
        page.evaluate(percentDecode(url).slice('javascript:'.length)).catch((error) => record.deliveryErrors.push(error.message));
      });
      return '';
    }
    if (name === 'listPackages') return JSON.stringify(perUser.map((a) => a.name).sort());
    if (name === 'getPackagesInfo') {
      return JSON.stringify(JSON.parse(body).flatMap((n) => {
        const entries = perUser.filter((a) => a.name === n);
        return entries.length ? entries.map((a) => ({ packageName: a.name, versionName: '1.0', versionCode: 1,
          appLabel: a.label || a.name, isSystem: false, uid: a.uid })) : [{ packageName: n, error: 'Package not found or inaccessible' }];
      }));
    }
    if (name === 'moduleInfo') return JSON.stringify({ moduleDir: moddir, id: path.basename(moddir) });
    return '';
  };
  page.on('request', async (request) => {
    const url = new URL(request.url());
    if (`${url.protocol}//${url.host}` !== ORIGIN) {
      if (!url.protocol.startsWith('ksu')) record.remote.push(request.url());
      else record.icons.push(request.url());
      request.abort();
      return;
    }
    if (url.pathname.startsWith('/__bridge/')) {
      const body = await bridgeCall(url.pathname.slice('/__bridge/'.length), request.postData() || '');
      request.respond({ status: 200, contentType: 'text/plain', body });
      return;
    }
    const file = url.pathname === '/kernelsu/index.js' ? bridgeLibrary : path.join(webroot, url.pathname);
    if (!file.startsWith(webroot) && file !== bridgeLibrary || !fs.existsSync(file)) {
      request.respond({ status: 404, body: '' });
      return;
    }
    const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png' };
    request.respond({ status: 200, contentType: types[path.extname(file)] || 'application/octet-stream', body: fs.readFileSync(file) });
  });

  if (offers.exec) {
    // Where the manager has no moduleInfo, the page uses the standard module directory; the
    // sandbox's stands in for it.
    if (!offers.moduleInfo) await page.evaluateOnNewDocument((dir) => { window.TESSIVAR_MODDIR = dir; }, moddir);
    await page.evaluateOnNewDocument((offers) => {
      // Each call blocks the page until it is answered, as a @JavascriptInterface method does.
      const call = (name, body) => {
        const xhr = new XMLHttpRequest();
        xhr.open('POST', `/__bridge/${name}`, false);
        xhr.send(body || '');
        return xhr.responseText;
      };
      const ksu = {
        exec(cmd, options, callback) { call('exec', JSON.stringify({ cmd, options, callback })); },
        spawn() {},
        toast() {},
        fullScreen() {},
      };
      if (offers.listPackages) {
        ksu.listPackages = (type) => call('listPackages', type);
        ksu.getPackagesInfo = (json) => call('getPackagesInfo', json);
      }
      if (offers.moduleInfo) ksu.moduleInfo = () => call('moduleInfo');
      window.ksu = ksu;
    }, offers);
  }
  await page.goto(`${ORIGIN}/index.html`);
  if (offers.exec) await page.waitForSelector('body[data-ready]');
  return { page, ...record, record };
}
