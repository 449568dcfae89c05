// Webhooks and the read-only API around a chat in real browsers: the
// company's webhook (added with `zelto webhook add`) receives the chat's
// events over https from a receiver this test starts with a self-signed
// certificate (the site trusts it through --webhook-ca), each signature
// checked here; a receiver that is down gets the event once it is up; an
// event queued while the site stops is delivered by the next start; the
// API answers with the company's key and refuses without it.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createHmac } from 'node:crypto';
import { mkdirSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:https';
import { join } from 'node:path';
import { after, describe, test } from 'node:test';
import {
  browserSkip, freePort, login, openBrowser, outputDir, popup, scratchDir, send, startServer,
  steps, until, waitForText, zeltoBinary,
} from './harness.mjs';

const skip = await browserSkip();

// A self-signed certificate for 127.0.0.1.
function makeCertificate(dir) {
  const key = join(dir, 'key.pem');
  const cert = join(dir, 'cert.pem');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key,
                           '-out', cert, '-days', '1', '-subj', '/CN=127.0.0.1',
                           '-addext', 'subjectAltName=IP:127.0.0.1'], { stdio: 'ignore' });
  return { key: readFileSync(key), cert: readFileSync(cert), certFile: cert };
}

// An https receiver on `port` that checks each delivery's signature and
// keeps the events; close() ends it.
function startReceiver(tls, port, secret) {
  const events = [];
  const server = createServer({ key: tls.key, cert: tls.cert }, (req, res) => {
    let body = '';
    req.on('data', (d) => { body += d; });
    req.on('end', () => {
      const stamp = req.headers['x-zelto-timestamp'];
      const expected = 'sha256=' + createHmac('sha256', secret).update(stamp + '.' + body).digest('hex');
      const fresh = Math.abs(Date.now() / 1000 - Number(stamp)) < 300;
      if (req.headers['x-zelto-signature'] !== expected || !fresh) {
        res.writeHead(401).end();
        events.push({ forged: true });
        return;
      }
      events.push(JSON.parse(body));
      res.writeHead(204).end();
    });
  });
  return new Promise((ok) => server.listen(port, '127.0.0.1', () => ok({
    events,
    of: (name) => events.filter((e) => e.event === name),
    close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }),
  })));
}

function zelto(args) {
  return execFileSync(zeltoBinary(), args, { encoding: 'utf8' });
}

