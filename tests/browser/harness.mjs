// A running office suite for browser tests: a fresh demo application folder
// served by deskhost on a free loopback port, and Debian's Chromium driven by
// Playwright.
//
//   const site = useSite();            // in a test file, at the top level
//   const page = await site.newPage(); // in a test: a page with its own cookies
//   await page.goto(site.url('default.htm'));
//
//   site.db().prepare('SELECT ...').get(...); // the application's database
//
// new Site({ https: true }) serves the suite over HTTPS as well, with a
// self-signed pair made by `deskhost init --self-signed`; url() then names
// the HTTPS address, pages accept its certificate, and Chromium is told to
// treat the suite's address as a public one (--ip-address-space-overrides),
// so reaching this machine's own services takes the local-network
// permission, as for a suite on another host.
//
// Everything a test run creates (server, browser, temporary folders) is gone
// when the file's tests end, passed or failed. Screenshots and the server's
// log stay in test-output/ at the repository root.
import { spawn, execFileSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import {
  createWriteStream, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync,
} from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join, resolve } from 'node:path';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';

import Database from 'better-sqlite3';
import { chromium } from 'playwright-core';

export const repoRoot = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const outputDir = join(repoRoot, 'test-output');

const deskhostPath = process.env.DESKHOST || join(repoRoot, 'build', 'bin', 'deskhost');
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
const chromiumFlags = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// Milliseconds.
const kStartTimeout = 30_000;
const kStopTimeout = 5_000;
// How long a statement of the tests waits for the server's lock on the database.
const kBusyTimeout = 5_000;

