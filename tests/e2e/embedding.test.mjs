// The chat on another company's own site: the snippet on plain pages of
// one origin (http://localhost:PORT, a static server of the test), the chat
// host on another site (http://127.0.0.1:PORT). localhost and 127.0.0.1 are
// different sites to the browser, so the chat host's cookies are
// third-party in the snippet's calls and in the chat frame: the visitor is
// known only by the X-Zelto-Visitor header. A third origin, not on the
// company's list, gets no CORS answer and records nothing. A second company
// on a second origin has its own visitors, who chat with its own operator
// while the first company's console never lists them.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import {
  browserSkip, freePort, login, popup, send, steps, until, useSite, zeltoBinary,
} from './harness.mjs';

const skip = await browserSkip();

// A company's plain pages, each carrying the snippet.
function sitePages(chatBase, company = 1) {
  const snippet = `<script src="${chatBase}widget.js" data-company="${company}" data-color="#0a7"` +
                  ' data-label="Talk to us" async></script>';
  const page = (title, body) => `<!doctype html><meta charset="utf-8"><title>${title}</title>` +
                                `<h1>${title}</h1>${body}${snippet}`;
  return {
    '/search.html': '<!doctype html><title>search</title><a id="hit" href="/one.html">result</a>',
    '/one.html': page('Page one', '<a id="next" href="/two.html">next page</a>'),
    '/two.html': page('Page two', '<p>prices</p>'),
    // The snippet in the head names the page's own button, which comes after
    // a slow script: the snippet runs while the page is still being parsed.
    '/own-button.html': '<!doctype html><html><head><meta charset="utf-8"><title>Own</title>' +
        snippet.replace(' async', ' data-button="#own" async') + '</head><body><h1>Own</h1>' +
        '<script src="/parser.slow.js"></script><button id="own">Ask us</button></body></html>',
    '/parser.slow.js': '',
  };
}

async function staticSite(pages) {
  const port = await freePort();
  const server = createServer((req, res) => {
    const path = new URL(req.url, 'http://x').pathname;
    const body = pages[path];
    const script = path.endsWith('.js');
    const answer = () => {
      res.writeHead(body === undefined ? 404 : 200,
                    { 'Content-Type': (script ? 'text/javascript' : 'text/html') + '; charset=utf-8' });
      res.end(body ?? 'not found');
    };
    if (path.endsWith('.slow.js')) setTimeout(answer, 1500); else answer();
  });
  await new Promise((ok) => server.listen(port, '127.0.0.1', ok));
  return { origin: 'http://localhost:' + port, close: () => new Promise((ok) => server.close(ok)) };
}

