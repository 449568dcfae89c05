// Past chats in real browsers: at the end the visitor rates the chat and
// downloads the transcript; the operator's history finds the chat by a
// Chinese word and by an English one (and not by a word it lacks), shows
// the rating, and gives the transcript as text and as escaped HTML; the
// supervisor's statistics count the chat, and a clerk is refused them.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { before, describe, test } from 'node:test';
import { join } from 'node:path';
import { browserSkip, login, popup, send, steps, until, useSite, waitForText } from './harness.mjs';

const skip = await browserSkip();

async function downloaded(page, action) {
  const [download] = await Promise.all([page.waitForEvent('download'), action()]);
  return { name: download.suggestedFilename(), text: readFileSync(await download.path(), 'utf8') };
}

describe('past chats in the browser', { skip }, () => {
  const site = useSite();
  let server;
  let out;
  before(() => { ({ server, out } = site); });

  test('rating, transcript, history search, statistics', async (t) => {
    const step = steps(t);
    const account = (id) => server.logins().find((l) => l.id === id);
    const wang = await site.person('wang');
    const visitor = await site.person('visitor');
    let cid;
    let win;

    await step('a chat with a Chinese and an English word ends and is rated', async () => {
      await login(wang, server.base, account(5));
      await until('online', async () => (await wang.page.inputValue('#my-state')) === 'online');
      await visitor.page.goto(server.base + 'site/index.html');
      const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
      win = await popup(visitor, () => visitor.page.click('#chat-button'));
      cid = (await (await answered).json()).cid;
      await win.waitForURL(/visitor\/chat\.html/);
      await send(win, '请问这个产品的价格是多少？');
      await waitForText(win, '价格');
      await send(win, 'And <b>the refund</b> policy?');
      await waitForText(win, 'refund');
      await win.click('#end');
      await until('the rating panel', () => win.isVisible('#rating'));
      await win.click('#stars button[data-score="4"]');
      await win.fill('#rating-comment', '回答很快 thanks');
      await win.click('#rating-send');
      await until('thanks', () => win.isVisible('#rating-done'));
      assert.equal(await win.textContent('#rating-done'), '感谢您的评价。');
      await win.screenshot({ path: join(out, 'records-rating.png') });
    });

    await step('the visitor downloads their transcript', async () => {
      const file = await downloaded(win, () => win.click('#transcript-text'));
      assert.equal(file.name, 'conversation-' + cid + '.txt');
      assert.match(file.text, /请问这个产品的价格是多少？/);
      assert.match(file.text, /And <b>the refund<\/b> policy\?/);
    });

    await step('the history finds the chat by a Chinese and an English word', async () => {
      await wang.page.goto(server.base + 'operator/history.html');
      const rows = wang.page.locator('#rows tr');
      const search = async (words) => {
        await wang.page.fill('#q', words);
        const answered = wang.page.waitForResponse((r) => r.url().includes('/api/operator/history'));
        await wang.page.click('#filters button[type="submit"]');
        await answered;
        return rows.evaluateAll((trs) => trs.map((tr) => Number(tr.dataset.cid)));
      };
      assert.deepEqual(await search('价格'), [cid]);
      assert.deepEqual(await search('REFUND'), [cid]);
      assert.deepEqual(await search('价格 refund'), [cid]);
      assert.deepEqual(await search('发票'), []);
      assert.ok(await wang.page.isVisible('#empty'));
      assert.deepEqual(await search('产品的价格'), [cid]);
      const row = wang.page.locator('#rows tr[data-cid="' + cid + '"]');
      assert.match(await row.textContent(), /★★★★☆ 回答很快 thanks/);
      assert.match(await row.textContent(), /王芳/);
      await wang.page.screenshot({ path: join(out, 'records-history.png'), fullPage: true });
    });

    await step('the transcript from the history: text download and escaped HTML', async () => {
      const row = wang.page.locator('#rows tr[data-cid="' + cid + '"]');
      const text = await downloaded(wang.page, () => row.locator('a', { hasText: '文本' }).click());
      assert.match(text.text, /价格/);
      const html = await downloaded(wang.page, () => row.locator('a', { hasText: '网页' }).click());
      assert.equal(html.name, 'conversation-' + cid + '.html');
      assert.match(html.text, /And &lt;b&gt;the refund&lt;\/b&gt; policy\?/);
      assert.ok(!html.text.includes('<b>the refund'), 'the message is text, not markup');
      const view = await popup(wang, () => row.locator('a', { hasText: '查看' }).click());
      await view.waitForLoadState('load');
      assert.match(await view.textContent('body'), /And <b>the refund<\/b> policy\?/);
      await view.screenshot({ path: join(out, 'records-transcript.png') });
      await view.close();
    });

    await step('the statistics count the chat for the supervisor, not for a clerk', async () => {
      await wang.page.goto(server.base + 'operator/statistics.html');
      await until('figures', () => wang.page.isVisible('#figures'));
      const summary = await wang.page.textContent('#summary');
      assert.match(summary, /会话\s*\d+/);
      assert.match(summary, /平均 4\.0，共 1 个评价/);
      assert.match(await wang.page.textContent('#per-operator'), /王芳/);
      await wang.page.screenshot({ path: join(out, 'records-statistics.png'), fullPage: true });
      const clerk = await site.person('zhang');
      await login(clerk, server.base, account(7));
      await clerk.page.goto(server.base + 'operator/statistics.html');
      await until('refused', () => clerk.page.isVisible('#denied'));
      assert.ok(!(await clerk.page.isVisible('#figures')));
    });

    for (const p of [wang, visitor]) assert.deepEqual(p.errors, [], p.name + ': page errors');
  });
});
