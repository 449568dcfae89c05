// What the browser test stands on: a `zelto serve` of its own on a free
// 127.0.0.1 port with a scratch data folder, and Debian's chromium driven by
// playwright-core, one browser (with a new empty profile) per person.
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
export const SOURCE_DIR = resolve(here, '..', '..');

export const CHROMIUM = process.env.ZELTO_CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                       '--disable-background-networking', '--disable-component-update',
                       '--disable-sync'];

// The zelto program: $ZELTO_BIN (ctest passes it), else the usual build folder.
export function zeltoBinary() {
  if (process.env.ZELTO_BIN) return process.env.ZELTO_BIN;
  return join(SOURCE_DIR, 'build', 'bin', 'zelto');
}

// Screenshots go to $ZELTO_E2E_OUT (the build folder under ctest).
export function outputDir() {
  const dir = process.env.ZELTO_E2E_OUT || join(tmpdir(), 'zelto-e2e');
  mkdirSync(dir, { recursive: true });
  return dir;
}

export function scratchDir(prefix) {
  return mkdtempSync(join(tmpdir(), prefix));
}

export function freePort() {
  return new Promise((ok, fail) => {
    const probe = createServer();
    probe.once('error', fail);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => ok(port));
    });
  });
}

// Demo operators as `zelto serve` prints them at start:
//   "    5   王芳  demo5"
export function parseLogins(text) {
  const logins = [];
  // Each line may start with its time ("2026-12-08T14:52:08.123+00:00 ").
  for (const m of text.matchAll(/^(?:\S+ )?\s+(\d+)\s+(\S+)\s+(\S+)\s*$/gm)) {
    logins.push({ id: Number(m[1]), name: m[2], password: m[3] });
  }
  return logins;
}

async function waitHealthy(base, child, deadlineMs) {
  const until = Date.now() + deadlineMs;
  while (Date.now() < until) {
    if (child.exitCode !== null) throw new Error('zelto serve exited with ' + child.exitCode);
    try {
      const res = await fetch(base + 'healthz');
      if (res.ok) return;
    } catch (e) { /* not listening yet */ }
    await new Promise((r) => setTimeout(r, 150));
  }
  throw new Error('zelto serve did not answer /healthz in time');
}

// Starts `zelto serve` (with `extraArgs` after the usual ones); resolves once
// /healthz answers and the demo logins have been printed. With `reuse.data`
// it serves that data folder (a restart) and leaves it when stopped.
export async function startServer(extraArgs = [], reuse = {}) {
  const bin = zeltoBinary();
  if (!existsSync(bin)) throw new Error('no zelto program at ' + bin + ' (set ZELTO_BIN)');
  const scratch = scratchDir('zelto-e2e-');
  const data = reuse.data || join(scratch, 'data');
  if (!reuse.data) mkdirSync(data);
  const port = await freePort();
  const listen = '127.0.0.1:' + port;
  const child = spawn(bin, ['serve', '--data', data, '--listen', listen, '--threads', '4',
                            '--demo', ...extraArgs], {
    stdio: ['ignore', 'pipe', 'pipe'],
    env: {
      ...process.env,
      ZELTO_WWW: join(SOURCE_DIR, 'host', 'www'),
      ZELTO_REGISTRY: process.env.ZELTO_REGISTRY || join(scratch, 'registry.reg'),
    },
  });
  let stdout = '';
  let stderr = '';
  child.stdout.on('data', (d) => { stdout += d; });
  child.stderr.on('data', (d) => { stderr += d; });
  const base = 'http://' + listen + '/';
  try {
    await waitHealthy(base, child, 20000);
  } catch (e) {
    child.kill('SIGKILL');
    rmSync(scratch, { recursive: true, force: true });
    throw new Error(e.message + '\n--- stdout\n' + stdout + '\n--- stderr\n' + stderr);
  }
  await new Promise((r) => setTimeout(r, 100));
  return {
    base,
    data,
    logins: () => parseLogins(stdout),
    output: () => stdout + stderr,
    async stop() {
      if (child.exitCode === null) {
        const exited = new Promise((r) => child.once('exit', r));
        child.kill('SIGTERM');
        const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
        await exited;
        clearTimeout(timer);
      }
      rmSync(scratch, { recursive: true, force: true });
    },
  };
}

