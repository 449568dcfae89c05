// The host behind Debian's nginx with TLS, as docs/embedding.md sets it up:
// nginx runs as this test's own process on 127.0.0.1 with a configuration
// and a self-signed certificate the test writes. The client connects from
// 127.0.0.3 and the host trusts only 127.0.0.1 (nginx), so an address the
// host records tells which rule made it. Skips when nginx is missing.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, writeFileSync } from 'node:fs';
import { request } from 'node:https';
import { request as plainRequest } from 'node:http';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { freePort, scratchDir, startServer } from './harness.mjs';

const NGINX = ['/usr/sbin/nginx', '/usr/bin/nginx'].find((p) => existsSync(p));
const skip = NGINX ? false : 'nginx is missing (apt-get install nginx-light)';
if (skip) console.log('# SKIP proxy test: ' + skip);
const CLIENT = '127.0.0.3';

function nginxConfig(dir, port, upstream) {
  return `daemon off;
master_process off;
pid ${dir}/nginx.pid;
error_log ${dir}/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path ${dir}/body;
  proxy_temp_path ${dir}/proxy;
  fastcgi_temp_path ${dir}/fastcgi;
  uwsgi_temp_path ${dir}/uwsgi;
  scgi_temp_path ${dir}/scgi;
  server {
    listen 127.0.0.1:${port} ssl;
    ssl_certificate ${dir}/cert.pem;
    ssl_certificate_key ${dir}/key.pem;
    location / {
      proxy_pass http://${upstream};
      proxy_http_version 1.1;
      proxy_set_header Host $http_host;
      proxy_set_header X-Forwarded-For $remote_addr;
      proxy_set_header X-Forwarded-Proto $scheme;
      proxy_set_header X-Forwarded-Host $http_host;
      proxy_read_timeout 60s;
      proxy_buffering off;
    }
  }
}
`;
}

// One request from CLIENT; resolves with status, headers and body.
function call(base, method, path, { headers = {}, body } = {}) {
  const url = new URL(path, base);
  const send = url.protocol === 'https:' ? request : plainRequest;
  return new Promise((resolve, reject) => {
    const req = send(url, { method, headers, localAddress: CLIENT, rejectUnauthorized: false },
                     (res) => {
                       let text = '';
                       res.setEncoding('utf8');
                       res.on('data', (d) => { text += d; });
                       res.on('end', () => resolve({ status: res.statusCode, headers: res.headers,
                                                     body: text }));
                     });
    req.on('error', reject);
    req.setTimeout(40000, () => req.destroy(new Error('timed out')));
    if (body) {
      req.setHeader('Content-Type', 'application/x-www-form-urlencoded');
      req.end(body);
    } else {
      req.end();
    }
  });
}

const cookiesOf = (reply) => reply.headers['set-cookie'] || [];
const jar = (reply) => cookiesOf(reply).map((c) => c.split(';')[0]).join('; ');

describe('the host behind nginx with TLS', { skip }, () => {
  let server;
  let nginx;
  let proxied;
  const sql = (query) => execFileSync('sqlite3', [join(server.data, 'chat.db'), query],
                                      { encoding: 'utf8' }).trim();

  before(async () => {
    server = await startServer(['--trusted-proxy', '127.0.0.1']);
    const dir = scratchDir('zelto-nginx-');
    execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1',
                             '-subj', '/CN=127.0.0.1', '-keyout', join(dir, 'key.pem'),
                             '-out', join(dir, 'cert.pem')], { stdio: 'ignore' });
    const port = await freePort();
    writeFileSync(join(dir, 'nginx.conf'), nginxConfig(dir, port, new URL(server.base).host));
    nginx = spawn(NGINX, ['-p', dir, '-c', join(dir, 'nginx.conf'), '-e', join(dir, 'error.log')],
                  { stdio: 'ignore' });
    proxied = 'https://127.0.0.1:' + port + '/';
    for (let i = 0; i < 100; i++) {
      try {
        if ((await call(proxied, 'GET', 'healthz')).status === 200) return;
      } catch (e) { /* not listening yet */ }
      await new Promise((r) => setTimeout(r, 100));
    }
    throw new Error('nginx did not answer');
  });
  after(async () => {
    if (nginx && nginx.exitCode === null) {
      const exited = new Promise((r) => nginx.once('exit', r));
      nginx.kill('SIGTERM');
      await exited;
    }
    await server?.stop();
  });

  test('the client\'s address and scheme, Secure cookies, a poll held through nginx',
       async () => {
    const login = await call(proxied, 'POST', 'api/login', { body: 'id=5&password=demo5' });
    assert.equal(login.status, 200, login.body);
    assert.ok(cookiesOf(login).every((c) => c.includes('; Secure')), cookiesOf(login).join());
    const operator = { Cookie: jar(login), 'X-Zelto-Token': JSON.parse(login.body).token };

    const visit = await call(proxied, 'GET', 'site/index.html?from=proxy');
    assert.equal(visit.status, 200);
    assert.ok(cookiesOf(visit).length >= 2 &&
              cookiesOf(visit).every((c) => c.includes('; Secure')), cookiesOf(visit).join());
    const visitor = { Cookie: jar(visit) };
    const label = sql("select cstLabel from onlineCst where IP='" + CLIENT + "'");
    assert.ok(label, 'the visit recorded with the client\'s address');
    const page = sql(`select max(presentPage) from cstTrack where cstLabel='${label}'`);
    assert.equal(page, proxied + 'site/index.html?from=proxy');

    const chat = await call(proxied, 'POST', 'api/visitor/chat', { headers: visitor, body: '' });
    assert.equal(chat.status, 200, chat.body);
    const { cid } = JSON.parse(chat.body);
    assert.ok(cid > 0, chat.body);
    const held = call(proxied, 'GET', `visitor/GetClientMsg.asp?cid=${cid}&wait=20`,
                      { headers: visitor });
    await new Promise((r) => setTimeout(r, 1000));
    const post = await call(proxied, 'GET', `operator/DoUserMsg.asp?cid=${cid}&action=sub&` +
                            `msgContent=through-nginx&token=${operator['X-Zelto-Token']}`,
                            { headers: operator });
    assert.equal(post.status, 200, post.body);
    const poll = await held;
    assert.equal(poll.headers['x-zelto-wait'], '20');
    assert.match(poll.body, /through-nginx/);
  });

  test('the same headers straight from an untrusted peer are ignored', async () => {
    const forged = { 'X-Forwarded-For': '198.51.100.9', 'X-Forwarded-Proto': 'https',
                     'X-Forwarded-Host': 'evil.example' };
    const visit = await call(server.base, 'GET', 'site/about.html', { headers: forged });
    assert.equal(visit.status, 200);
    assert.ok(cookiesOf(visit).length > 0);
    assert.ok(cookiesOf(visit).every((c) => !c.includes('Secure')), cookiesOf(visit).join());
    assert.equal(sql("select count(*) from onlineCst where IP='198.51.100.9'"), '0');
    assert.equal(sql("select count(*) from cstTrack where presentPage like '%evil.example%'"), '0');
  });
});
