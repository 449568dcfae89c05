// The pages' language: texts from the catalog the host chose for this
// request (/i18n/page.js sets window.ZeltoPage before this script runs), the
// lang and dir of the page, and a language switch remembered in the "zlang"
// cookie, which the host reads for the pages and the component's own texts.
//
// Markup: data-i18n="key" sets an element's text; data-i18n-placeholder,
// data-i18n-title and data-i18n-aria-label set those attributes. Scripts
// use t('key', {name: value}) ("{name}" in a text is replaced) and
// I18n.set(element, 'key', params). An element with data-i18n-switch gets
// the switch; a page without one (not a frame) gets a small switch in its
// corner.
(function () {
  'use strict';

  const page = window.ZeltoPage || {};
  const language = page.language || 'zh';
  const texts = page.texts || {};
  const languages = page.languages || [];
  const ATTRIBUTES = ['placeholder', 'title', 'aria-label'];

  document.documentElement.lang = language === 'zh' ? 'zh-CN' : language;
  document.documentElement.dir = page.dir === 'rtl' ? 'rtl' : 'ltr';

  // The text of `key` with {name} replaced from `params`; the key itself
  // when the catalog lacks it (so a missing text shows, and a test finds it).
  function t(key, params) {
    let text = Object.prototype.hasOwnProperty.call(texts, key) ? texts[key] : key;
    if (params) {
      text = text.replace(/\{(\w+)\}/g, (whole, name) =>
        Object.prototype.hasOwnProperty.call(params, name) ? String(params[name]) : whole);
    }
    return text;
  }

  function translate(element) {
    const key = element.getAttribute('data-i18n');
    if (key) {
      const params = element.getAttribute('data-i18n-params');
      element.textContent = t(key, params ? JSON.parse(params) : undefined);
    }
    for (const name of ATTRIBUTES) {
      const attrKey = element.getAttribute('data-i18n-' + name);
      if (attrKey) element.setAttribute(name, t(attrKey));
    }
  }

  // Sets an element's text from the catalog and remembers the key, so that
  // translating the page again gives the same text.
  function set(element, key, params) {
    element.setAttribute('data-i18n', key);
    if (params) element.setAttribute('data-i18n-params', JSON.stringify(params));
    else element.removeAttribute('data-i18n-params');
    translate(element);
  }

  // Plain text that is no catalog text (a name, a number).
  function plain(element, text) {
    element.removeAttribute('data-i18n');
    element.removeAttribute('data-i18n-params');
    element.textContent = text;
  }

  function setLanguage(code) {
    document.cookie = 'zlang=' + encodeURIComponent(code) +
        '; Path=/; Max-Age=31536000; SameSite=Lax';
    window.location.reload();
  }

  function makeSwitch() {
    const select = document.createElement('select');
    select.className = 'lang-switch';
    select.setAttribute('aria-label', t('common.language'));
    for (const lang of languages) {
      const option = document.createElement('option');
      option.value = lang.code;
      option.textContent = lang.name;
      option.selected = lang.code === language;
      select.appendChild(option);
    }
    select.addEventListener('change', () => setLanguage(select.value));
    return select;
  }

  function apply(root) {
    const scope = root || document;
    const selector = '[data-i18n],' + ATTRIBUTES.map((a) => '[data-i18n-' + a + ']').join(',');
    for (const element of scope.querySelectorAll(selector)) translate(element);
    if (root || languages.length < 2) return;
    const places = document.querySelectorAll('[data-i18n-switch]');
    for (const place of places) place.replaceChildren(makeSwitch());
    // A frame belongs to a page that has a switch of its own.
    if (!places.length && document.body && window.self === window.top) {
      const corner = document.createElement('div');
      corner.className = 'lang-corner';
      corner.appendChild(makeSwitch());
      document.body.appendChild(corner);
    }
  }

  window.I18n = { t, set, plain, apply, setLanguage, language, charset: page.charset || 'utf-8' };
  window.t = t;
  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', () => apply());
  } else {
    apply();
  }
})();
