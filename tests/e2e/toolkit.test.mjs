// The operators' toolkit in real browsers: the typing line on both sides,
// the seen mark, a canned reply inserted by its keyword with the names
// filled in, notes on a visitor in the chat window and the console, and a
// supervisor's whisper that the operators see and the visitor's window
// never receives (every answer the visitor's browser gets is checked).
import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import { join } from 'node:path';
import { browserSkip, listText, login, popup, send, steps, until, useSite, waitForText } from './harness.mjs';

const skip = await browserSkip();

describe('the operators\' toolkit in the browser', { skip }, () => {
  const site = useSite();
  let server;
  let out;
  before(() => { ({ server, out } = site); });

  test('typing, seen, canned replies, notes, whispers', async (t) => {
    const step = steps(t);
    const wang = server.logins().find((l) => l.id === 5);
    const supervisor = await site.person('wang');
    const visitor = await site.person('visitor');
    let win;      // the visitor's chat window
    let opChat;   // the operator's chat window
    let cid;
    const received = [];  // every answer body the visitor's browser got
    visitor.context.on('response', async (res) => {
      try { received.push(res.url() + '\n' + await res.text()); } catch (e) { /* a redirect */ }
    });

    await step('a chat between the visitor and the supervisor', async () => {
      await login(supervisor, server.base, wang);
      await visitor.page.goto(server.base + 'site/index.html');
      const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
      win = await popup(visitor, () => visitor.page.click('#chat-button'));
      cid = (await (await answered).json()).cid;
      await win.waitForURL(/visitor\/chat\.html/);
      opChat = await supervisor.context.newPage();
      await opChat.goto(server.base + 'operator/chat.html?cid=' + cid);
      await send(win, 'hello there');
      await waitForText(opChat, 'hello there');
    });

    await step('typing shows on the other side and clears when the message arrives', async () => {
      await win.type('#text', 'I have a ques', { delay: 60 });
      await until('the typing line at the operator', async () =>
        /访客正在输入/.test(await opChat.textContent('#typing-line')) &&
        await opChat.isVisible('#typing-line'), 5000);
      assert.doesNotMatch(await opChat.textContent('#typing-line'), /ques/,
                          'no preview while the company has not turned it on');
      await opChat.screenshot({ path: join(out, 'toolkit-typing.png') });
      await win.type('#text', 'tion', { delay: 30 });
      await win.click('#send');
      await waitForText(opChat, 'I have a question');
      await until('the typing line clears', async () => !(await opChat.isVisible('#typing-line')), 8000);
      // The other way round: the visitor sees the operator typing.
      await opChat.type('#text', 'Let me check', { delay: 60 });
      await until('the typing line at the visitor', async () =>
        /客服正在输入/.test(await win.textContent('#typing-line')), 5000);
      await opChat.fill('#text', '');
      await opChat.dispatchEvent('#text', 'input');
      await until('cleared when the text is', async () => !(await win.isVisible('#typing-line')), 8000);
    });

    await step('seen marks follow the other side\'s polls', async () => {
      await until('the visitor\'s last message seen', async () =>
        (await win.textContent('#seen-line')) === '已读', 8000);
      await send(opChat, 'one moment please');
      await waitForText(win, 'one moment please');
      await until('the operator\'s message seen', async () =>
        (await opChat.textContent('#seen-line')) === '已读', 8000);
      await win.screenshot({ path: join(out, 'toolkit-seen-visitor.png') });
    });

    await step('a canned reply is inserted by its keyword with the names filled in', async () => {
      const page = await supervisor.context.newPage();
      await page.goto(server.base + 'operator/canned.html');
      await page.fill('#keyword', 'price');
      await page.fill('#reply-text', '{visitor}，价格是 10 元。——{operator}');
      await page.click('#reply-form button[type=submit]');
      await until('the reply listed', async () => /\/price/.test(await page.textContent('#replies')));
      await page.screenshot({ path: join(out, 'toolkit-canned-page.png') });
      await page.close();
      // The window reads the replies when it opens.
      await opChat.reload();
      await until('the completion menu', async () => {
        await opChat.fill('#text', '');
        await opChat.type('#text', '/pri');
        return opChat.isVisible('#canned-menu');
      });
      await opChat.screenshot({ path: join(out, 'toolkit-canned-menu.png') });
      await opChat.keyboard.press('Tab');
      const text = await opChat.inputValue('#text');
      assert.match(text, /^.+，价格是 10 元。——王芳$/);
      assert.ok(!text.includes('{visitor}') && !text.includes('/pri'), text);
      await opChat.click('#send');
      await waitForText(win, '价格是 10 元');
    });

    await step('notes on the visitor show in the chat window and the console', async () => {
      await opChat.fill('#notes textarea', 'VIP，偏好邮件联系');
      await opChat.click('#notes button[type=submit]');
      await until('the note in the chat window', async () =>
        /VIP，偏好邮件联系/.test(await opChat.textContent('#notes ul')));
      const console = supervisor.page;
      await console.bringToFront();
      const row = console.locator('#show tr[ondblclick]').first();
      await until('a visitor row', () => row.isVisible());
      // The visitor of this chat: the row whose address names its label.
      const labels = await console.locator('#show tr[ondblclick]').evaluateAll((rows) =>
        rows.map((r) => r.getAttribute('ondblclick')));
      const ownLabel = await opChat.evaluate(async (c) => {
        const mine = await Zelto.api('GET', '/api/operator/conversations');
        return mine.find((x) => String(x.cid) === String(c)).label;
      }, cid);
      const index = labels.findIndex((l) => l.includes('cstLabel=' + ownLabel));
      assert.ok(index >= 0, 'the visitor is on the list');
      await console.locator('#show tr[ondblclick]').nth(index).click();
      await until('the note in the console', async () =>
        /VIP，偏好邮件联系/.test(await console.textContent('#notes')));
      await console.screenshot({ path: join(out, 'toolkit-notes-console.png'), fullPage: true });
    });

    await step('a supervisor\'s whisper reaches the operators, never the visitor', async () => {
      const view = await supervisor.context.newPage();
      await view.goto(server.base + 'operator/view.html?cid=' + cid);
      await view.fill('#whisper-form input', '折扣口令 secret-whisper');
      await view.click('#whisper-form button[type=submit]');
      await until('the whisper in the chat window', async () =>
        /secret-whisper/.test(await opChat.textContent('#whispers')), 8000);
      await view.screenshot({ path: join(out, 'toolkit-whisper-view.png') });
      await opChat.screenshot({ path: join(out, 'toolkit-whisper-operator.png') });
      // A message after it reaches the visitor: the visitor's polls ran past it.
      await send(opChat, 'after the whisper');
      await waitForText(win, 'after the whisper');
      assert.doesNotMatch(await listText(win), /secret-whisper|折扣口令/);
      assert.ok(!(await win.content()).includes('secret-whisper'));
      const leaked = received.filter((r) => r.includes('secret-whisper') || r.includes('折扣口令'))
          .map((r) => r.split('\n')[0]);
      assert.deepEqual(leaked, [], 'no answer to the visitor carried the whisper');
      assert.ok(received.some((r) => r.includes('/visitor/GetClientMsg.asp')), 'the visitor polled');
      await win.screenshot({ path: join(out, 'toolkit-whisper-visitor.png') });
      await view.close();
    });
  });
});
