// Helpers shared by every page of the chat site: JSON calls to the host, the
// message escaping the component expects, running the scripts the component
// pages answer with, and a whitelist sanitizer for the markup they write.
(function () {
  'use strict';

  const Zelto = {};

  Zelto.query = function (name) {
    return new URLSearchParams(window.location.search).get(name) || '';
  };

  // Every UTF-16 code unit as "%uXXXX". The component decodes a message only
  // when it begins with "%u", so escaping all of it (not only what escape()
  // touches) keeps a message such as "ok 你好" intact.
  Zelto.escapeMessage = function (text) {
    let out = '';
    for (let i = 0; i < text.length; i++) {
      out += '%u' + text.charCodeAt(i).toString(16).toUpperCase().padStart(4, '0');
    }
    return out;
  };

  Zelto.formBody = function (data) {
    const params = new URLSearchParams();
    for (const [k, v] of Object.entries(data || {})) params.append(k, String(v));
    return params.toString();
  };

  // ---- the visitor's identity where cookies do not reach -------------------
  // A chat page the chat snippet opened on another site (?embed=1, in its
  // frame or pop-up) asks the snippet's page for the visitor's signed label
  // and sends it in X-Zelto-Visitor on every call: the browser keeps the
  // chat host's cookies from it there. The pages it leads to and the frames
  // it holds find the label in the tab's session storage.
  const VISITOR_KEY = 'zelto.visitor';
  let visitor = '';
  try { visitor = sessionStorage.getItem(VISITOR_KEY) || ''; } catch (e) { /* no storage */ }
  // The snippet's company goes with the label: a visitor whose session
  // ended while the chat stayed open comes back as that company's.
  const COMPANY_KEY = 'zelto.company';
  const named = Zelto.query('embed') === '1' ? Zelto.query('company') : '';
  let company = /^[1-9][0-9]*$/.test(named) ? named : '';
  try {
    if (company) sessionStorage.setItem(COMPANY_KEY, company);
    else company = sessionStorage.getItem(COMPANY_KEY) || '';
  } catch (e) { /* this page only */ }
  // A frame of the chat window (the message poll) asks the window itself.
  try {
    const top = chatTop();
    if (!visitor && top !== window && top.Zelto) visitor = top.Zelto.visitor();
    if (!company && top !== window && top.Zelto) company = top.Zelto.company();
  } catch (e) { /* not ours */ }
  Zelto.visitor = () => visitor;
  Zelto.company = () => company;
  const visitorHeaders = (headers) => {
    if (!visitor) return headers;
    headers['X-Zelto-Visitor'] = visitor;
    if (company) headers['X-Zelto-Company'] = company;
    return headers;
  };
  const embedder = window.opener || (window.parent !== window ? window.parent : null);
  const visitorReady = visitor || !embedder || Zelto.query('embed') !== '1'
    ? Promise.resolve()
    : new Promise((resolve) => {
      const done = () => {
        clearTimeout(timer);
        window.removeEventListener('message', onMessage);
        resolve();
      };
      function onMessage(event) {
        if (event.source !== embedder || !event.data || event.data.zelto !== 'visitor') return;
        visitor = String(event.data.visitor || '');
        try { sessionStorage.setItem(VISITOR_KEY, visitor); } catch (e) { /* this page only */ }
        done();
      }
      window.addEventListener('message', onMessage);
      const timer = setTimeout(done, 3000);  // no answer: the cookies may do
      embedder.postMessage({ zelto: 'visitor-request' }, '*');
    });

  // `headers` with the visitor's label, once it is known.
  Zelto.identify = async function (headers) {
    await visitorReady;
    return visitorHeaders(headers);
  };

  // A request that must outlive the page (leaving the queue on close).
  Zelto.beacon = function (path, params) {
    if (!visitor) return navigator.sendBeacon(path, params);
    fetch(path, { method: 'POST', keepalive: true, body: params,
                  headers: visitorHeaders({}) }).catch(() => {});
    return true;
  };

  let token = '';
  Zelto.setToken = function (t) { token = t || ''; };
  Zelto.token = function () { return token; };

  class HttpError extends Error {
    constructor(status, message) {
      super(message);
      this.status = status;
    }
  }
  Zelto.HttpError = HttpError;

  // The host's refusals that a person can meet, in the page's language.
  const REFUSALS = {
    403: 'common.refused',
    429: 'common.tooManyRequests',
    507: 'common.storageFull',
  };

  async function failure(res) {
    let detail = '';
    try {
      const text = await res.text();
      try { detail = JSON.parse(text).error || text; } catch (e) { detail = text; }
    } catch (e) { /* the status says enough */ }
    if (REFUSALS[res.status] && typeof t === 'function') {
      const wait = parseInt(res.headers.get('Retry-After') || '', 10);
      detail = t(REFUSALS[res.status], { seconds: Number.isFinite(wait) ? wait : 1 });
    }
    return new HttpError(res.status, detail || ('HTTP ' + res.status));
  }

  // A JSON call to the host. POST bodies are form-encoded; operator calls
  // carry the session's cross-site token.
  Zelto.api = async function (method, path, data) {
    const init = { method, credentials: 'same-origin', headers: await Zelto.identify({}) };
    if (token) init.headers['X-Zelto-Token'] = token;
    if (method !== 'GET') {
      init.headers['Content-Type'] = 'application/x-www-form-urlencoded';
      init.body = Zelto.formBody(data);
    }
    const res = await fetch(path, init);
    if (!res.ok) throw await failure(res);
    const text = await res.text();
    return text ? JSON.parse(text) : {};
  };

  // The charset a response announces in its Content-Type (the site's
  // --charset for component pages), else the one the host told the page.
  Zelto.charsetOf = function (res) {
    const match = /;\s*charset=["']?([\w-]+)/i.exec(res.headers.get('Content-Type') || '');
    return match ? match[1] : ((window.I18n && I18n.charset) || 'utf-8');
  };

  // A response's body decoded in its charset: res.text() would read a GBK
  // site's answers as UTF-8.
  Zelto.bodyText = async function (res) {
    return new TextDecoder(Zelto.charsetOf(res)).decode(await res.arrayBuffer());
  };

  // A component page: its body as text (empty when the method wrote nothing).
  Zelto.page = async function (path, params) {
    const url = path + (params ? '?' + params : '');
    const res = await fetch(url, { credentials: 'same-origin', cache: 'no-store',
                                   headers: await Zelto.identify({}) });
    if (!res.ok) throw await failure(res);
    return Zelto.bodyText(res);
  };

  // A component page a window refreshes (the visitor list): its body, or
  // null when it is the same as the last time this key fetched it. The host
  // answers "not modified" to the tag the page remembers, so an unchanged
  // list costs a few hundred bytes instead of the whole list.
  const lastTags = new Map();
  Zelto.pageIfChanged = async function (key, path, params) {
    const url = path + (params ? '?' + params : '');
    const headers = await Zelto.identify({});
    if (lastTags.has(key)) headers['If-None-Match'] = lastTags.get(key);
    const res = await fetch(url, { credentials: 'same-origin', cache: 'no-store', headers });
    if (res.status === 304) return null;
    if (!res.ok) throw await failure(res);
    const text = await Zelto.bodyText(res);
    const tag = res.headers.get('ETag');
    if (tag) lastTags.set(key, tag); else lastTags.delete(key);
    return text;
  };

  // The time of day as the page's language writes it (for "updated at").
  Zelto.clockTime = function () {
    const language = (window.I18n && I18n.language) || 'zh';
    return new Date().toLocaleTimeString(language === 'zh' ? 'zh-CN' : language,
                                         { hour12: false });
  };

  // Query string for a component page. msgContent is already %u-escaped and
  // goes in as it is; everything else is URL-encoded.
  Zelto.pageQuery = function (values) {
    return Object.entries(values)
        .map(([k, v]) => k + '=' + (k === 'msgContent' ? v : encodeURIComponent(String(v))))
        .join('&');
  };

  // Runs a script text a component page answered with, in this window.
  // The chat window's own top: the highest frame of this site. In the frame
  // the chat snippet opens on another site, window.top is that site's page.
  Zelto.chatTop = chatTop;
  function chatTop() {
    let win = window;
    try {
      while (win.parent !== win && win.parent.location.origin === window.location.origin) {
        win = win.parent;
      }
    } catch (e) { /* another site's frame: win is the highest of ours */ }
    return win;
  }

  // A component page's script (window.top.fresh.chatmsglist.AddMsg(...))
  // reaches the chat window's frames also inside another site's page.
  Zelto.runScript = function (text) {
    if (!text || !text.trim()) return;
    const top = chatTop();
    if (top === window.top) { (new Function(text)).call(window); return; }
    const scope = new Proxy(window, {
      get(target, key) {
        if (key === 'top') return top;
        const value = target[key];
        return typeof value === 'function' ? value.bind(target) : value;
      },
    });
    (new Function('window', 'top', text)).call(window, scope, top);
  };

  // The bodies of the <script> elements of a result document, run in order.
  Zelto.runResultScripts = function (html) {
    const found = html.match(/<script[^>]*>[\s\S]*?<\/script>/gi) || [];
    for (const block of found) {
      Zelto.runScript(block.replace(/^<script[^>]*>/i, '').replace(/<\/script>$/i, ''));
    }
    return found.length;
  };

  // The logged-in operator, or a trip to the login page.
  Zelto.requireOperator = async function () {
    try {
      const me = await Zelto.api('GET', '/api/me');
      Zelto.setToken(me.token);
      // The administration page's link, for administrators only.
      const adminLink = document.getElementById('admin-link');
      if (adminLink && me.admin) adminLink.classList.remove('hidden');
      return me;
    } catch (e) {
      if (e.status === 401) {
        window.location.href = '/operator/login.html?next=' +
            encodeURIComponent(window.location.pathname + window.location.search);
        return new Promise(() => {});
      }
      throw e;
    }
  };

  // ---- markup from component pages ----------------------------------------
  //
  // The component escapes every value it puts into its markup; the pages keep
  // a second line of defence: elements that run code are dropped, and an
  // event attribute survives only when its whole text is one the page expects.

  const DROPPED = new Set(['SCRIPT', 'IFRAME', 'FRAME', 'OBJECT', 'EMBED', 'LINK', 'META',
                           'BASE', 'FORM', 'INPUT', 'BUTTON', 'TEXTAREA', 'SELECT', 'SVG',
                           'MATH', 'TEMPLATE']);
  const URL_ATTRS = new Set(['href', 'src', 'background', 'action', 'formaction', 'xlink:href']);

  function safeUrl(value) {
    const v = value.replace(/[\u0000-\u0020]/g, '').toLowerCase();
    return !(v.startsWith('javascript:') || v.startsWith('vbscript:') || v.startsWith('data:'));
  }

  function cleanTree(root, handlers) {
    const all = Array.from(root.querySelectorAll('*'));
    for (const el of all) {
      if (DROPPED.has(el.tagName.toUpperCase())) { el.remove(); continue; }
      for (const attr of Array.from(el.attributes)) {
        const name = attr.name.toLowerCase();
        if (name.startsWith('on')) {
          const allowed = handlers && handlers[name];
          if (!allowed || !allowed.test(attr.value)) el.removeAttribute(attr.name);
        } else if (URL_ATTRS.has(name) && !safeUrl(attr.value)) {
          el.removeAttribute(attr.name);
        } else if (name === 'style' && /expression|url\s*\(/i.test(attr.value)) {
          el.removeAttribute(attr.name);
        }
      }
    }
  }

  // Parses html in an inert template (nothing loads, no handler fires) and
  // returns a fragment that keeps only what is allowed.
  Zelto.sanitize = function (html, handlers) {
    const tpl = document.createElement('template');
    tpl.innerHTML = html;
    cleanTree(tpl.content, handlers);
    return tpl.content;
  };

  Zelto.setHtml = function (element, html, handlers) {
    element.replaceChildren(Zelto.sanitize(html, handlers));
  };

  // Runs a console list script ("document.all("show").innerHTML=...;") with
  // a document whose elements take their markup through the sanitizer.
  Zelto.runListScript = function (text, handlers) {
    if (!text || !text.trim()) return false;
    const fakeDocument = {
      all(id) {
        const element = document.getElementById(id);
        if (!element) throw new Error('no element ' + id);
        return {
          set innerHTML(html) { Zelto.setHtml(element, html, handlers); },
          get innerHTML() { return element.innerHTML; },
        };
      },
    };
    (new Function('document', text))(fakeDocument);
    return true;
  };

  // ---- faces ------------------------------------------------------------
  Zelto.FACE_COUNT = 56;

  // A grid of the face images; a click hands ":#N#" to onPick.
  Zelto.facePicker = function (container, onPick) {
    container.replaceChildren();
    for (let i = 0; i < Zelto.FACE_COUNT; i++) {
      const img = document.createElement('img');
      img.src = '/images/face/' + i + '.gif';
      img.alt = ':#' + i + '#';
      img.title = ':#' + i + '#';
      img.addEventListener('click', () => onPick(':#' + i + '#'));
      container.appendChild(img);
    }
  };

  // ---- attachments --------------------------------------------------------
  Zelto.MAX_UPLOAD = 2 * 1024 * 1024;

  Zelto.upload = async function (file) {
    if (file.size > Zelto.MAX_UPLOAD) {
      throw new HttpError(413, t('common.fileTooLargeMax', { mb: Zelto.MAX_UPLOAD >> 20 }));
    }
    const headers = await Zelto.identify({ 'Content-Type': 'application/octet-stream' });
    if (token) headers['X-Zelto-Token'] = token;
    const res = await fetch('/api/upload?name=' + encodeURIComponent(file.name), {
      method: 'POST', credentials: 'same-origin', headers, body: file,
    });
    if (res.status === 413) {
      // Too large a file, or the visit's uploads used up.
      const error = await failure(res);
      throw new HttpError(413, /visit/.test(error.message) ? t('common.uploadQuota')
                                                           : t('common.fileTooLarge'));
    }
    if (!res.ok) throw await failure(res);
    return (await res.json()).name;
  };

  Zelto.toast = function (text, kind) {
    let box = document.getElementById('z-toast');
    if (!box) {
      box = document.createElement('div');
      box.id = 'z-toast';
      document.body.appendChild(box);
    }
    box.textContent = text;
    box.className = 'toast ' + (kind || '');
    clearTimeout(box._timer);
    box._timer = setTimeout(() => { box.className = 'toast hidden'; }, 4000);
  };

  window.Zelto = Zelto;
})();