describe('the chat snippet on another site', { skip }, () => {
  const site = useSite();
  let listed;
  let foreign;
  let second;  // company 2's site
  let secondAccount;  // its operator
  const sql = (query) => execFileSync('sqlite3', [join(site.server.data, 'chat.db'), query],
                                      { encoding: 'utf8' }).trim();

  before(async () => {
    const pages = sitePages(site.server.base);
    listed = await staticSite(pages);
    foreign = await staticSite(pages);
    execFileSync(zeltoBinary(), ['company', 'set', '--data', site.server.data, '--id', '1',
                                 '--origins', listed.origin]);
    second = await staticSite(sitePages(site.server.base, 2));
    const zelto = (...args) => execFileSync(zeltoBinary(), [...args, '--data', site.server.data],
                                            { encoding: 'utf8' }).trim();
    assert.equal(zelto('company', 'add', '--name', 'Second', '--origins', second.origin), '2');
    const passwordFile = join(site.server.data, '..', 'second-operator');
    writeFileSync(passwordFile, 'second company pass\n');
    const id = zelto('operator', 'add', '--company', '2', '--name', 'second', '--rights',
                     'list,invite', '--password-file', passwordFile);
    secondAccount = { id: Number(id), password: 'second company pass' };
  });
  after(async () => {
    await listed?.close();
    await foreign?.close();
    await second?.close();
  });

  const widget = (page) => page.locator('#zelto-widget');
  const chatFrame = (page) => page.frameLocator('#zelto-widget iframe');
  const frameList = (page) => chatFrame(page).frameLocator('iframe[name="fresh"]')
      .frameLocator('iframe[name="chatmsglist"]').locator('#list');
  // The visitor writes in the panel; the operator's chat window reads it and answers.
  const talk = async (page, chat, words, answer) => {
    await chatFrame(page).locator('#text').fill(words);
    await chatFrame(page).locator('#send').click();
    await until('the visitor\'s words at the operator', async () =>
      ((await chat.frameLocator('iframe[name="fresh"]').frameLocator('iframe[name="chatmsglist"]')
          .locator('#list').textContent()) || '').includes(words));
    await send(chat, answer);
    await until('the operator\'s answer in the panel', async () =>
      ((await frameList(page).textContent()) || '').includes(answer));
  };

  test('a visitor of the listed site chats and is invited; a foreign site gets nothing',
       async (t) => {
    const step = steps(t);
    const account = site.server.logins().find((l) => l.id === 5);
    const operator = await site.person('operator');
    const visitor = await site.person('visitor', 'en-US');
    let label;
    let row;

    await step('the visitor browses two pages of the listed site', async () => {
      await login(operator, site.server.base, account);
      await operator.page.waitForSelector('#show table');
      await visitor.page.goto(listed.origin + '/search.html?wd=' + encodeURIComponent('live chat'));
      await Promise.all([visitor.page.waitForURL(/one\.html/), visitor.page.click('#hit')]);
      await widget(visitor.page).locator('.button').waitFor();
      const first = await visitor.page.evaluate(() => Object.entries(localStorage));
      await Promise.all([visitor.page.waitForURL(/two\.html/), visitor.page.click('#next')]);
      await widget(visitor.page).locator('.button').waitFor();
      const second = await visitor.page.evaluate(() => Object.entries(localStorage));
      assert.equal(first.length, 1);
      assert.deepEqual(second, first, 'the same label on the second page');
      label = first[0][1].split('.')[0];
      // Third-party cookies never carried the label: the header did.
      assert.deepEqual(await visitor.context.cookies(site.server.base), []);
      assert.equal(sql(`select count(*) from onlineCst where cstLabel='${label}'`), '1');
      assert.equal(await widget(visitor.page).locator('.button').textContent(), 'Talk to us');
    });

    await step('the console shows the referrer, the keywords and the last page', async () => {
      row = operator.page.locator(`#show tr[ondblclick*="cstLabel=${label}&"]`);
      await until('the visitor in the console', async () => (await row.count()) === 1);
      const cells = row.locator('td');
      assert.match(await cells.nth(3).getAttribute('title'), /localhost:\d+\/search\.html\?wd=/);
      assert.equal(await cells.nth(4).getAttribute('title'), 'live chat');
      // The list shows the last page at its next refresh.
      await until('the last page', async () =>
        (await cells.nth(5).getAttribute('title')) === listed.origin + '/two.html', 40000);
    });

    await step('the button opens the chat panel; messages go both ways', async () => {
      await widget(visitor.page).locator('.button').click();
      await chatFrame(visitor.page).locator('#text').waitFor();
      const chat = await popup(operator, () => row.dblclick());
      await chat.waitForURL(/\/operator\/chat\.html\?cid=\d+$/);
      await talk(visitor.page, chat, 'Hello from the company site', 'Hello, how can I help?');
      await visitor.page.screenshot({ path: join(site.out, 'embedded-chat.png') });
    });

    await step('an invitation shows in the widget and is accepted', async () => {
      const invited = await site.person('invited', 'en-US');
      await invited.page.goto(listed.origin + '/one.html');
      await widget(invited.page).locator('.button').waitFor();
      const [[, signed]] = await invited.page.evaluate(() => Object.entries(localStorage));
      const invitedLabel = signed.split('.')[0];
      const invitedRow = operator.page.locator(`#show tr[ondblclick*="cstLabel=${invitedLabel}&"]`);
      await until('the second visitor in the console', async () => (await invitedRow.count()) === 1);
      // Chosen, then taken with the button: the list may be drawn again
      // between the two clicks of a double-click while visitors arrive.
      await until('the second visitor chosen', async () => {
        await invitedRow.click();
        return (await invitedRow.getAttribute('class')) === 'chosen';
      });
      const chat = await popup(operator, () => operator.page.click('#take'));
      await send(chat, 'Can I help you?');
      const box = widget(invited.page).locator('.invite:not(.hidden)');
      await box.waitFor({ timeout: 15000 });
      await until('the words in the invitation', async () =>
        (await box.textContent()).includes('Can I help you?'));
      await invited.page.screenshot({ path: join(site.out, 'embedded-invitation.png') });
      await box.locator('[data-zelto-accept]').click();
      await until('the invitation message in the panel', async () =>
        ((await frameList(invited.page).textContent()) || '').includes('Can I help you?'));
      assert.equal(sql(`select Invited from onlineCst where cstLabel='${invitedLabel}'`), '2');
    });

    await step('a site not on the list gets no answer and records nothing', async () => {
      const stranger = await site.person('stranger', 'en-US');
      const rows = sql('select count(*) from onlineCst');
      const tracks = sql('select count(*) from cstTrack');
      await stranger.page.goto(foreign.origin + '/one.html');
      // The page's own call is refused by the browser: no CORS answer.
      const outcome = await stranger.page.evaluate(async (host) => {
        try {
          await fetch(host + 'api/visitor/visit?company=1', {
            method: 'POST', body: new URLSearchParams({ page: location.href }) });
          return 'answered';
        } catch (e) { return 'refused'; }
      }, site.server.base);
      assert.equal(outcome, 'refused');
      await stranger.page.waitForTimeout(500);
      assert.equal(await widget(stranger.page).locator('.button').count(), 0);
      assert.equal(sql('select count(*) from onlineCst'), rows);
      assert.equal(sql('select count(*) from cstTrack'), tracks);
    });

    assert.deepEqual([...operator.errors, ...visitor.errors], []);
  });

  test('a page\'s own button works when the snippet runs before the button exists', async () => {
    const operator = await site.person('own button operator');
    await login(operator, site.server.base, site.server.logins().find((l) => l.id === 5));
    const visitor = await site.person('own button', 'en-US');
    const visited = visitor.page.waitForResponse((r) => r.url().includes('/api/visitor/visit'));
    await visitor.page.goto(listed.origin + '/own-button.html');
    await visited;
    await visitor.page.click('#own');
    await chatFrame(visitor.page).locator('#text').waitFor();
    assert.equal(await widget(visitor.page).locator('.button').count(), 0,
                 'the page\'s own button, not a second one');
    assert.deepEqual([...operator.errors, ...visitor.errors], []);
  });

  test('a second company\'s visitor chats with its own operator only', async (t) => {
    const step = steps(t);
    const first = await site.person('first operator');
    const own = await site.person('second operator');
    const visitor = await site.person('second visitor', 'en-US');
    const rowOf = (person, label) => person.page.locator(`#show tr[ondblclick*="cstLabel=${label}&"]`);
    let label;

    await step('both companies\' operators log in; a visitor comes to the second site', async () => {
      await login(first, site.server.base, site.server.logins().find((l) => l.id === 5));
      await login(own, site.server.base, secondAccount);
      await first.page.waitForSelector('#show table');
      await visitor.page.goto(second.origin + '/one.html');
      await widget(visitor.page).locator('.button').waitFor();
      const [[, signed]] = await visitor.page.evaluate(() => Object.entries(localStorage));
      label = signed.split('.')[0];
      assert.equal(sql(`select CompanyID from onlineCst where cstLabel='${label}'`), '2');
    });

    await step('only the second company\'s console lists the visitor', async () => {
      await until('the visitor in its company\'s console', async () =>
        (await rowOf(own, label).count()) === 1);
      // The first console's list is as fresh: the host woke both at once.
      await first.page.waitForTimeout(1000);
      assert.equal(await rowOf(first, label).count(), 0);
      await own.page.screenshot({ path: join(site.out, 'second-company-console.png') });
    });

    await step('the visitor chats with the second company\'s operator', async () => {
      await widget(visitor.page).locator('.button').click();
      await chatFrame(visitor.page).locator('#text').waitFor();
      let cid = '';
      await until('the chat routed', async () =>
        (cid = sql(`select cid from chatState where cstLabel='${label}'`)) !== '');
      assert.equal(sql(`select companyId from chatState where cid=${cid}`), '2');
      assert.equal(sql(`select group_concat(serid) from C_members where cid=${cid} and serid<>0`),
                   String(secondAccount.id));
      const chat = await popup(own, () => rowOf(own, label).dblclick());
      await talk(visitor.page, chat, 'Hello second company', 'Second company here');
      await visitor.page.screenshot({ path: join(site.out, 'second-company-chat.png') });
      assert.equal(await rowOf(first, label).count(), 0);
    });

    assert.deepEqual([...first.errors, ...own.errors, ...visitor.errors], []);
  });
});