describe('webhooks and the API around a chat', { skip }, () => {
  const scratch = scratchDir('zelto-e2e-hooks-');
  const data = join(scratch, 'data');
  mkdirSync(data);
  const tls = makeCertificate(scratch);
  const args = ['--webhook-allow-private', '--webhook-ca', tls.certFile, '--webhook-retry-seconds', '1'];
  const people = [];
  let server = null;
  let receiver = null;
  after(async () => {
    for (const p of people) await p.close();
    if (receiver) await receiver.close();
    if (server) await server.stop();
    rmSync(scratch, { recursive: true, force: true });
  });

  test('events reach the receiver signed, across its outage and a restart', async (t) => {
    const step = steps(t);
    const out = outputDir();
    const port = await freePort();
    server = await startServer(args, { data });
    const wang = server.logins().find((l) => l.id === 5);
    let secret;
    let key;
    let chat;

    let operator;
    await step('the administrator adds a webhook and an API key on the page', async () => {
      zelto(['operator', 'set', '--data', data, '--id', '5', '--rights', 'list,invite,monitor,admin']);
      operator = await openBrowser('hooks-operator');
      people.push(operator);
      await login(operator, server.base, wang);
      const page = operator.page;
      await page.goto(server.base + 'operator/admin.html');
      await Promise.all([page.waitForURL(/integrations\.html/), page.click('#integrations-link')]);
      await page.fill('#add-webhook input[name=url]', 'https://127.0.0.1:' + port + '/hook');
      await page.click('#add-webhook button[type=submit]');
      await until('the secret shown', () => page.isVisible('#secret'));
      secret = (await page.textContent('#secret')).trim();
      assert.match(secret, /^[0-9a-f]{64}$/);
      await until('the webhook listed', async () => (await page.textContent('#webhooks')).includes('/hook'));
      await page.fill('#add-key input[name=name]', 'crm');
      await page.click('#add-key button[type=submit]');
      await until('the key shown', () => page.isVisible('#key'));
      key = (await page.textContent('#key')).trim();
      assert.match(key, /^zk_[0-9a-f]{48}$/);
      await until('the key listed', async () => (await page.textContent('#keys')).includes('crm'));
      await page.screenshot({ path: join(out, 'webhooks-integrations-page.png'), fullPage: true });
      // Lists never show them again: the page after a reload, the commands.
      await page.reload();
      await until('the lists again', async () => (await page.textContent('#webhooks')).includes('/hook') &&
                                                  (await page.textContent('#keys')).includes('crm'));
      const shown = await page.textContent('main');
      const listed = zelto(['webhook', 'list', '--data', data]) + zelto(['apikey', 'list', '--data', data]);
      assert.ok(listed.includes('/hook') && listed.includes('crm'), listed);
      for (const text of [shown, listed]) assert.ok(!text.includes(secret) && !text.includes(key), text);
    });

    await step('a chat while the receiver is down: delivered once it is up', async () => {
      const visitor = await openBrowser('hooks-visitor');
      people.push(visitor);
      await operator.page.goto(server.base + 'operator/console.html');
      await until('online', async () => (await operator.page.inputValue('#my-state')) === 'online');
      await visitor.page.goto(server.base + 'site/index.html');
      const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
      const win = await popup(visitor, () => visitor.page.click('#chat-button'));
      chat = { win, cid: (await (await answered).json()).cid };
      await win.waitForURL(/visitor\/chat\.html/);
      await send(win, '你好 webhook');
      await waitForText(win, '你好 webhook');
      await win.screenshot({ path: join(out, 'webhooks-visitor-chat.png') });
      // The attempts fail while nobody listens (the site logs them).
      await until('a failed attempt', () => server.output().includes('a webhook delivery'), 15000);
      assert.ok(zelto(['webhook', 'list', '--data', data, '--json']).includes('"pending":2'));
      receiver = await startReceiver(tls, port, secret);
      await until('both events', () => receiver.of('message').length === 1 &&
                                       receiver.of('chat.started').length === 1, 40000);
      assert.ok(!receiver.events.some((e) => e.forged));
      const message = receiver.of('message')[0];
      assert.equal(message.data.text, '你好 webhook');
      assert.equal(message.data.sender, 'visitor');
      assert.equal(message.data.cid, chat.cid);
      assert.equal(receiver.of('chat.started')[0].data.operatorId, 5);
    });

    await step('the API lists the chat and its transcript only with the key', async () => {
      const get = (path, k) => fetch(server.base + path, k ? { headers: { Authorization: 'Bearer ' + k } } : {});
      assert.equal((await get('api/v1/conversations')).status, 401);
      const list = await (await get('api/v1/conversations', key)).json();
      assert.ok(list.conversations.some((c) => c.cid === chat.cid), JSON.stringify(list));
      const transcript = await (await get('api/v1/conversations/' + chat.cid + '/transcript', key)).json();
      assert.ok(transcript.messages.some((m) => m.text === '你好 webhook' && m.sender === 'visitor'));
      zelto(['apikey', 'revoke', '--data', data, '--id', '1']);
      assert.equal((await get('api/v1/conversations', key)).status, 401);
    });

    await step('an event queued before a restart is delivered after it', async () => {
      await receiver.close();
      receiver = null;
      await chat.win.click('#end');
      await until('the end queued', () => zelto(['webhook', 'list', '--data', data, '--json']).includes('"pending":1'), 10000);
      await server.stop();
      server = await startServer(args, { data });
      receiver = await startReceiver(tls, port, secret);
      await until('the end event', () => receiver.of('chat.ended').length === 1, 20000);
      assert.equal(receiver.of('chat.ended')[0].data.cid, chat.cid);
      assert.equal(receiver.of('chat.ended')[0].data.endedBy, 'visitor');
      assert.ok(!receiver.events.some((e) => e.forged));
    });
  });
});
