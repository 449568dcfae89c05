// A conversation's activity beside its messages: one held request
// (/api/conversation/activity) that the host answers when someone starts or
// stops typing, a message is seen or a whisper comes. The typing line, the
// seen mark and the whispers listen to it (Activity.listen).
(function () {
  'use strict';

  const WAIT_S = 20;
  const RETRY_MS = 2000;
  const listeners = [];
  let cid = '';
  let last = null;
  let version = '';
  let stopped = true;
  let inFlight = null;

  function deliver(answer) {
    last = answer;
    for (const fn of listeners) fn(answer);
  }

  async function loop() {
    while (!stopped) {
      inFlight = new AbortController();
      try {
        const res = await fetch('/api/conversation/activity?cid=' + encodeURIComponent(cid) +
                                '&wait=' + WAIT_S + '&since=' + encodeURIComponent(version),
                                { credentials: 'same-origin', cache: 'no-store',
                                  signal: inFlight.signal });
        if (res.status === 401 || res.status === 403) { stopped = true; break; }
        if (!res.ok) throw new Error('HTTP ' + res.status);
        const next = res.headers.get('X-Zelto-Version') || '';
        const answer = await res.json();
        if (next !== version) {
          version = next;
          deliver(answer);
        }
      } catch (e) {
        if (stopped) break;
        if (e.name !== 'AbortError') await new Promise((r) => setTimeout(r, RETRY_MS));
      }
    }
    inFlight = null;
  }

  const Activity = {
    // Starts polling conversation `id` (once per window).
    start(id) {
      if (!stopped) return;
      cid = String(id);
      stopped = false;
      loop();
    },
    stop() {
      stopped = true;
      if (inFlight) inFlight.abort();
    },
    // Asks again now (the window changed something the answer shows).
    refresh() {
      if (inFlight) inFlight.abort();
      version = '';
    },
    // `fn(answer)` for every new answer, and the last one at once.
    listen(fn) {
      listeners.push(fn);
      if (last) fn(last);
    },
    cid() { return cid; },
  };

  window.Activity = Activity;
})();
