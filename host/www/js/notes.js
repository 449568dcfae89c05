// Notes on a visitor: every operator of the company reads them in the
// console and the chat window; the author (or a supervisor) removes one.
(function () {
  'use strict';

  const Notes = {};

  // `panel` holds a <ul> and a <form> with a text box.
  Notes.attach = function (panel) {
    const list = panel.querySelector('ul');
    const form = panel.querySelector('form');
    const box = form.querySelector('textarea, input');
    let label = '';

    async function load() {
      if (!label) return;
      let notes = [];
      try {
        notes = await Zelto.api('GET', '/api/operator/notes?label=' + encodeURIComponent(label));
      } catch (e) {
        Zelto.toast(t('common.loadFailed', { reason: e.message }), 'bad');
        return;
      }
      list.replaceChildren();
      for (const n of notes) {
        const li = document.createElement('li');
        const text = document.createElement('span');
        text.className = 'note-text';
        text.textContent = n.text;
        const meta = document.createElement('span');
        meta.className = 'muted';
        meta.textContent = (n.name || '') + ' · ' + new Date(n.at * 1000).toLocaleString();
        const remove = document.createElement('button');
        remove.type = 'button';
        remove.className = 'ghost small';
        I18n.set(remove, 'notes.remove');
        remove.addEventListener('click', async () => {
          try {
            await Zelto.api('POST', '/api/operator/notes/delete', { id: n.id });
            load();
          } catch (e) {
            Zelto.toast(t('notes.failed', { reason: e.message }), 'bad');
          }
        });
        li.append(text, meta, remove);
        list.appendChild(li);
      }
      if (!notes.length) {
        const none = document.createElement('li');
        none.className = 'muted';
        I18n.set(none, 'notes.none');
        list.appendChild(none);
      }
    }

    form.addEventListener('submit', async (ev) => {
      ev.preventDefault();
      if (!label || !box.value.trim()) return;
      try {
        await Zelto.api('POST', '/api/operator/notes/add', { label, text: box.value });
        box.value = '';
        load();
      } catch (e) {
        Zelto.toast(t('notes.failed', { reason: e.message }), 'bad');
      }
    });

    return {
      // Shows the notes of visitor `next` ('' hides the panel).
      show(next) {
        label = next || '';
        panel.classList.toggle('hidden', !label);
        list.replaceChildren();
        load();
      },
    };
  };

  window.Notes = Notes;
})();
