// Every language in a real browser: an English visitor and operator
// exchanging messages in many scripts on the default (UTF-8) site, the
// language switch on a Chinese browser, and a GBK site that carries Chinese
// both ways. The catalog check runs without a browser.
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';
import { before, describe, test } from 'node:test';
import {
  SOURCE_DIR, browserSkip, listText, login, popup, send, until, useSite, waitForText,
} from './harness.mjs';

const WWW = join(SOURCE_DIR, 'host', 'www');

// ---- catalogs ---------------------------------------------------------------

function catalogs() {
  const found = {};
  for (const file of readdirSync(join(WWW, 'i18n'))) {
    if (file.endsWith('.json')) {
      found[file.slice(0, -5)] = JSON.parse(readFileSync(join(WWW, 'i18n', file), 'utf8'));
    }
  }
  return found;
}

function pageFiles(dir = WWW) {
  const files = [];
  for (const entry of readdirSync(dir, { withFileTypes: true })) {
    const path = join(dir, entry.name);
    if (entry.isDirectory()) files.push(...pageFiles(path));
    else if (/\.(html|js)$/.test(entry.name)) files.push(path);
  }
  return files;
}

// Keys the pages use: data-i18n attributes, t('key') and I18n.set(el,
// 'key'), and any quoted text shaped like a key of a catalog's sections
// (keys chosen in a script, such as a mode's heading).
function usedKeys(sections) {
  const used = new Map();
  const shaped = new RegExp("'((?:" + sections.join('|') + ")\\.[A-Za-z][\\w]*)'", 'g');
  const patterns = [/data-i18n(?:-[a-z-]+)?="([^"]+)"/g, /\bt\(\s*'([^']+)'/g,
                    /I18n\.set\([^,]+,\s*'([^']+)'/g, shaped];
  for (const file of pageFiles()) {
    const text = readFileSync(file, 'utf8');
    for (const pattern of patterns) {
      for (const m of text.matchAll(pattern)) used.set(m[1], file.slice(WWW.length + 1));
    }
  }
  return used;
}

describe('language catalogs', () => {
  test('every catalog has every key of the others, none empty', () => {
    const all = catalogs();
    const names = Object.keys(all);
    assert.ok(names.includes('en') && names.includes('zh'), 'English and Chinese: ' + names);
    const keys = new Set(names.flatMap((n) => Object.keys(all[n])));
    for (const name of names) {
      const missing = [...keys].filter((k) => !(k in all[name]));
      assert.deepEqual(missing, [], name + '.json lacks keys');
      const empty = Object.keys(all[name]).filter((k) => !String(all[name][k]).trim());
      assert.deepEqual(empty, [], name + '.json has empty texts');
      assert.ok(['ltr', 'rtl'].includes(all[name]['language.dir']), name + ': language.dir');
      const params = (text) => [...String(text).matchAll(/\{(\w+)\}/g)].map((m) => m[1]).sort();
      for (const key of keys) {
        assert.deepEqual(params(all[name][key]), params(all.zh[key]), name + ': ' + key + ' params');
      }
    }
  });

  test('every key the pages use is in the catalogs', () => {
    const zh = catalogs().zh;
    const sections = [...new Set(Object.keys(zh).map((k) => k.split('.')[0]))];
    const used = usedKeys(sections);
    assert.ok(used.size > 100, 'the pages use the catalog: ' + used.size);
    const missing = [...used].filter(([key]) => key !== 'key' && !(key in zh))
        .map(([key, file]) => file + ': ' + key);
    assert.deepEqual(missing, []);
  });

  test('every page loads the language script and the loader', () => {
    for (const file of pageFiles().filter((f) => f.endsWith('.html'))) {
      const text = readFileSync(file, 'utf8');
      assert.ok(text.includes('<script src="/i18n/page.js"></script>') &&
                text.includes('<script src="/js/i18n.js"></script>'), file);
    }
  });
});

// ---- in the browser -----------------------------------------------------------

const skip = await browserSkip();

// Texts in many scripts; the last mixes them all, right to left included.
const MIXED = 'Grüße Καλημέρα Здравствуйте 안녕하세요 مرحبا بالعالم नमस्ते 你好 ' +
              '😀 👍🏽 🇨🇳🇩🇪 👩‍💻 👨‍👩‍👧‍👦';
const ARABIC = 'مرحبا، كيف يمكنني مساعدتك؟ 👋🏾';

// Opens the visitor's chat window from the company site; the window and
// the conversation's visitor label.
async function openChat(visitor, base) {
  await visitor.page.goto(base + 'site/index.html');
  const answered = visitor.page.waitForResponse((r) => r.url().endsWith('/api/visitor/chat'));
  const opening = visitor.context.waitForEvent('page');
  await visitor.page.click('#chat-button');
  const opened = await (await answered).json();
  const chat = await opening;
  await chat.waitForURL(/\/visitor\/chat\.html\?cid=\d+$/);
  await chat.waitForSelector('#status.ok');
  return { chat, label: opened.label };
}

// The operator's chat with the visitor `label`, taken from the console.
async function takeChat(operator, label) {
  const row = operator.page.locator(`#show tr[ondblclick*="cstLabel=${label}&"]`);
  await until('the visitor in the console', async () => (await row.count()) === 1);
  const chat = await popup(operator, () => row.dblclick());
  await chat.waitForURL(/\/operator\/chat\.html\?cid=\d+$/);
  return { chat, row };
}

function account(server, id) {
  const found = server.logins().find((l) => l.id === id);
  assert.ok(found, 'no login for operator ' + id + ':\n' + server.output());
  return found;
}

