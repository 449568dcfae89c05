// Canned replies in the chat window: typing "/" and a keyword in the
// composer lists the replies whose keyword starts so; Tab, Enter or a click
// puts the chosen one in place of "/keyword", with {visitor} and
// {operator} filled in. The replies are the company's and the operator's
// own (/operator/canned.html keeps them).
(function () {
  'use strict';

  const Canned = {};

  // The text with its placeholders filled.
  Canned.fill = function (text, names) {
    return text.replace(/\{(visitor|operator)\}/g, (whole, key) => names[key] || whole);
  };

  // The "/word" that ends at the caret, or null.
  function slashWordAt(box) {
    const upTo = box.value.slice(0, box.selectionStart);
    const m = /(?:^|\s)\/([^\s/]*)$/.exec(upTo);
    return m ? { word: m[1], start: upTo.length - m[1].length - 1 } : null;
  }

  Canned.attach = async function (textBox, menu, names) {
    let replies = [];
    try {
      replies = await Zelto.api('GET', '/api/operator/canned');
    } catch (e) {
      return;  // no completion; typing works as ever
    }
    let shown = [];
    let chosen = 0;
    let at = null;

    function close() {
      menu.classList.add('hidden');
      shown = [];
    }

    function render() {
      menu.replaceChildren();
      shown.forEach((r, i) => {
        const li = document.createElement('li');
        li.className = i === chosen ? 'chosen' : '';
        const key = document.createElement('strong');
        key.textContent = '/' + r.keyword;
        const text = document.createElement('span');
        text.textContent = Canned.fill(r.text, names());
        li.append(key, ' ', text);
        li.addEventListener('mousedown', (ev) => { ev.preventDefault(); insert(r); });
        menu.appendChild(li);
      });
      menu.classList.toggle('hidden', !shown.length);
    }

    function insert(reply) {
      if (!at) return;
      const filled = Canned.fill(reply.text, names());
      const end = textBox.selectionStart;
      textBox.value = textBox.value.slice(0, at.start) + filled + textBox.value.slice(end);
      const caret = at.start + filled.length;
      textBox.setSelectionRange(caret, caret);
      close();
      textBox.dispatchEvent(new Event('input'));
    }

    textBox.addEventListener('input', () => {
      at = slashWordAt(textBox);
      const word = at ? at.word.toLowerCase() : null;
      shown = word === null ? [] : replies.filter((r) => r.keyword.toLowerCase().startsWith(word));
      chosen = 0;
      render();
    });
    // Before the composer's own Enter (send): capture phase.
    textBox.addEventListener('keydown', (ev) => {
      if (!shown.length) return;
      if (ev.key === 'ArrowDown' || ev.key === 'ArrowUp') {
        chosen = (chosen + (ev.key === 'ArrowDown' ? 1 : shown.length - 1)) % shown.length;
        render();
      } else if (ev.key === 'Enter' || ev.key === 'Tab') {
        insert(shown[chosen]);
      } else if (ev.key === 'Escape') {
        close();
      } else {
        return;
      }
      ev.preventDefault();
      ev.stopImmediatePropagation();
    }, true);
    textBox.addEventListener('blur', close);
  };

  window.Canned = Canned;
})();
