// Seen receipts: under the messages, whether the other side has received
// the last one this side sent (from the read marks their polls leave).
(function () {
  'use strict';

  const Seen = {};

  Seen.attach = function (line) {
    Activity.listen((answer) => {
      const seen = answer.seen;
      if (!seen || !seen.lastSent) {
        line.classList.add('hidden');
        return;
      }
      I18n.set(line, seen.seen ? 'seen.seen' : 'seen.sent');
      line.classList.toggle('done', !!seen.seen);
      line.classList.remove('hidden');
    });
    // A message just sent is not seen yet: ask again.
    document.addEventListener('chat:sent', () => Activity.refresh());
  };

  window.Seen = Seen;
})();