// Servers still running and folders not yet removed when the process leaves,
// however it leaves.
const liveServers = new Set();
const liveRoots = new Set();
process.on('exit', () => {
  for (const child of liveServers) child.kill('SIGKILL');
  for (const root of liveRoots) rmSync(root, { recursive: true, force: true });
});
for (const sig of ['SIGINT', 'SIGTERM']) {
  process.once(sig, () => process.exit(130));
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// A wait that does not keep the process alive: for time limits that are
// usually cut short.
const limit = (ms) => new Promise((r) => setTimeout(r, ms).unref());

export class Site {
  // `edition`: 'office' or 'law' (the law-firm edition with case files).
  // `vdir`: the virtual directory name the application folder is served under;
  // by default the edition's own, "tarvo" or "tarvolawyer".
  // `label`: names the screenshots and the server log; defaults to the test file's name.
  // `settings` (or `appConf`): app.conf values ({sms_device: '/dev/pts/3'},
  // {status_refresh: 5}) written into the application folder before the
  // server starts. `https`: the suite is served over HTTPS with a
  // self-signed certificate.
  constructor({ edition = 'office', vdir, label, settings = {}, appConf = {}, https = false } = {}) {
    this.edition = edition;
    this.vdir = vdir || (edition === 'law' ? 'tarvolawyer' : 'tarvo');
    this.settings = { ...settings, ...appConf };
    this.https = https;
    this.label = label || basename(process.argv[1] || 'browser', '.mjs').replace(/\.test$/, '');
    this.adminPassword = 'admin-' + randomBytes(6).toString('hex');
    this.demoAccounts = [];  // {uid, password, name} of the demo users
    this.root = null;        // temporary folder holding the application folder
    this.dir = null;         // the application folder
    this.baseUrl = null;     // "http://127.0.0.1:PORT/" (https with { https: true })
    this.browser = null;
    this.server = null;
    this.logPath = join(outputDir, `${this.label}-deskhost.log`);
    this.contexts = [];
    this.database = null;
  }

  // The application's SQLite database (data/office.db), opened on first use
  // and shared with the running server: tests arrange and check rows with it.
  // Statements bind their values (`?`).
  db() {
    if (!this.dir) throw new Error('the site is not started');
    if (!this.database) {
      this.database = new Database(join(this.dir, 'data', 'office.db'), {
        fileMustExist: true,
        timeout: kBusyTimeout,
      });
    }
    return this.database;
  }

  // A browser page logged in as `uid` through the login form; it ends on
  // main.asp, the frame set. `password` defaults to the demo account's;
  // `options` are those of newPage.
  async login(uid, password, options = {}) {
    if (password === undefined) {
      password = uid === 'admin' ? this.adminPassword
                                 : this.demoAccounts.find((a) => a.uid === uid)?.password;
      if (password === undefined) throw new Error(`no demo account ${uid}`);
    }
    const page = await this.newPage(options);
    await page.goto(this.url('default.htm'));
    await page.fill('#username', uid);
    await page.fill('#password', password);
    await Promise.all([
      page.waitForURL((u) => u.pathname.endsWith('/main.asp')),
      page.click('input[type=submit]'),
    ]);
    return page;
  }

  // The address of `path` inside the application, e.g. url('main.asp').
  url(path = '') {
    return `${this.baseUrl}${this.vdir}/${path}`;
  }

  async start() {
    try {
      mkdirSync(outputDir, { recursive: true });
      if (!existsSync(deskhostPath)) {
        throw new Error(`${deskhostPath} not found: build first (bash scripts/build.sh)`);
      }
      this.root = mkdtempSync(join(tmpdir(), 'desk-browser-'));
      liveRoots.add(this.root);
      this.dir = join(this.root, 'app');
      const out = execFileSync(
          deskhostPath,
          ['init', this.dir, '--edition', this.edition, '--demo', '--admin-password',
           this.adminPassword, '--password-cost', 'min', ...(this.https ? ['--self-signed'] : [])],
          { encoding: 'utf8' });
      for (const m of out.matchAll(/^demo user: (\S+) \/ (\S+) \/ (.*)$/gm)) {
        this.demoAccounts.push({ uid: m[1], password: m[2], name: m[3] });
      }
      this.#writeSettings();
      await this.#startServer();
      const suite = new URL(this.baseUrl);
      this.browser = await chromium.launch({
        executablePath: chromiumPath,
        headless: true,
        // Playwright starts every browser on a fresh temporary profile
        // (--user-data-dir) and deletes it when the browser closes.
        args: this.https
          ? [...chromiumFlags, `--ip-address-space-overrides=${suite.host}=public`]
          : chromiumFlags,
        timeout: kStartTimeout,
      });
    } catch (e) {
      await this.stop();
      throw e;
    }
  }

  // Replaces each setting's line of app.conf, or adds it.
  #writeSettings() {
    const file = join(this.dir, 'app.conf');
    let conf = readFileSync(file, 'utf8');
    for (const [key, value] of Object.entries(this.settings)) {
      const line = `${key} = ${value}`;
      const at = new RegExp(`^${key}\\s*=.*$`, 'm');
      conf = at.test(conf) ? conf.replace(at, () => line) : `${conf.replace(/\n?$/, '\n')}${line}\n`;
    }
    writeFileSync(file, conf);
  }

  async #startServer() {
    // Port 0: the kernel picks a free port and the server reports it.
    const tls = join(this.dir, 'data', 'tls');
    const child = spawn(
        deskhostPath,
        ['serve', '--host', '127.0.0.1', '--port', '0', '--vdir', `${this.vdir}=${this.dir}`,
         ...(this.https ? ['--https-port', '0', '--cert', join(tls, 'cert.pem'),
                           '--key', join(tls, 'key.pem')] : [])],
        { stdio: ['ignore', 'pipe', 'pipe'] });
    this.server = child;
    liveServers.add(child);
    const exited = new Promise((r) => child.once('exit', (code, sig) => r({ code, sig })));
    child.exited = exited;
    exited.then(() => liveServers.delete(child));

    // Both streams go to the log; stderr also carries the port.
    const log = createWriteStream(this.logPath);
    child.stdout.pipe(log, { end: false });
    let stderr = '';
    const listening = new Promise((resolvePort) => {
      child.stderr.setEncoding('utf8');
      child.stderr.on('data', (chunk) => {
        log.write(chunk);
        if (stderr.length < 65536) stderr += chunk;
        const m = /listening on http:\/\/[^:]+:(\d+)\//.exec(stderr);
        const s = /listening on https:\/\/[^:]+:(\d+)\//.exec(stderr);
        if (m && (s || !this.https)) resolvePort([Number(m[1]), s && Number(s[1])]);
      });
    });
    child.once('close', () => log.end());

    const [port, securePort] = await Promise.race([
      listening,
      exited.then(({ code, sig }) => {
        throw new Error(`deskhost exited (${code ?? sig}) before listening:\n${stderr}`);
      }),
      limit(kStartTimeout).then(() => {
        throw new Error(`deskhost did not report a port within ${kStartTimeout} ms:\n${stderr}`);
      }),
    ]);
    this.baseUrl = `http://127.0.0.1:${port}/`;
    const plain = this.url('default.htm');
    if (this.https) this.baseUrl = `https://127.0.0.1:${securePort}/`;

    // Listening is not yet answering: wait for the login page itself (over
    // HTTP: the HTTPS port is open before the HTTP one answers).
    const deadline = Date.now() + kStartTimeout;
    for (;;) {
      try {
        const res = await fetch(plain);
        await res.arrayBuffer();
        if (res.ok) return;
      } catch { /* not yet */ }
      if (Date.now() > deadline) throw new Error(`${plain} did not answer`);
      await sleep(100);
    }
  }

  // A new page in a context of its own, so each has its own session cookie.
  // JavaScript errors of the page are collected in page.errors. `options` are
  // Playwright's context options (viewport, acceptDownloads, ...).
  async newPage(options = {}) {
    const context = await this.browser.newContext(
        this.https ? { ignoreHTTPSErrors: true, ...options } : options);
    this.contexts.push(context);
    const page = await context.newPage();
    page.errors = [];
    page.on('pageerror', (e) => page.errors.push(e));
    return page;
  }

  // Saves a full-page screenshot as test-output/<label>-<name>.png; returns its path.
  async screenshot(page, name) {
    const path = join(outputDir, `${this.label}-${name}.png`);
    await page.screenshot({ path, fullPage: true });
    return path;
  }

  // The server's log so far (access lines and messages).
  serverLog() {
    try { return readFileSync(this.logPath, 'utf8'); } catch { return ''; }
  }

  // Safe to call more than once and after a failed start.
  async stop() {
    if (this.database) {
      const d = this.database;
      this.database = null;
      try { d.close(); } catch { /* already closed */ }
    }
    if (this.browser) {
      const b = this.browser;
      this.browser = null;
      await b.close().catch(() => {});
    }
    if (this.server) {
      const child = this.server;
      this.server = null;
      if (child.exitCode === null && child.signalCode === null) {
        child.kill('SIGTERM');
        const done = await Promise.race([child.exited.then(() => true), limit(kStopTimeout)]);
        if (!done) {
          child.kill('SIGKILL');
          await child.exited;
        }
      }
    }
    if (this.root) {
      rmSync(this.root, { recursive: true, force: true });
      liveRoots.delete(this.root);
      this.root = null;
    }
  }
}

// Local civil time as the application stores it: "YYYY-MM-DD HH:MM:SS".
// The server runs on this machine, so it shares the time zone.
export function isoNow(date = new Date()) {
  const p = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}-${p(date.getMonth() + 1)}-${p(date.getDate())} ` +
         `${p(date.getHours())}:${p(date.getMinutes())}:${p(date.getSeconds())}`;
}

// A Site started before the file's tests and stopped after them.
export function useSite(options) {
  const site = new Site(options);
  before(() => site.start());
  after(() => site.stop());
  return site;
}
