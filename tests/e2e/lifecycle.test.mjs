// A chat's life in real browsers: the end reaching the other window within
// a poll round, an operator set away getting no chat, notifications (the
// Notification API stubbed to record calls) and the title's count, the
// queue when both operators are at their limit, the leave-a-message form
// when nobody is online and its listing in the console, and the
// supervisor's read-only view showing the same every time.
import assert from 'node:assert/strict';
import { before, describe, test } from 'node:test';
import { join } from 'node:path';
import { browserSkip, listText, login, popup, send, until, useSite, waitForText } from './harness.mjs';

const skip = await browserSkip();
const LIMIT = 4;  // running chats per operator, the default

// A visitor without a browser: the company site's first page for a
// session, then the site's JSON routes with its cookies.
async function fetchVisitor(base) {
  const first = await fetch(base + 'site/index.html');
  const cookie = first.headers.getSetCookie().map((c) => c.split(';')[0]).join('; ');
  const post = async (path, form) => {
    const res = await fetch(base + path.replace(/^\//, ''), {
      method: 'POST', headers: { Cookie: cookie, 'Content-Type': 'application/x-www-form-urlencoded' },
      body: new URLSearchParams(form || {}).toString(),
    });
    const text = await res.text();
    assert.equal(res.status, 200, path + ': ' + text);
    return JSON.parse(text);
  };
  return { post, openChat: () => post('/api/visitor/chat'),
           end: (cid) => post('/api/conversation/end', { cid }) };
}

// Records every desktop notification the page makes, grants them, and
// makes the page look unfocused (so that its title counts).
const NOTIFICATION_STUB = () => {
  window.__notes = [];
  window.Notification = class {
    constructor(title, options) { window.__notes.push({ title, body: (options || {}).body }); }
    static requestPermission() { return Promise.resolve('granted'); }
  };
  window.Notification.permission = 'granted';
  document.hasFocus = () => false;
};

