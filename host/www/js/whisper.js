// Whispers: what the operators of a conversation say to one another only
// (a supervisor watching it, or a member). Listed from the activity answer,
// which the host gives whispers to operators only; sent with the box below.
(function () {
  'use strict';

  const Whisper = {};

  // `panel`: the list; `form` with a text box and a button, or null.
  Whisper.attach = function (cid, panel, form) {
    const list = panel.querySelector('ul');
    Activity.listen((answer) => {
      const whispers = answer.whispers || [];
      panel.classList.toggle('hidden', !whispers.length && !form);
      list.replaceChildren();
      for (const w of whispers) {
        const li = document.createElement('li');
        const who = document.createElement('strong');
        who.textContent = w.name || t('common.operatorBadge', { name: '', id: w.operatorId });
        const when = document.createElement('span');
        when.className = 'muted';
        when.textContent = new Date(w.at * 1000).toLocaleTimeString();
        const text = document.createElement('span');
        text.className = 'whisper-text';
        text.textContent = w.text;
        li.append(who, ' ', when, ' ', text);
        list.appendChild(li);
      }
      list.scrollTop = list.scrollHeight;
    });
    if (!form) return;
    const box = form.querySelector('input');
    form.addEventListener('submit', async (ev) => {
      ev.preventDefault();
      const text = box.value;
      if (!text.trim()) return;
      try {
        await Zelto.api('POST', '/api/conversation/whisper', { cid, text });
        box.value = '';
      } catch (e) {
        Zelto.toast(t('whisper.failed', { reason: e.message }), 'bad');
      }
    });
  };

  window.Whisper = Whisper;
})();