describe('the site in every language', { skip }, () => {
  const site = useSite();
  let server;
  let out;
  const person = (name, locale) => site.person(name, locale);
  before(() => { ({ server, out } = site); });

  test('an English visitor and operator see exactly what was typed', async () => {
    const operator = await person('operator-en', 'en-US');
    const visitor = await person('visitor-en', 'en-GB');
    await login(operator, server.base, account(server, 5));
    assert.equal(await operator.page.getAttribute('html', 'lang'), 'en');
    assert.equal(await operator.page.textContent('nav a.active'), 'Console');
    assert.equal(await operator.page.locator('.lang-switch').inputValue(), 'en');

    await visitor.page.goto(server.base + 'site/index.html');
    assert.equal((await visitor.page.textContent('#chat-button')).trim(), 'Chat with us');
    const { chat: visitorChat, label } = await openChat(visitor, server.base);
    assert.equal(await visitorChat.textContent('#send'), 'Send');
    await send(visitorChat, MIXED);
    await waitForText(visitorChat, MIXED, 'the visitor\'s echo');
    assert.match(await listText(visitorChat), /Me:/);

    const heads = await operator.page.locator('#show table tr').first().locator('td').allTextContents();
    assert.deepEqual(heads, ['Time', 'Visitor', 'Region', 'Came from', 'Search words', 'Last page',
                             'Visit', 'Status']);
    const { chat: operatorChat, row } = await takeChat(operator, label);
    await until('the state word', async () =>
      (await row.locator('td').nth(7).textContent()) === 'Chatting');
    await operator.page.screenshot({ path: join(out, 'console-en.png'), fullPage: true });
    await waitForText(operatorChat, MIXED, 'the mixed message at the operator');
    assert.match(await listText(operatorChat), /says:/);

    await send(operatorChat, ARABIC);
    await waitForText(operatorChat, ARABIC, 'the operator\'s echo');
    await waitForText(visitorChat, ARABIC, 'the right-to-left answer at the visitor');
    // Exactly what was typed, character for character, on both sides.
    const cells = async (page) => page.frameLocator('iframe[name="fresh"]')
        .frameLocator('iframe[name="chatmsglist"]').locator('td td').allTextContents();
    assert.ok((await cells(visitorChat)).includes(ARABIC));
    assert.ok((await cells(operatorChat)).includes(MIXED));
    await visitorChat.screenshot({ path: join(out, 'visitor-en-rtl.png') });
    await operatorChat.screenshot({ path: join(out, 'operator-en.png') });

    // The monitor in English; its end link asks in English and still works.
    await operator.page.goto(server.base + 'operator/monitor.html');
    await operator.page.waitForSelector('#monitor table');
    const monitorHeads = await operator.page.locator('#monitor tr').first().locator('td')
        .allTextContents();
    assert.deepEqual(monitorHeads, ['No.', 'Participants', 'Started', 'Actions']);
    const ends = operator.page.locator('#monitor a', { hasText: '[End]' });
    const before = await ends.count();
    await ends.last().click();
    await until('the conversation ended', async () => (await ends.count()) === before - 1);
    assert.ok(operator.dialogs.some((d) => d.type === 'confirm' &&
                                           d.message === 'End this conversation?'));
    await operator.page.screenshot({ path: join(out, 'monitor-en.png') });
    assert.deepEqual([...operator.errors, ...visitor.errors], []);
  });

  test('the switch turns a Chinese browser English and is remembered', async () => {
    const someone = await person('switcher', 'zh-CN');
    await someone.page.goto(server.base);
    assert.equal(await someone.page.textContent('h1'), '网站在线客服');
    assert.equal(await someone.page.getAttribute('html', 'lang'), 'zh-CN');
    await Promise.all([someone.page.waitForEvent('load'),
                       someone.page.selectOption('.lang-switch', 'en')]);
    assert.equal(await someone.page.textContent('h1'), 'Live chat for your web site');
    await someone.page.goto(server.base + 'operator/login.html');
    assert.equal(await someone.page.textContent('h1'), 'Operator login');
    await someone.page.screenshot({ path: join(out, 'login-en.png') });
    await Promise.all([someone.page.waitForEvent('load'),
                       someone.page.selectOption('.lang-switch', 'zh')]);
    assert.equal(await someone.page.textContent('h1'), '客服登录');
  });
});

describe('a GBK site in the browser', { skip }, () => {
  const site = useSite(['--charset', 'gbk']);

  test('Chinese text arrives intact both ways', async () => {
    const { server } = site;
    const operator = await site.person('operator-gbk');
    const visitor = await site.person('visitor-gbk');
    await login(operator, server.base, account(server, 5));
    const { chat: visitorChat, label } = await openChat(visitor, server.base);
    await send(visitorChat, '你好，请问标准版多少钱？');
    await waitForText(visitorChat, '你好，请问标准版多少钱？', 'the visitor\'s echo');
    assert.match(await listText(visitorChat), /我 说：/);
    const { chat: operatorChat } = await takeChat(operator, label);
    await until('the Chinese state word', async () =>
      (await operator.page.locator('#show').textContent()).includes('正在交谈'));
    await waitForText(operatorChat, '你好，请问标准版多少钱？', 'the question at the operator');
    await send(operatorChat, '您好，标准版每年九百八十元。😀');
    await waitForText(visitorChat, '您好，标准版每年九百八十元。😀', 'the answer at the visitor');
    await waitForText(operatorChat, '您好，标准版每年九百八十元。😀', 'the operator\'s echo');
    await visitorChat.screenshot({ path: join(site.out, 'visitor-gbk.png') });
    assert.deepEqual([...operator.errors, ...visitor.errors], []);
  });
});
