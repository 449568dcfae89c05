// The chat site in a real browser: a visitor, two operators and a
// supervisor going through one conversation from the first page view to
// its end, plus the pages' own helpers (message escaping, the sanitizer
// for component markup, the face images).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { before, describe, test } from 'node:test';
import { join } from 'node:path';
import {
  browserSkip, listText, login, messageList, popup, send, steps, until, useSite, waitForText,
} from './harness.mjs';

const skip = await browserSkip();

describe('the chat site in a browser', { skip }, () => {
  const site = useSite();
  let server;
  let out;
  const people = site.people;
  const person = (name) => site.person(name);
  before(() => { ({ server, out } = site); });

  test('a conversation from the first page view to its end', async (t) => {
    const logins = server.logins();
    const account = (id) => {
      const found = logins.find((l) => l.id === id);
      assert.ok(found, 'zelto serve printed no login for operator ' + id + ':\n' + server.output());
      return found;
    };
    const wang = account(5);   // supervisor rights
    const li = account(12);    // the invited colleague
    const zhang = account(7);  // takes the conversation over

    const operator = await person('operator');
    const visitor = await person('visitor');
    const colleague = await person('colleague');
    let cid;
    let label;
    let visitorChat;
    let operatorChat;
    let colleagueChat;

    // The steps build on each other: after a failure the rest are skipped.
    const step = steps(t);

    await step('the operator logs in and sees the console', async () => {
      await login(operator, server.base, wang);
      await operator.page.waitForSelector('#show table');
      assert.match(await operator.page.textContent('#me'), new RegExp(wang.name));
    });

    await step('a visitor comes from a search and opens a chat', async () => {
      await visitor.page.goto(server.base + 'search.html?wd=' + encodeURIComponent('在线客服 价格'));
      await Promise.all([visitor.page.waitForURL(/\/site\/index\.html/),
                         visitor.page.click('#results a')]);
      await Promise.all([visitor.page.waitForURL(/products\.html/),
                         visitor.page.click('a[href="/site/products.html"]')]);
      const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
      const opening = visitor.context.waitForEvent('page');
      await visitor.page.click('#chat-button');
      const answer = await answered;
      assert.equal(answer.status(), 200, 'POST /api/visitor/chat: ' + await answer.text());
      const opened = await answer.json();
      visitorChat = await opening;
      cid = String(opened.cid);
      label = opened.label;
      assert.match(cid, /^\d+$/);
      assert.ok(label, 'the chat answer names the visitor label');
      await visitorChat.waitForURL(new RegExp('/visitor/chat\\.html\\?cid=' + cid + '$'));
      await send(visitorChat, '你好，我想了解价格');
      await waitForText(visitorChat, '你好，我想了解价格', 'the visitor\'s echo');
      assert.match(await listText(visitorChat), /我 说：/);
    });

    await step('the console lists the visitor with the right columns', async () => {
      const row = operator.page.locator(`#show tr[ondblclick*="cstLabel=${label}&"]`);
      await until('the visitor in the console list', async () => {
        const cells = await row.locator('td').allTextContents();
        return cells.length === 8 && cells[7] === '正在交谈';
      });
      const heads = await operator.page.locator('#show table tr').first().locator('td').allTextContents();
      assert.deepEqual(heads, ['时间', '访客', '访客区域', '页面来源', '搜索关键字', '最后访问页', '再访', '状态']);
      const cells = row.locator('td');
      assert.match(await cells.nth(0).textContent(), /^\d{1,2}:\d{1,2}:\d{1,2}$/);
      assert.match(await cells.nth(3).getAttribute('title'), /search\.html\?wd=/);
      assert.equal(await cells.nth(4).getAttribute('title'), '在线客服 价格');
      assert.match(await cells.nth(5).getAttribute('title'), /products\.html/);
      assert.equal(await cells.nth(6).textContent(), '新访客');
      await row.click();
      assert.equal(await row.getAttribute('class'), 'chosen');
      // The next refresh of the unchanged list is answered "not modified":
      // the rows and the choice stay as they are. (The console reads the
      // list again when its held lists answer: at a change, else after
      // their 25-second hold.)
      await operator.page.waitForResponse((r) => r.url().includes('/operator/GetClientList.asp') &&
                                                 r.status() === 304, { timeout: 40000 });
      assert.equal(await row.getAttribute('class'), 'chosen');
      assert.equal(await row.locator('td').count(), 8);
      await operator.page.screenshot({ path: join(out, 'console.png'), fullPage: true });
    });

    await step('the operator takes the chat and answers; the visitor sees it', async () => {
      const row = operator.page.locator(`#show tr[ondblclick*="cstLabel=${label}&"]`);
      operatorChat = await popup(operator, () => row.dblclick());
      await operatorChat.waitForURL(new RegExp('/operator/chat\\.html\\?cid=' + cid + '$'));
      await waitForText(operatorChat, '你好，我想了解价格', 'the visitor\'s message at the operator');
      await send(operatorChat, '您好，标准版每年980元 :#3#');
      await waitForText(operatorChat, '您好，标准版每年980元', 'the operator\'s echo');
      await waitForText(visitorChat, '您好，标准版每年980元', 'the answer at the visitor');
      assert.match(await listText(visitorChat), new RegExp(wang.name + ' 说：'));
      const face = messageList(visitorChat).locator('img[src="images/face/3.gif"]');
      await until('face 3 loaded', async () =>
        (await face.evaluate((img) => img.complete && img.naturalWidth)) === 24);
      await operatorChat.screenshot({ path: join(out, 'operator.png') });
    });

    await step('the operator invites a colleague, who joins', async () => {
      const pick = await popup(operator, () => operatorChat.click('#invite'));
      await pick.waitForSelector(`button[data-id="${li.id}"]`);
      const closed = pick.waitForEvent('close');
      await pick.click(`button[data-id="${li.id}"]`);
      await closed;
      assert.ok(operator.dialogs.some((d) => d.message === '邀请已经成功发送'),
                JSON.stringify(operator.dialogs));

      await login(colleague, server.base, li);
      const link = colleague.page.locator(`#mine a[href$="cid=${cid}"]`);
      await until('the conversation in the colleague\'s list', () => link.count());
      colleagueChat = await popup(colleague, () => link.click());
      await waitForText(colleagueChat, '您好，标准版每年980元', 'the earlier answer at the colleague');
    });

    await step('the visitor sends a file; the colleague opens it', async () => {
      const content = '标准版 980 元/年';
      await visitorChat.setInputFiles('#file', {
        name: '../price list.txt', mimeType: 'text/plain', buffer: Buffer.from(content) });
      const mine = messageList(visitorChat).locator('a[href^="files/"]');
      await until('the attachment in the visitor\'s echo', () => mine.count());
      const stored = (await mine.first().textContent()).trim();
      assert.ok(stored && !stored.includes('/') && !stored.includes('..'), 'stored as ' + stored);
      const theirs = messageList(colleagueChat).locator('a', { hasText: stored });
      await until('the attachment at the colleague', () => theirs.count());
      // The poll links it as files\NAME; the frame's base makes that /files/NAME.
      const got = await theirs.first().evaluate(async (a) => {
        const res = await fetch(a.href);
        return { path: decodeURIComponent(new URL(a.href).pathname), status: res.status,
                 body: await res.text() };
      });
      assert.deepEqual(got, { path: '/files/' + stored, status: 200, body: content });
    });

    await step('the transfer closes the operator\'s windows and both sides see it', async () => {
      const pick = await popup(operator, () => operatorChat.click('#transfer'));
      await pick.waitForSelector(`button[data-id="${zhang.id}"]`);
      const closed = Promise.all([pick.waitForEvent('close'), operatorChat.waitForEvent('close')]);
      await pick.click(`button[data-id="${zhang.id}"]`);
      await closed;
      assert.ok(operator.dialogs.some((d) => d.message === '已经将会话转接给' + zhang.name),
                JSON.stringify(operator.dialogs));
      const note = wang.name + '已经将会话转接给' + zhang.name;
      await waitForText(visitorChat, note, 'the system message at the visitor');
      await waitForText(colleagueChat, note, 'the system message at the colleague');
      assert.match(await listText(visitorChat), /系统消息/);
    });

    await step('markup in a message shows as text and runs nothing', async () => {
      const hostile = '<img src=x onerror=alert(1)>';
      await send(visitorChat, hostile);
      await waitForText(visitorChat, hostile, 'the hostile message as text at the visitor');
      await waitForText(colleagueChat, hostile, 'the hostile message as text at the colleague');
      await new Promise((r) => setTimeout(r, 1000));  // room for an onerror to fire
      for (const page of [visitorChat, colleagueChat]) {
        assert.equal(await messageList(page).locator('img[src="x"]').count(), 0);
      }
      for (const p of people) {
        assert.deepEqual(p.dialogs.filter((d) => d.message === '1'), [], p.name + ' got a dialog');
      }
      await visitorChat.screenshot({ path: join(out, 'visitor.png') });
      await colleagueChat.screenshot({ path: join(out, 'colleague.png') });
    });

    await step('the monitor lists the conversation, shows it and ends it', async () => {
      await operator.page.goto(server.base + 'operator/monitor.html');
      const view = operator.page.locator(`#monitor a[onclick="viewcnv('${cid}')"]`);
      await until('the conversation in the monitor', () => view.count());
      const row = operator.page.locator('#monitor tr', {
        has: operator.page.locator(`a[onclick="viewcnv('${cid}')"]`),
      });
      const members = await row.locator('td').nth(1).textContent();
      assert.ok(members.includes(li.name) && members.includes(zhang.name), members);
      assert.ok(!members.includes(wang.name), 'the operator who transferred has left: ' + members);
      await operator.page.screenshot({ path: join(out, 'monitor.png'), fullPage: true });

      const viewer = await popup(operator, () => view.click());
      // The view is the supervisor's own poll: it shows what this operator
      // has not received yet, here what came after the transfer closed the
      // operator's window (a held poll of that window may have received the
      // transfer note itself just before it closed).
      await waitForText(viewer, '<img src=x onerror=alert(1)>', 'the read-only view');
      assert.equal(await viewer.locator('#text').count(), 0, 'the view has no composer');
      await viewer.close();

      await row.locator('a', { hasText: '[终止会话]' }).click();
      await until('the conversation gone from the monitor', async () => (await view.count()) === 0);
      assert.ok(operator.dialogs.some((d) => d.type === 'confirm' && d.message === '确定要终止此会话？'));
    });

    await t.test('no page failed', () => {
      for (const p of people) assert.deepEqual(p.errors, [], p.name + ' had page errors');
    });
  });

  test('an operator invites a visitor who is browsing', async () => {
    const wang = server.logins().find((l) => l.id === 5);
    const operator = await person('inviter');
    const visitor = await person('browser');
    await login(operator, server.base, wang);
    await operator.page.waitForSelector('#show table');
    const labels = async () => (await operator.page.locator('#show tr[ondblclick]').evaluateAll(
        (rows) => rows.map((r) => /cstLabel=([^&]*)&/.exec(r.getAttribute('ondblclick'))[1])));
    const before = new Set(await labels());

    await visitor.page.goto(server.base + 'site/about.html');
    const label = await until('the browsing visitor in the list',
                              async () => (await labels()).find((l) => !before.has(l)));
    const row = operator.page.locator(`#show tr[ondblclick*="cstLabel=${label}&"]`);

    // Taking a visitor who is not chatting invites the visitor; what the
    // operator writes meanwhile shows in the site's invitation box.
    const chat = await popup(operator, () => row.dblclick());
    await chat.waitForURL(/\/operator\/chat\.html\?cid=\d+$/);
    const cid = new URL(chat.url()).searchParams.get('cid');
    await until('the state "invited"', async () =>
      (await row.locator('td').nth(7).textContent()) === '已邀请');
    await send(chat, '您好，需要帮忙吗？');
    await visitor.page.waitForSelector('#invite-box:not(.hidden)', { timeout: 15000 });
    await until('the operator\'s words in the invitation box', async () =>
      (await visitor.page.textContent('#invite-messages')).includes('您好，需要帮忙吗？'));
    await visitor.page.screenshot({ path: join(out, 'invitation.png') });

    const visitorChat = await popup(visitor, () => visitor.page.click('#invite-accept'));
    await visitorChat.waitForURL(new RegExp('/visitor/chat\\.html\\?cid=' + cid + '$'));
    await waitForText(visitorChat, '您好，需要帮忙吗？', 'the invitation message in the chat');
    await send(visitorChat, '好的，谢谢');
    await waitForText(chat, '好的，谢谢', 'the visitor\'s answer at the operator');
    await until('the state "chatting"', async () =>
      (await row.locator('td').nth(7).textContent()) === '正在交谈');
    assert.deepEqual([...operator.errors, ...visitor.errors], []);
  });

  test('a double-click across a redraw of the list opens nobody', async () => {
    const wang = server.logins().find((l) => l.id === 5);
    const operator = await person('double-clicker');
    await login(operator, server.base, wang);
    await operator.page.waitForSelector('#show table');
    const labels = async () => (await operator.page.locator('#show tr[ondblclick]').evaluateAll(
        (rows) => rows.map((r) => /cstLabel=([^&]*)&/.exec(r.getAttribute('ondblclick'))[1])));
    const labelAt = (x, y) => operator.page.evaluate(([px, py]) => {
      const row = document.elementFromPoint(px, py)?.closest('tr');
      return /cstLabel=([^&]*)&/.exec(row?.getAttribute('ondblclick') || '')?.[1] || '';
    }, [x, y]);
    // The newest visitor is drawn last.
    const comes = async (name) => {
      const before = new Set(await labels());
      const visitor = await person(name);
      await visitor.page.goto(server.base + 'site/about.html');
      return until(name + ' in the list', async () => (await labels()).find((l) => !before.has(l)));
    };
    const leaving = await comes('leaving visitor');
    const aimed = await comes('aimed-at visitor');
    const row = operator.page.locator(`#show tr[ondblclick*="cstLabel=${aimed}&"]`);
    await row.scrollIntoViewIfNeeded();
    const box = await row.boundingBox();
    const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
    // The first press of a double-click. Before the second, the visitor above
    // leaves and a new one comes: the rows move up and the newcomer's row
    // lies under the pointer.
    await operator.page.mouse.click(x, y);
    execFileSync('sqlite3', [join(server.data, 'chat.db'),
                             `delete from onlineCst where cstLabel='${leaving}'`]);
    const newer = await comes('newer visitor');
    await until('the newer visitor under the pointer', async () => (await labelAt(x, y)) === newer);
    const pages = operator.context.pages().length;
    await operator.page.mouse.down({ clickCount: 2 });
    await operator.page.mouse.up({ clickCount: 2 });
    await until('the list-changed notice', async () =>
      /列表刚刚更新/.test(await operator.page.locator('#z-toast').textContent()));
    await operator.page.screenshot({ path: join(out, 'list-moved.png') });
    assert.equal(operator.context.pages().length, pages, 'no chat window opened');
    assert.match(await operator.page.locator('#show tr.chosen').getAttribute('ondblclick'),
                 new RegExp('cstLabel=' + aimed + '&'), 'the aimed-at visitor stays chosen');
    assert.deepEqual(operator.errors, []);
  });

  test('script in every field a visitor controls stays text', async () => {
    // Each piece runs at once if it ever becomes markup: the image fails to
    // load, the script element runs, an attribute quote closes early.
    const evil = '<img src=x onerror=alert(1)><script>alert(2)</script>\'"\\';
    const wang = server.logins().find((l) => l.id === 5);
    const operator = await person('hostile-operator');
    const visitor = await person('hostile-visitor');
    await login(operator, server.base, wang);
    await operator.page.waitForSelector('#show table');

    // A forged visitor cookie, a referrer with search words, a message, and
    // an attachment whose name is markup.
    await visitor.context.addCookies([{ name: 'ZVISITOR', value: '<img src=x onerror=alert(3)>.0',
                                        url: server.base }]);
    await visitor.page.goto(server.base + 'site/index.html',
                            { referer: 'http://search.example/s?wd=' + encodeURIComponent(evil) });
    const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
    const visitorChat = await popup(visitor, () => visitor.page.click('#chat-button'));
    const { label } = await (await answered).json();
    await visitorChat.waitForURL(/\/visitor\/chat\.html\?cid=\d+$/);
    assert.match(label, /^V[0-9a-f]+$/, 'a label of the site\'s own');
    await send(visitorChat, evil);
    await waitForText(visitorChat, evil, 'the hostile message echoed as text');
    await visitorChat.setInputFiles('#file', {
      name: '<img src=x onerror=alert(4)>.txt', mimeType: 'text/plain', buffer: Buffer.from('x') });
    await until('the attachment in the echo',
                () => messageList(visitorChat).locator('a[href^="files/"]').count());

    const row = operator.page.locator(`#show tr[ondblclick*="cstLabel=${label}&"]`);
    await until('the visitor in the console', () => row.count());
    assert.equal(await row.locator('td').nth(4).getAttribute('title'), evil);
    const operatorChat = await popup(operator, () => row.dblclick());
    await waitForText(operatorChat, evil, 'the hostile message at the operator');
    await until('the attachment at the operator',
                () => messageList(operatorChat).locator('a[href^="files"]').count());
    for (const page of [operator.page, operatorChat, visitorChat]) {
      const list = page === operator.page ? page.locator('#show') : messageList(page);
      assert.equal(await list.locator('img[src="x"], script').count(), 0, page.url());
    }
    await new Promise((r) => setTimeout(r, 500));  // a late onerror would show now
    assert.deepEqual([...operator.dialogs, ...visitor.dialogs], []);
    assert.deepEqual([...operator.errors, ...visitor.errors], []);
  });

  test('Enter before the chat window is ready keeps the text and the window', async () => {
    const operator = await person('early-operator');
    await login(operator, server.base, server.logins().find((l) => l.id === 5));
    await operator.page.waitForSelector('#show table');
    const visitor = await person('early-typist');
    await visitor.page.goto(server.base + 'site/index.html');
    // The window's first look at the chat is held back, as on a slow host.
    let release;
    const held = new Promise((r) => { release = r; });
    await visitor.context.route('**/api/visitor/chat-state*', async (route) => {
      await held;
      await route.continue();
    });
    const chat = await popup(visitor, () => visitor.page.click('#chat-button'));
    await chat.waitForURL(/\/visitor\/chat\.html\?cid=\d+$/);
    const address = chat.url();
    await chat.fill('#text', 'early words');
    await chat.press('#text', 'Enter');
    assert.ok(await chat.isDisabled('#send'), 'the button waits for the window');
    assert.equal(chat.url(), address, 'no form submission replaced the page');
    assert.equal(await chat.inputValue('#text'), 'early words');
    release();
    await chat.click('#send');
    await waitForText(chat, 'early words', 'the early words, sent once the window is ready');
    assert.deepEqual(visitor.errors, []);
  });

  test('the operator\'s pages fit a phone\'s width', async () => {
    const wang = server.logins().find((l) => l.id === 5);
    const operator = await person('phone-operator');
    await operator.page.setViewportSize({ width: 390, height: 844 });
    await login(operator, server.base, wang);
    await operator.page.waitForSelector('#show table');
    // The page never scrolls sideways: wide lists scroll inside their card.
    const overflow = () => operator.page.evaluate(
        () => document.documentElement.scrollWidth - window.innerWidth);
    for (const path of ['operator/console.html', 'operator/monitor.html', 'operator/history.html',
                        'operator/statistics.html', 'operator/canned.html']) {
      if (!operator.page.url().endsWith(path)) await operator.page.goto(server.base + path);
      await operator.page.waitForSelector('header.topbar');
      assert.ok(await overflow() <= 0, path + ' is wider than the phone by ' + await overflow());
      const name = path.split('/')[1].replace('.html', '');
      await operator.page.screenshot({ path: join(out, 'phone-' + name + '.png'), fullPage: true });
    }
    assert.deepEqual(operator.errors, []);
  });

  test('the pages\' helpers', async (t) => {
    const p = await person('helpers');
    await p.page.goto(server.base + 'frames/msglist.html');

    await t.test('messages are %u-escaped whole, so the component decodes every character', async () => {
      const cases = [
        ['', ''],
        ['a', '%u0061'],
        ['ok 你好', '%u006F%u006B%u0020%u4F60%u597D'],
        ['<&>+%', '%u003C%u0026%u003E%u002B%u0025'],
        ['😀', '%uD83D%uDE00'],
      ];
      for (const [text, want] of cases) {
        assert.equal(await p.page.evaluate((s) => Zelto.escapeMessage(s), text), want, text);
      }
    });

    await t.test('component markup keeps its look and loses what runs code', async () => {
      const cases = [
        // [markup, selector that must remain, selector that must be gone]
        ["<table><tr><td><font color='#990000'>王芳 说：</font></td></tr></table>", 'font[color]', null],
        ["<a target='_blank' href='http://example.com/'>x</a>", 'a[href]', null],
        ["<img src='images/face/3.gif' border=0>", 'img[border]', null],
        ['<img src=x onerror=alert(1)>', 'img', 'img[onerror]'],
        ['<script>alert(1)<\/script><b>t</b>', 'b', 'script'],
        ["<a href='javascript:alert(1)'>x</a>", 'a', 'a[href]'],
        ["<a href=' JaVaScRiPt:alert(1)'>x</a>", 'a', 'a[href]'],
        ['<iframe src="/"></iframe><i>t</i>', 'i', 'iframe'],
        ['<svg><script>alert(1)<\/script></svg><u>t</u>', 'u', 'svg'],
        ['<div onmouseover="alert(1)">t</div>', 'div', 'div[onmouseover]'],
      ];
      for (const [html, keep, gone] of cases) {
        const got = await p.page.evaluate(([h, k, g]) => {
          const box = document.createElement('div');
          box.appendChild(Zelto.sanitize(h));
          return { keep: !!box.querySelector(k), gone: g ? !!box.querySelector(g) : false };
        }, [html, keep, gone]);
        assert.deepEqual(got, { keep: true, gone: false }, html);
      }
    });

    await t.test('a list script keeps only the handlers its page expects', async () => {
      const handlers = {
        onclick: /^choose\(this\)$/,
        ondblclick: /^rece\("cstReWin\.asp\?[^"<>]*"\)$/,
      };
      const script = 'document.all("show").innerHTML="<table><tr onClick=\'choose(this)\' ' +
          'onDblClick=\'rece(\\"cstReWin.asp?cstLabel=V1&companyid=1\\")\'><td>a</td></tr>' +
          '<tr onClick=\'alert(1)\' onDblClick=\'rece(\\"x\\");alert(2)\'><td>b</td></tr></table>";';
      const got = await p.page.evaluate(([s, h]) => {
        const show = document.createElement('div');
        show.id = 'show';
        document.body.appendChild(show);
        const ran = Zelto.runListScript(s, {
          onclick: new RegExp(h.onclick), ondblclick: new RegExp(h.ondblclick) });
        const rows = Array.from(show.querySelectorAll('tr')).map((r) =>
          [r.getAttribute('onclick'), r.getAttribute('ondblclick')]);
        show.remove();
        return { ran, rows, empty: Zelto.runListScript('  ') };
      }, [script, { onclick: handlers.onclick.source, ondblclick: handlers.ondblclick.source }]);
      assert.deepEqual(got, {
        ran: true,
        empty: false,
        rows: [['choose(this)', 'rece("cstReWin.asp?cstLabel=V1&companyid=1")'], [null, null]],
      });
    });

    await t.test('result scripts run in order and only from script elements', async () => {
      const got = await p.page.evaluate(() => {
        window.seen = [];
        const n = Zelto.runResultScripts(
            "<script language='javascript'>seen.push(1);seen.push(2);<\/script>x<b>seen.push(9)</b>" +
            '<SCRIPT>seen.push(3)<\/SCRIPT>');
        return { n, seen: window.seen, none: Zelto.runResultScripts('') };
      });
      assert.deepEqual(got, { n: 2, seen: [1, 2, 3], none: 0 });
    });

    await t.test('every face image and the list header background load', async () => {
      const sizes = await p.page.evaluate(async () => {
        const load = (src) => new Promise((ok) => {
          const img = new Image();
          img.onload = () => ok([img.naturalWidth, img.naturalHeight]);
          img.onerror = () => ok([0, 0]);
          img.src = src;
        });
        const faces = [];
        for (let i = 0; i < 57; i++) faces.push(await load('/images/face/' + i + '.gif'));
        return { faces, header: await load('/images/cst_inhead_back.gif') };
      });
      for (let i = 0; i < 56; i++) assert.deepEqual(sizes.faces[i], [24, 24], 'face ' + i);
      assert.deepEqual(sizes.faces[56], [0, 0], 'there is no face 56');
      assert.equal(sizes.header[1], 21);
    });
  });
});
