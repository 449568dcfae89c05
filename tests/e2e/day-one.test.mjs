// A company's first day, from the package to a restored backup: build the
// Debian package, unpack it into a scratch root, create the company and its
// first administrator with the commands, start the program the way the
// unit does (its command line, by hand: the machine may have no systemd),
// log in, add an operator on the administration page, chat, back up while
// the site serves, restore into a new folder and find the chat there.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { after, describe, test } from 'node:test';
import {
  browserSkip, freePort, listText, outputDir, openBrowser, scratchDir, send, steps, until,
  waitForText, zeltoBinary,
} from './harness.mjs';

const skip = await browserSkip() ||
    (!commandExists('cpack') || !commandExists('dpkg-deb')) && 'no cpack or dpkg-deb';

function commandExists(name) {
  try {
    execFileSync('sh', ['-c', 'command -v ' + name], { stdio: 'ignore' });
    return true;
  } catch (e) {
    return false;
  }
}

describe('a company\'s first day with the package', { skip }, () => {
  const scratch = scratchDir('zelto-day-one-');
  const root = join(scratch, 'root');
  const state = join(scratch, 'state');
  const out = outputDir();
  const servers = [];
  const people = [];
  mkdirSync(state);
  // As the unit runs it: no environment of the user's, its own registry.
  const env = { PATH: '/usr/bin:/bin', HOME: state, ZELTO_REGISTRY: join(state, 'registry') };
  const zelto = (...args) => execFileSync(join(root, 'usr/bin/zelto'), args,
                                          { env, encoding: 'utf8', cwd: state });

  // The unit's ExecStart, with the data folder and address of this test.
  async function startService(data) {
    const port = await freePort();
    const unit = readFileSync(join(root, 'usr/lib/systemd/system/zelto.service'), 'utf8');
    const exec = /^ExecStart=\/usr\/bin\/zelto (.*)$/m.exec(unit)[1].split(' ')
        .map((arg) => arg.replace(/^\/etc\//, root + '/etc/'));
    const child = spawn(join(root, 'usr/bin/zelto'),
                        [...exec, '--data', data, '--listen', '127.0.0.1:' + port],
                        { env, cwd: state, stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    child.stdout.on('data', (d) => { output += d; });
    child.stderr.on('data', (d) => { output += d; });
    const server = { base: 'http://127.0.0.1:' + port + '/', child, output: () => output };
    servers.push(server);
    await until('the service on port ' + port, async () => {
      if (child.exitCode !== null) throw new Error('exited: ' + output);
      return (await fetch(server.base + 'healthz')).ok;
    }, 20000);
    return server;
  }

  async function stopService(server) {
    if (server.child.exitCode !== null) return;
    const exited = new Promise((r) => server.child.once('exit', r));
    server.child.kill('SIGTERM');
    await exited;
  }

  async function person(name, locale) {
    const p = await openBrowser(name, locale);
    people.push(p);
    return p;
  }

  async function logIn(p, base, id, password) {
    await p.page.goto(base + 'operator/login.html');
    await p.page.fill('#id', String(id));
    await p.page.fill('#password', password);
    await Promise.all([p.page.waitForURL(/\/operator\/console\.html/), p.page.click('#submit')]);
  }

  after(async () => {
    for (const p of people) await p.close();
    for (const s of servers) await stopService(s);
    rmSync(scratch, { recursive: true, force: true });
  });

  test('package, set-up, administration, chat, backup and restore', async (t) => {
    const step = steps(t);
    let service;
    let admin;
    let cid;
    const build = dirname(dirname(zeltoBinary()));

    await step('the package builds and unpacks', async () => {
      execFileSync('cpack', ['-G', 'DEB', '--config', join(build, 'CPackConfig.cmake'),
                             '-B', join(scratch, 'package')], { cwd: scratch, stdio: 'ignore' });
      const deb = readdirSync(join(scratch, 'package')).find((f) => f.endsWith('.deb'));
      assert.ok(deb, 'no .deb made');
      execFileSync('dpkg-deb', ['-x', join(scratch, 'package', deb), root]);
      assert.ok(existsSync(join(root, 'usr/share/zelto/www/operator/admin.html')));
    });

    await step('the company and its first administrator, by the commands', async () => {
      const data = join(state, 'data');
      assert.equal(zelto('company', 'add', '--data', data, '--name', 'Acme Ltd',
                         '--origins', 'https://www.acme.example'), '1\n');
      writeFileSync(join(state, 'admin-password'), 'first-day-secret\n', { mode: 0o600 });
      assert.equal(zelto('operator', 'add', '--data', data, '--company', '1', '--name', 'Ada',
                         '--rights', 'list,invite,monitor,admin',
                         '--password-file', join(state, 'admin-password')), '1\n');
      assert.match(zelto('operator', 'list', '--data', data), /^1 +Ada +1 +list,invite,monitor,admin +active$/m);
    });

    await step('the service starts on the new site without demo data', async () => {
      service = await startService(join(state, 'data'));
      assert.doesNotMatch(service.output(), /demo/i);
      const published = await fetch(service.base + 'api/login', {
        method: 'POST', body: 'id=5&password=demo5',
        headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      });
      assert.equal(published.status, 401);
    });

    await step('the administrator logs in and adds an operator on the administration page', async () => {
      admin = await person('admin');
      await logIn(admin, service.base, 1, 'first-day-secret');
      await admin.page.waitForSelector('#admin-link:not(.hidden)');
      await Promise.all([admin.page.waitForURL(/\/operator\/admin\.html/),
                         admin.page.click('#admin-link')]);
      await admin.page.waitForSelector('#operators tr[data-id="1"]');
      assert.equal(await admin.page.inputValue('#company-name'), 'Acme Ltd');
      assert.equal(await admin.page.inputValue('#origins'), 'https://www.acme.example');
      // The tag to paste into the company's pages names this host and company.
      assert.equal(await admin.page.textContent('#snippet'),
                   `<script src="${service.base}widget.js" data-company="1" async></script>`);
      assert.equal(await admin.page.inputValue('#chat-limit'), '4');
      await admin.page.fill('#chat-limit', '2');
      await admin.page.click('#company button[type="submit"]');
      await until('the chat limit stored', () =>
        /^1 +Acme Ltd +2 +https:\/\/www\.acme\.example$/m.test(zelto('company', 'list', '--data', join(state, 'data'))));
      await admin.page.fill('#add input[name="name"]', 'Bruno');
      await admin.page.fill('#add input[name="password"]', 'bruno-password');
      await admin.page.check('#add input[name="monitor"]');
      await admin.page.click('#add button[type="submit"]');
      await admin.page.waitForSelector('#operators tr[data-id="2"]');
      const cells = await admin.page.locator('#operators tr[data-id="2"] td').allTextContents();
      assert.equal(cells[1], 'Bruno');
      const boxes = admin.page.locator('#operators tr[data-id="2"] input[type="checkbox"]');
      assert.deepEqual(await boxes.evaluateAll((all) => all.map((b) => b.checked)),
                       [true, true, true, false]);
      await admin.page.screenshot({ path: join(out, 'day-one-admin.png'), fullPage: true });
      assert.match(zelto('operator', 'list', '--data', join(state, 'data')),
                   /^2 +Bruno +1 +list,invite,monitor +active$/m);
    });

    await step('the administration page in English; a plain operator has none', async () => {
      const english = await person('admin-en', 'en-US');
      await logIn(english, service.base, 1, 'first-day-secret');
      await english.page.waitForSelector('#admin-link:not(.hidden)');
      assert.equal(await english.page.textContent('#admin-link'), 'Administration');
      await english.page.goto(service.base + 'operator/admin.html');
      await english.page.waitForSelector('#operators tr[data-id="2"]');
      assert.equal(await english.page.textContent('#operators-card h2'), 'Operators');
      await english.page.screenshot({ path: join(out, 'day-one-admin-en.png'), fullPage: true });
      await english.page.click('#logout');
      await english.page.waitForURL(/login\.html/);
      await logIn(english, service.base, 2, 'bruno-password');
      await english.page.waitForSelector('#me:not(:empty)');
      assert.ok(await english.page.locator('#admin-link.hidden').count(), 'no link for Bruno');
      await english.page.goto(service.base + 'operator/admin.html');
      await english.page.waitForSelector('#denied:not(.hidden)');
      assert.equal(await english.page.locator('#operators tr').count(), 0);
      await english.page.click('#logout');
      await english.page.waitForURL(/login\.html/);
    });

    await step('the new operator logs in; a visitor chats with them', async () => {
      const bruno = await person('bruno');
      await logIn(bruno, service.base, 2, 'bruno-password');
      // Only Bruno is online once Ada has left: the chat goes to him.
      await admin.page.click('#logout');
      await admin.page.waitForURL(/login\.html/);
      const visitor = await person('visitor');
      await visitor.page.goto(service.base + 'site/index.html');
      const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
      const opening = visitor.context.waitForEvent('page');
      await visitor.page.click('#chat-button');
      const answer = await answered;
      assert.equal(answer.status(), 200, await answer.text());
      cid = String((await answer.json()).cid);
      const visitorChat = await opening;
      await visitorChat.waitForURL(/\/visitor\/chat\.html\?cid=/);
      await send(visitorChat, 'Hello, is anyone there?');
      const link = bruno.page.locator(`#mine a[href$="cid=${cid}"]`);
      await until('the conversation in Bruno\'s list', () => link.count());
      const [brunoChat] = await Promise.all([bruno.context.waitForEvent('page'), link.click()]);
      await waitForText(brunoChat, 'Hello, is anyone there?', 'the visitor\'s message at Bruno');
      await send(brunoChat, 'Good morning from Acme');
      await waitForText(visitorChat, 'Good morning from Acme', 'the answer at the visitor');
      await visitorChat.screenshot({ path: join(out, 'day-one-chat.png') });
    });

    await step('a backup while serving, restored into a new folder, holds the chat', async () => {
      const backup = join(state, 'backup');
      zelto('backup', '--data', join(state, 'data'), '--to', backup);
      const restored = join(state, 'restored');
      zelto('restore', '--from', backup, '--data', restored);
      const second = await startService(restored);
      const reader = await person('reader');
      // Ada supervises: the monitor's view shows the whole conversation
      // (Bruno's own window would show only what he has not read yet).
      await logIn(reader, second.base, 1, 'first-day-secret');
      await reader.page.goto(second.base + 'operator/view.html?cid=' + cid);
      await waitForText(reader.page, 'Good morning from Acme', 'the answer in the restored site');
      assert.match(await listText(reader.page), /Hello, is anyone there\?/);
      await reader.page.screenshot({ path: join(out, 'day-one-restored.png') });
      await stopService(second);
    });
  });
});
