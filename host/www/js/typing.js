// The typing indicator: while this side types, the host hears it at most
// once a second (and once more when the text is sent or cleared); the line
// shows who types on the other side and clears a few seconds after the
// last word of it, or when their message arrives. A visitor's text goes
// along only when the company lets its operators see it.
(function () {
  'use strict';

  const SEND_EVERY_MS = 1000;
  const CLEAR_AFTER_MS = 6000;

  const Typing = {};

  Typing.attach = function (opts) {
    const { cid, who, textBox, line } = opts;
    let sendPreview = false;
    let lastSent = 0;
    let typing = false;
    let pending = 0;
    let clearTimer = 0;

    function tell(on) {
      const values = { cid, on: on ? '1' : '0' };
      if (on && sendPreview) values.text = textBox.value.slice(0, 300);
      Zelto.api('POST', '/api/conversation/typing', values).catch(() => {});
    }

    function keystroke() {
      if (!textBox.value.trim()) return stopped();
      typing = true;
      const since = Date.now() - lastSent;
      if (since >= SEND_EVERY_MS) {
        lastSent = Date.now();
        tell(true);
      } else if (!pending) {
        pending = setTimeout(() => { pending = 0; if (typing) keystroke(); }, SEND_EVERY_MS - since);
      }
    }

    function stopped() {
      clearTimeout(pending);
      pending = 0;
      if (!typing) return;
      typing = false;
      lastSent = 0;
      tell(false);
    }

    textBox.addEventListener('input', keystroke);
    document.addEventListener('chat:sent', stopped);

    function hide() {
      clearTimeout(clearTimer);
      line.classList.add('hidden');
      line.textContent = '';
    }

    function show(typists) {
      if (!typists.length) return hide();
      const first = typists[0];
      let text;
      if (who === 'visitor') {
        text = t('typing.operator');
      } else if (first.side === 'visitor') {
        text = first.preview ? t('typing.visitorPreview', { text: first.preview })
                             : t('typing.visitor');
      } else {
        text = t('typing.colleague', { name: first.name });
      }
      line.textContent = text;
      line.classList.remove('hidden');
      clearTimeout(clearTimer);
      clearTimer = setTimeout(hide, CLEAR_AFTER_MS);
    }

    Activity.listen((answer) => {
      sendPreview = !!answer.sendPreview;
      show(answer.typing || []);
    });
    document.addEventListener('chat:message', hide);
    document.addEventListener('chat:ended', () => { hide(); stopped(); });
  };

  window.Typing = Typing;
})();
