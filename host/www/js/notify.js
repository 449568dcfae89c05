// Telling an operator that something needs them: a short tone (WebAudio, no
// file to fetch; muted with Notify.setMuted, remembered in localStorage), a
// count in front of the page's title, and a desktop notification when the
// operator allowed them (Notification API; asked once, from a click).
(function () {
  'use strict';

  const Notify = {};
  const MUTE_KEY = 'zelto.muted';
  let audio = null;
  let count = 0;
  let baseTitle = document.title;

  Notify.muted = function () { return localStorage.getItem(MUTE_KEY) === '1'; };
  Notify.setMuted = function (muted) {
    if (muted) localStorage.setItem(MUTE_KEY, '1'); else localStorage.removeItem(MUTE_KEY);
  };

  // Two short notes; browsers let a page sound only after a click, so a
  // tone that cannot play is simply skipped.
  Notify.tone = function () {
    if (Notify.muted()) return;
    try {
      audio = audio || new (window.AudioContext || window.webkitAudioContext)();
      [0, 0.18].forEach((offset, i) => {
        const osc = audio.createOscillator();
        const gain = audio.createGain();
        osc.frequency.value = i ? 988 : 784;
        gain.gain.setValueAtTime(0.15, audio.currentTime + offset);
        gain.gain.exponentialRampToValueAtTime(0.001, audio.currentTime + offset + 0.16);
        osc.connect(gain).connect(audio.destination);
        osc.start(audio.currentTime + offset);
        osc.stop(audio.currentTime + offset + 0.17);
      });
    } catch (e) { /* no sound on this browser */ }
  };

  // The page's own title, after the language was applied.
  Notify.setBaseTitle = function (title) {
    baseTitle = title;
    Notify.setCount(count);
  };
  Notify.setCount = function (n) {
    count = Math.max(0, n);
    document.title = count ? '(' + count + ') ' + baseTitle : baseTitle;
  };
  Notify.count = function () { return count; };

  Notify.permission = function () {
    return 'Notification' in window ? Notification.permission : 'unsupported';
  };
  Notify.askPermission = async function () {
    if ('Notification' in window && Notification.permission === 'default') {
      try { await Notification.requestPermission(); } catch (e) { /* refused */ }
    }
    return Notify.permission();
  };

  // Sound, and a desktop notification when allowed; clicking it brings
  // the page forward.
  Notify.alert = function (title, body, tag) {
    Notify.tone();
    if (!('Notification' in window) || Notification.permission !== 'granted') return;
    try {
      const n = new Notification(title, { body, tag });
      n.onclick = () => { window.focus(); n.close(); };
    } catch (e) { /* some browsers allow notifications only from a service worker */ }
  };

  Notify.pageHidden = function () {
    return document.hidden || !document.hasFocus();
  };

  window.Notify = Notify;
})();
