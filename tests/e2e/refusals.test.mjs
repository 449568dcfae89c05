// The site's refusals as a person meets them, in the browser's language:
// an operator whose password was guessed at too often waits, a visitor who
// types faster than the site takes messages is told to wait; what was
// refused is not stored, and the normal flow goes on afterwards.
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { before, describe, test } from 'node:test';
import { browserSkip, login, send, until, useSite } from './harness.mjs';

const skip = await browserSkip();

describe('refusals in the interface', { skip }, () => {
  // One message per 5 s after a burst of two: a slow (sanitized) host never
  // earns the third one back while the visitor types.
  const site = useSite(['--login-failures', '3', '--message-burst', '2', '--message-rate', '0.2']);
  let server;
  let out;
  before(() => { ({ server, out } = site); });

  for (const [locale, waitText] of [['zh-CN', '秒后再试'], ['en-US', 'and try again']]) {
    test(`a guessed-at login waits (${locale})`, async () => {
      const operator = await site.person('operator-' + locale, locale);
      const page = operator.page;
      await page.goto(server.base + 'operator/login.html');
      const id = locale === 'zh-CN' ? '12' : '7';
      for (let i = 0; i < 3; i++) {
        await page.fill('#id', id);
        await page.fill('#password', 'guess' + i);
        await page.click('#submit');
        await until('the wrong-password message', async () =>
          (await page.textContent('#error')).length > 0 &&
          !(await page.isDisabled('#submit')));
        await page.evaluate(() => { document.getElementById('error').textContent = ''; });
      }
      // The right password too, while the delay lasts.
      const password = server.logins().find((l) => l.id === Number(id)).password;
      await page.fill('#password', password);
      await page.click('#submit');
      await until('the wait message', async () =>
        (await page.textContent('#error')).includes(waitText));
      await page.screenshot({ path: join(out, `login-delayed-${locale}.png`) });
      assert.match(page.url(), /login\.html/);
    });
  }

  test('a visitor typing too fast is told to wait; nothing refused is stored', async () => {
    // An operator online, so that the chat opens (operator 5: the login
    // tests above delayed 12 and 7).
    const operator = await site.person('operator-online', 'en-US');
    await login(operator, server.base, server.logins().find((l) => l.id === 5));
    const visitor = await site.person('visitor-fast', 'en-US');
    await visitor.page.goto(server.base + 'site/index.html');
    const opening = visitor.context.waitForEvent('page');
    await visitor.page.click('#chat-button');
    const chat = await opening;
    await chat.waitForURL(/\/visitor\/chat\.html\?cid=\d+$/);
    await chat.waitForSelector('#status.ok');
    const statuses = [];
    for (const text of ['one', 'two', 'three']) {
      const answered = chat.waitForResponse((r) => r.url().includes('DoClientMsg.asp'));
      await send(chat, text);
      statuses.push((await answered).status());
    }
    assert.deepEqual(statuses, [200, 200, 429]);
    await until('the wait toast', async () =>
      ((await chat.textContent('#z-toast')) || '').includes('and try again'));
    await chat.screenshot({ path: join(out, 'visitor-too-fast.png') });
    // A moment later the visitor goes on.
    await chat.waitForTimeout(5100);
    const stored = chat.waitForResponse((r) => r.url().includes('DoClientMsg.asp') &&
                                               r.status() === 200);
    await send(chat, 'four');
    await stored;
  });
});