// One person's browser: a chromium with a new empty profile whose language
// (navigator.language and Accept-Language) is `locale`. Every dialog
// is recorded (and accepted, so that confirm() answers yes); every page
// error is recorded too.
export async function openBrowser(name, locale = 'zh-CN') {
  const profile = scratchDir('zelto-e2e-' + name + '-');
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_ARGS,
    viewport: { width: 1180, height: 760 },
    locale,
  });
  const person = { name, context, dialogs: [], errors: [] };
  const watch = (page) => {
    page.on('pageerror', (err) => person.errors.push(page.url() + ': ' + err.message));
  };
  context.pages().forEach(watch);
  context.on('page', watch);
  context.on('dialog', async (dialog) => {
    person.dialogs.push({ type: dialog.type(), message: dialog.message() });
    try { await dialog.accept(); } catch (e) { /* the page closed meanwhile */ }
  });
  person.page = context.pages()[0] || await context.newPage();
  person.close = async () => {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  };
  return person;
}

// Can chromium start here at all? Answers the reason when it cannot.
export async function chromiumProblem() {
  if (!existsSync(CHROMIUM)) return 'no chromium at ' + CHROMIUM;
  let person;
  try {
    person = await openBrowser('probe');
    await person.page.setContent('<p>ok</p>');
    return null;
  } catch (e) {
    return 'chromium cannot start: ' + e.message.split('\n')[0];
  } finally {
    if (person) await person.close();
  }
}

// ---- what the browser tests do in the pages ----------------------------

// Polls fn until it answers something truthy; fails with `what` otherwise.
export async function until(what, fn, ms = 15000) {
  const end = Date.now() + ms;
  let last;
  while (Date.now() < end) {
    try {
      last = await fn();
      if (last) return last;
    } catch (e) { last = e; }
    await new Promise((r) => setTimeout(r, 200));
  }
  throw new Error('timed out waiting for ' + what + (last instanceof Error ? ': ' + last.message : ''));
}

export function messageList(page) {
  return page.frameLocator('iframe[name="fresh"]').frameLocator('iframe[name="chatmsglist"]')
      .locator('#list');
}

export async function listText(page) {
  return (await messageList(page).textContent()) || '';
}

export async function waitForText(page, text, what) {
  return until(what || 'text "' + text + '"', async () => (await listText(page)).includes(text));
}

export async function popup(person, action) {
  const [page] = await Promise.all([person.context.waitForEvent('page'), action()]);
  await page.waitForLoadState('domcontentloaded');
  return page;
}

export async function login(person, base, account) {
  await person.page.goto(base + 'operator/login.html');
  await person.page.fill('#id', String(account.id));
  await person.page.fill('#password', account.password);
  await Promise.all([person.page.waitForURL(/\/operator\/console\.html/), person.page.click('#submit')]);
}

export async function send(page, text) {
  await page.fill('#text', text);
  await page.click('#send');
}

// Steps of one test that build on each other: after a failure the rest are
// skipped. Use: const step = steps(t); await step('name', async () => {...}).
export function steps(t) {
  let failed = false;
  return (name, fn) => t.test(name, { skip: failed && 'an earlier step failed' }, async () => {
    try {
      await fn();
    } catch (e) {
      failed = true;
      throw e;
    }
  });
}

// The reason to skip the browser suites (false when chromium starts).
// Continuous integration installs chromium itself: there a browser that
// cannot start is a failure, never a silent skip.
export async function browserSkip() {
  const problem = await chromiumProblem();
  if (problem && process.env.CI) throw new Error('chromium cannot start: ' + problem);
  if (problem) console.log('# SKIP browser test: ' + problem);
  return problem ? 'chromium cannot start: ' + problem : false;
}

// Called inside a describe: a `zelto serve` (with `extraArgs`) for the
// suite, and person(name, locale) opening browsers; all end after the suite.
// The fields are set once the suite's first hook has run.
export function useSite(extraArgs = []) {
  const site = { server: null, out: null, people: [] };
  before(async () => {
    site.server = await startServer(extraArgs);
    site.out = outputDir();
  });
  after(async () => {
    for (const p of site.people) await p.close();
    if (site.server) await site.server.stop();
  });
  site.person = async (name, locale) => {
    const p = await openBrowser(name, locale);
    site.people.push(p);
    return p;
  };
  return site;
}
