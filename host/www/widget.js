// The chat on any site. A company pastes one tag into its pages:
//   <script src="https://chat.example.com/widget.js" data-company="1" async></script>
// On each page view the script records the visit with the chat host, shows
// a chat button, opens the chat as a panel (a frame of the chat host's
// chat pages) or a pop-up window, and shows an operator's invitation.
// The visitor is known by their signed label, which the host gives at the
// first visit: kept in this site's local storage and sent in the
// X-Zelto-Visitor header on every call, and handed to the chat frame by
// postMessage, because browsers do not send the chat host's cookies from
// another site's page.
// data- attributes: company (required), position (right|left), color (a
// CSS colour), label (the button's text), lang (en|zh; default the page's),
// open (panel|popup), and for a page with its own markup, button and
// invitation (CSS selectors; the invitation box holds [data-zelto-messages],
// [data-zelto-accept] and [data-zelto-refuse]).
(function () {
  'use strict';
  const script = document.currentScript;
  if (!script || window.ZeltoWidget) return;
  const HOST = new URL(script.src, location.href).origin;
  const data = script.dataset;
  const COMPANY = /^[1-9][0-9]*$/.test(data.company || '') ? data.company : '1';
  const INVITATION_MS = 5000;
  // On the chat host's own site (its demo company site) its cookies name the
  // visitor and the host knows its company: the calls and pages stay plain.
  const CROSS = location.origin !== HOST;
  const TEXTS = {
    en: { chat: 'Chat with us', close: 'Close', popOut: 'Open in a new window',
          inviteTitle: 'Can we help you?', invitation: 'Hello! Can we help you with anything?',
          accept: 'Start chatting', refuse: 'Not now', noOperator: 'Nobody can answer right now.',
          cannotConnect: 'The chat cannot be reached: {reason}', title: 'Chat' },
    zh: { chat: '在线咨询', close: '关闭', popOut: '在新窗口中打开',
          inviteTitle: '客服邀请您交谈', invitation: '您好，有什么可以帮您的吗？',
          accept: '开始交谈', refuse: '以后再说', noOperator: '现在没有客服可以回答。',
          cannotConnect: '无法连接在线客服：{reason}', title: '在线客服' },
  };
  const language = (data.lang || document.documentElement.lang || navigator.language || 'en')
      .toLowerCase().startsWith('zh') ? 'zh' : 'en';
  const text = (key, values) => TEXTS[language][key].replace(/\{(\w+)\}/g, (m, k) => values[k]);

  // ---- the visitor's identity ---------------------------------------------
  const STORE_KEY = 'zelto-visitor@' + HOST;
  let visitor = '';
  try { visitor = localStorage.getItem(STORE_KEY) || ''; } catch (e) { /* storage off: this page only */ }
  function keep(value) {
    visitor = value;
    try { localStorage.setItem(STORE_KEY, value); } catch (e) { /* this page only */ }
  }

  async function call(method, path, form, identify = true) {
    const url = HOST + path + (CROSS ? (path.includes('?') ? '&' : '?') + 'company=' + COMPANY : '');
    const init = { method, headers: {}, cache: 'no-store' };
    if (identify && visitor) init.headers['X-Zelto-Visitor'] = visitor;
    if (form) {
      init.headers['Content-Type'] = 'application/x-www-form-urlencoded';
      init.body = new URLSearchParams(form).toString();
    }
    const res = await fetch(url, init);
    if (!res.ok) {
      let reason = 'HTTP ' + res.status;
      try { reason = (await res.json()).error || reason; } catch (e) { /* the status says enough */ }
      throw Object.assign(new Error(reason), { status: res.status });
    }
    const body = await res.text();
    return body ? JSON.parse(body) : {};
  }

  // The chat host's pages this script opened ask for the visitor's label.
  window.addEventListener('message', (event) => {
    if (event.origin !== HOST || !event.data || event.data.zelto !== 'visitor-request') return;
    event.source.postMessage({ zelto: 'visitor', visitor }, HOST);
  });

  // ---- the button, the panel, the invitation --------------------------------
  const color = data.color || '#2563eb';
  const side = data.position === 'left' ? 'left' : 'right';
  const STYLE = `
    :host { all: initial; }
    * { box-sizing: border-box; font: 14px/1.4 system-ui, sans-serif; }
    .button { position: fixed; bottom: 20px; ${side}: 20px; z-index: 2147483000; border: 0;
      border-radius: 24px; padding: 12px 20px; background: ${color}; color: #fff; cursor: pointer;
      box-shadow: 0 4px 14px rgba(0,0,0,.25); font-weight: 600; }
    .panel, .invite { position: fixed; ${side}: 20px; bottom: 80px; z-index: 2147483001;
      background: #fff; border-radius: 12px; box-shadow: 0 8px 30px rgba(0,0,0,.3); overflow: hidden; }
    .panel { width: 380px; height: min(600px, calc(100vh - 100px)); display: flex; flex-direction: column; }
    .bar { display: flex; align-items: center; gap: 8px; padding: 8px 12px; background: ${color}; color: #fff; }
    .bar span { flex: 1; font-weight: 600; }
    .bar button { border: 0; background: transparent; color: #fff; cursor: pointer; font-size: 16px; }
    iframe { flex: 1; width: 100%; border: 0; }
    .invite { width: 300px; padding: 16px; }
    .invite h2 { margin: 0 0 8px; font-weight: 600; font-size: 16px; }
    .invite .row { display: flex; gap: 8px; margin-top: 12px; }
    .invite button { flex: 1; padding: 8px; border-radius: 6px; border: 1px solid #ccc; background: #fff; cursor: pointer; }
    .invite button.primary { background: ${color}; color: #fff; border-color: ${color}; }
    .note { position: fixed; ${side}: 20px; bottom: 80px; z-index: 2147483002; background: #333;
      color: #fff; padding: 10px 14px; border-radius: 8px; max-width: 300px; }
    .hidden { display: none; }
    @media (max-width: 480px) {
      .panel { inset: 0; width: 100%; height: 100%; border-radius: 0; }
      .invite { left: 10px; right: 10px; width: auto; }
      .button { bottom: 12px; ${side}: 12px; }
    }`;

  let root = null;  // the widget's own elements, in a shadow root
  function ui() {
    if (root) return root;
    const holder = document.createElement('div');
    holder.id = 'zelto-widget';
    document.body.appendChild(holder);
    root = holder.attachShadow({ mode: 'open' });
    const style = document.createElement('style');
    style.textContent = STYLE;
    root.appendChild(style);
    return root;
  }
  function element(tag, className, content) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (content) node.textContent = content;
    return node;
  }

  function notify(message) {
    const note = element('div', 'note', message);
    note.setAttribute('role', 'status');
    ui().appendChild(note);
    setTimeout(() => note.remove(), 5000);
  }

  let panel = null;
  function showPanel(url) {
    if (!panel) {
      panel = element('div', 'panel');
      panel.setAttribute('role', 'dialog');
      const bar = element('div', 'bar');
      bar.appendChild(element('span', '', text('title')));
      const popOut = element('button', 'pop-out', '↗');
      popOut.title = text('popOut');
      popOut.addEventListener('click', () => {
        const frame = panel.querySelector('iframe');
        if (window.open(frame.src, 'zeltochat', 'width=560,height=640')) {
          panel.remove();
          panel = null;
        }
      });
      const close = element('button', 'close', '×');
      close.title = text('close');
      // Hidden, not closed: the chat goes on and the button shows it again.
      close.addEventListener('click', () => panel.classList.add('hidden'));
      bar.append(popOut, close);
      panel.append(bar, element('iframe'));
      panel.querySelector('iframe').title = text('title');
      ui().appendChild(panel);
    }
    const frame = panel.querySelector('iframe');
    if (frame.src !== url) frame.src = url;
    panel.classList.remove('hidden');
  }

  function chatUrl(cid) {
    const page = cid ? '/visitor/chat.html?cid=' + encodeURIComponent(cid) : '/visitor/message.html';
    if (!CROSS) return HOST + page;
    return HOST + page + (cid ? '&' : '?') + 'embed=1&company=' + COMPANY;
  }

  // A pop-up must be opened during the click, before the host answers.
  async function openChat(start) {
    if (panel && panel.classList.contains('hidden') && panel.querySelector('iframe').src) {
      panel.classList.remove('hidden');
      return;
    }
    const popup = data.open === 'popup' ? window.open('', 'zeltochat', 'width=560,height=640') : null;
    try {
      const url = chatUrl(await start());
      if (popup) popup.location.href = url; else showPanel(url);
    } catch (e) {
      if (popup) popup.close();
      notify(e.status === 503 ? text('noOperator') : text('cannotConnect', { reason: e.message }));
    }
  }
  function chatButton() {
    const button = element('button', 'button', data.label || text('chat'));
    button.type = 'button';
    ui().appendChild(button);
    return button;
  }

  function invitationBox() {
    const own = data.invitation && document.querySelector(data.invitation);
    if (own) return own;
    const box = element('div', 'invite hidden');
    box.setAttribute('role', 'dialog');
    const messages = element('div');
    messages.setAttribute('data-zelto-messages', '');
    const accept = element('button', 'primary', text('accept'));
    accept.setAttribute('data-zelto-accept', '');
    const refuse = element('button', '', text('refuse'));
    refuse.setAttribute('data-zelto-refuse', '');
    const row = element('div', 'row');
    row.append(accept, refuse);
    box.append(element('h2', '', text('inviteTitle')), messages, row);
    ui().appendChild(box);
    return box;
  }

  function startInvitations() {
    const box = invitationBox();
    let offered = false;
    const hide = () => { box.classList.add('hidden'); offered = false; };
    function show(messages) {
      const list = box.querySelector('[data-zelto-messages]');
      list.replaceChildren();
      for (const message of messages.length ? messages : [text('invitation')])
        list.appendChild(element('p', '', message));
      box.classList.remove('hidden');
      offered = true;
    }
    async function check() {
      try {
        const state = await call('GET', '/api/visitor/invitation');
        if (state.invited === 1) show(state.messages || []);
        else if (offered) hide();
      } catch (e) { /* the next check will do */ }
      setTimeout(check, INVITATION_MS);
    }
    box.querySelector('[data-zelto-accept]').addEventListener('click', () => {
      hide();
      openChat(async () => {
        const answer = await call('POST', '/api/visitor/invitation', { accept: 1 });
        return answer.cid || (await call('GET', '/api/visitor/invitation')).cid;
      });
    });
    box.querySelector('[data-zelto-refuse]').addEventListener('click', async () => {
      hide();
      try { await call('POST', '/api/visitor/invitation', { accept: 0 }); } catch (e) { /* shown again */ }
    });
    check();
  }

  // ---- the page view ---------------------------------------------------------
  async function visit() {
    const answer = await call('POST', '/api/visitor/visit',
                              { page: location.href, referrer: document.referrer }, CROSS);
    keep(answer.visitor);
  }

  function start() {
    const visited = visit();
    const begin = (button) => {
      // Clicked before the visit was answered: the chat waits for it.
      button.addEventListener('click', () => openChat(async () => {
        await visited;
        return (await call('POST', '/api/visitor/chat', {})).cid;
      }));
    };
    // A page's own button works from the start; ours shows once the host
    // has answered (not a listed site, or the host down: no chat here).
    const own = data.button && document.querySelector(data.button);
    if (own) begin(own);
    visited.then(() => {
      if (!own) begin(chatButton());
      startInvitations();
    }, () => {});
  }

  window.ZeltoWidget = { host: HOST, company: COMPANY };
  // An async script may run while the page is still being parsed, before a
  // page's own button exists: start once the whole page is there.
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
  else start();
})();