describe('a chat\'s life in the browser', { skip }, () => {
  const site = useSite();
  let server;
  let out;
  before(() => { ({ server, out } = site); });

  test('end, availability, notifications, queue, offline messages, the view', async (t) => {
    const account = (id) => server.logins().find((l) => l.id === id);
    const wang = account(5);
    const li = account(12);
    const supervisor = await site.person('wang');
    const colleague = await site.person('li');
    const visitor = await site.person('visitor');
    await supervisor.context.addInitScript(NOTIFICATION_STUB);

    let failed = false;
    const step = (name, fn) => t.test(name, { skip: failed && 'an earlier step failed' }, async () => {
      try { await fn(); } catch (e) { failed = true; throw e; }
    });
    // The visitor's browser opens a chat from the site's button; the popup.
    const openVisitorChat = async () => {
      await visitor.page.goto(server.base + 'site/index.html');
      const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
      const win = await popup(visitor, () => visitor.page.click('#chat-button'));
      const answer = await (await answered).json();
      return { win, answer };
    };
    const mine = (person) => person.page.locator('#mine a');
    const mineHas = async (person, cid) =>
      (await mine(person).evaluateAll((as) => as.map((a) => a.href))).some((h) => h.endsWith('cid=' + cid));
    let chat;

    await step('the visitor ends: the operator\'s window learns it within a poll round', async () => {
      await login(supervisor, server.base, wang);
      await until('online in the console', async () =>
        (await supervisor.page.inputValue('#my-state')) === 'online');
      chat = await openVisitorChat();
      assert.equal(chat.answer.state, 'running');
      const cid = chat.answer.cid;
      await chat.win.waitForURL(/visitor\/chat\.html/);
      await until('the chat in the console', () => mineHas(supervisor, cid));
      const opChat = await supervisor.context.newPage();
      await opChat.goto(server.base + 'operator/chat.html?cid=' + cid);
      await send(chat.win, 'bye from the visitor');
      await waitForText(opChat, 'bye from the visitor');
      const started = Date.now();
      await chat.win.click('#end');
      await until('the end line at the operator', () => opChat.isVisible('#ended-line'), 5000);
      assert.ok(Date.now() - started < 5000, 'within one long-poll round');
      assert.match(await opChat.textContent('#ended-line'), /访客已于 .+ 结束对话/);
      assert.ok(await opChat.isDisabled('#text'));
      assert.ok(await opChat.isDisabled('#send'));
      await until('the list drops it', async () => !(await mineHas(supervisor, cid)));
      await opChat.screenshot({ path: join(out, 'lifecycle-ended-by-visitor.png') });
      await opChat.close();
      await chat.win.close();
    });

    await step('the operator ends: the visitor\'s window learns it and cannot send', async () => {
      chat = await openVisitorChat();
      const cid = chat.answer.cid;
      await chat.win.waitForURL(/visitor\/chat\.html/);
      const opChat = await supervisor.context.newPage();
      await opChat.goto(server.base + 'operator/chat.html?cid=' + cid);
      await send(opChat, 'we are closing now');
      await waitForText(chat.win, 'we are closing now');
      await opChat.click('#end');
      await until('the end line at the visitor', () => chat.win.isVisible('#ended-line'), 5000);
      assert.match(await chat.win.textContent('#ended-line'), /客服已于 .+ 结束对话/);
      assert.ok(await chat.win.isDisabled('#send'));
      // Posting into the ended conversation is refused by the host itself.
      const status = await chat.win.evaluate(async (c) => (await fetch(
        '/visitor/DoClientMsg.asp?cid=' + c + '&action=sub&msgContent=late&adjunct=')).status, cid);
      assert.equal(status, 403);
      await chat.win.screenshot({ path: join(out, 'lifecycle-ended-by-operator.png') });
      await opChat.close();
      await chat.win.close();
    });

    await step('an operator set away gets no new chat; the other is told', async () => {
      await login(colleague, server.base, li);
      // 5 has the demo conversation, 12 none: 12 is next while online.
      const filler = await fetchVisitor(server.base);
      const first = await filler.openChat();
      await until('the filler chat at 12', () => mineHas(colleague, first.cid));
      await filler.end(first.cid);
      await colleague.page.selectOption('#my-state', 'away');
      await until('5 sees 12 away', async () =>
        /离开/.test(await supervisor.page.textContent('#colleagues')));
      const notesBefore = await supervisor.page.evaluate(() => window.__notes.length);
      const next = await (await fetchVisitor(server.base)).openChat();
      assert.equal(next.state, 'running');
      await until('the new chat at 5', () => mineHas(supervisor, next.cid));
      assert.ok(!(await mineHas(colleague, next.cid)), 'none for the operator who is away');
      const notes = await supervisor.page.evaluate(() => window.__notes);
      assert.ok(notes.length > notesBefore, 'a desktop notification');
      assert.equal(notes[notes.length - 1].title, '新对话');
      assert.match(await supervisor.page.title(), /^\(\d+\) /);
      await supervisor.page.screenshot({ path: join(out, 'lifecycle-console.png'), fullPage: true });
      await colleague.page.selectOption('#my-state', 'online');
    });

    let waiting;
    let fillers = [];
    await step('both at their limit: the next visitor waits in the queue, then gets an operator', async () => {
      // Fill both operators up to the limit.
      for (let i = 0; i < 2 * LIMIT; ++i) {
        const v = await fetchVisitor(server.base);
        const opened = await v.openChat();
        if (opened.state === 'queued') { await v.end(opened.cid); break; }
        fillers.push({ v, cid: opened.cid });
      }
      waiting = await openVisitorChat();
      assert.equal(waiting.answer.state, 'queued', JSON.stringify(waiting.answer));
      await until('the queue place', () => waiting.win.isVisible('#queue'));
      assert.match(await waiting.win.textContent('#queue-position'), /第 1 位/);
      await until('the queue length in the console', async () =>
        /排队等待：1/.test(await supervisor.page.textContent('#queue-length')));
      await waiting.win.screenshot({ path: join(out, 'lifecycle-queued.png') });
      const freed = fillers.shift();
      await freed.v.end(freed.cid);
      await until('assigned', async () => !(await waiting.win.isVisible('#queue')), 8000);
      await until('serving', async () => /客服/.test(await waiting.win.textContent('#status')));
      await send(waiting.win, 'finally my turn');
      await waitForText(waiting.win, 'finally my turn');
      for (const f of fillers) await f.v.end(f.cid);
    });

    await step('the read-only view shows the whole conversation every time and marks nothing read', async () => {
      const cid = waiting.answer.cid;
      const views = [];
      for (let i = 0; i < 2; ++i) {
        const view = await popup(supervisor, () => supervisor.page.evaluate(
          (c) => window.open('/operator/view.html?cid=' + c, '_blank'), cid));
        const list = view.frameLocator('iframe[name="fresh"]')
          .frameLocator('iframe[name="chatmsglist"]').locator('#list');
        await until('the messages in the view', async () =>
          /finally my turn/.test(await list.textContent()));
        views.push(await list.textContent());
        if (i === 0) await view.screenshot({ path: join(out, 'lifecycle-view.png') });
        await view.close();
      }
      assert.equal(views[0], views[1]);
      // The operator who has it still finds it unread.
      const owner = (await mineHas(supervisor, cid)) ? supervisor : colleague;
      const unread = await owner.page.evaluate(async (c) =>
        (await fetch('/operator/GetUserMsg.asp?cid=' + c)).text(), cid);
      assert.match(unread, /finally my turn/);
    });

    await step('a dropped network shows reconnecting, then catches up without losing or repeating', async () => {
      const cid = waiting.answer.cid;
      const owner = (await mineHas(supervisor, cid)) ? supervisor : colleague;
      const post = (text) => owner.page.evaluate(async ([c, m]) => (await fetch(
        '/operator/DoUserMsg.asp?cid=' + c + '&action=sub&adjunct=&msgContent=' + m +
        '&token=' + encodeURIComponent(Zelto.token()))).status, [cid, text]);
      await visitor.context.setOffline(true);
      await until('reconnecting', async () =>
        /重新连接|重试/.test(await waiting.win.textContent('#status')), 40000);
      assert.equal(await post('while-away-1'), 200);
      assert.equal(await post('while-away-2'), 200);
      await waiting.win.screenshot({ path: join(out, 'lifecycle-reconnecting.png') });
      await visitor.context.setOffline(false);
      await waitForText(waiting.win, 'while-away-2', 'the messages sent meanwhile');
      await new Promise((r) => setTimeout(r, 2500));  // a further poll round brings no repeat
      const text = await listText(waiting.win);
      assert.equal(text.split('while-away-1').length - 1, 1, text);
      assert.equal(text.split('while-away-2').length - 1, 1, text);
      assert.ok(text.indexOf('while-away-1') < text.indexOf('while-away-2'));
      await waiting.win.click('#end');
      await until('ended', () => waiting.win.isVisible('#ended-line'));
    });

    await step('nobody online: the leave-a-message form, then the console lists it', async () => {
      for (const p of [supervisor, colleague]) {
        const token = await p.page.evaluate(() => Zelto.token());
        await p.page.goto('about:blank');
        const res = await p.context.request.post(server.base + 'api/logout',
                                                 { headers: { 'X-Zelto-Token': token } });
        assert.equal(res.status(), 200);
      }
      await waiting.win.close().catch(() => {});
      const left = await openVisitorChat();
      assert.equal(left.answer.state, 'offline');
      await left.win.waitForURL(/visitor\/message\.html/);
      await left.win.fill('#name', '赵女士');
      await left.win.fill('#contact', 'zhao@example.com');
      await left.win.fill('#message', '请明天给我回电话');
      await left.win.click('#send');
      await until('thanks', () => left.win.isVisible('#thanks'));
      await left.win.screenshot({ path: join(out, 'lifecycle-offline-form.png') });

      await login(supervisor, server.base, wang);
      const item = supervisor.page.locator('#offline li.unread');
      await until('the message in the console', () => item.count());
      assert.match(await item.first().textContent(), /赵女士 · zhao@example.com/);
      assert.match(await item.first().textContent(), /请明天给我回电话/);
      assert.match(await item.first().locator('.visit').textContent(), /127\.0\.0\.1/);
      assert.equal(await supervisor.page.textContent('#unread'), '1');
      await supervisor.page.screenshot({ path: join(out, 'lifecycle-offline-list.png'), fullPage: true });
      await item.first().locator('button').click();
      await until('handled', async () => (await supervisor.page.textContent('#unread')) === '0');
    });

    await t.test('no page failed', () => {
      for (const p of [supervisor, colleague, visitor]) assert.deepEqual(p.errors, [], p.name);
    });
  });
});
