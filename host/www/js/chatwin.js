// The chat window shared by the visitor and the operator: the refresh frame
// ("fresh", which polls and holds the chatmsglist frame), the composer that
// posts through the component page and runs the echo script it answers with,
// faces, attachments and ending the conversation. It tells the window's
// other parts (typing.js, seen.js) what happens by document events:
// "chat:message" (the other side's message arrived), "chat:sent", "chat:ended".
(function () {
  'use strict';

  const ChatWindow = {};

  function $(id) { return document.getElementById(id); }

  // Who ended a chat: the line with the time, and without it.
  const ENDED_KEYS = {
    visitor: ['chat.endedBy.visitor', 'chat.endedBy.visitorNoTime'],
    operator: ['chat.endedBy.operator', 'chat.endedBy.operatorNoTime'],
    supervisor: ['chat.endedBy.supervisor', 'chat.endedBy.supervisorNoTime'],
    unknown: ['chat.endedBy.unknown', 'chat.endedBy.unknownNoTime'],
  };

  function setStatus(text, kind) {
    const el = $('status');
    I18n.plain(el, text);
    el.className = 'sub ' + (kind || '');
  }

  ChatWindow.start = async function (opts) {
    const cid = Zelto.query('cid');
    const textBox = $('text');
    const form = $('composer');
    let ended = false;
    let sending = false;
    let ready = false;  // the window is prepared: sending may begin

    // Bound before the window is prepared, so that an early Enter or click
    // never submits the form as a page load (which would lose the text and
    // the conversation's number); until then the button waits disabled.
    $('send').disabled = true;
    form.addEventListener('submit', (ev) => { ev.preventDefault(); send(''); });
    textBox.addEventListener('keydown', (ev) => {
      if (ev.key === 'Enter' && !ev.shiftKey && !ev.isComposing) {
        ev.preventDefault();
        send('');
      }
    });

    if (!/^\d+$/.test(cid)) {
      setStatus(t('chat.badNumber'), 'bad');
      form.classList.add('disabled');
      return;
    }

    let subtitle = '';
    try {
      subtitle = await opts.prepare(cid);
    } catch (e) {
      setStatus(t('chat.cannotOpen', { reason: e.message }), 'bad');
      return;
    }
    setStatus(subtitle || '', 'ok');

    let unseen = 0;  // messages that came while the window was not looked at
    window.addEventListener('focus', () => {
      unseen = 0;
      if (window.Notify) Notify.setCount(0);
    });

    window.onPollState = function (state, error) {
      if (ended) return;
      if (state === 'ended') {
        showEnded(error.by, error.at);
      } else if (state === 'message') {
        document.dispatchEvent(new Event('chat:message'));
        if (opts.who === 'operator' && window.Notify && Notify.pageHidden()) {
          Notify.setCount(++unseen);
          Notify.alert(t('notify.newMessage'), t('common.conversationNumber', { cid }), 'msg' + cid);
        }
      } else if (state === 'ok') {
        setStatus(subtitle || '', 'ok');
      } else if (error && (error.status === 401 || error.status === 403)) {
        setStatus(t('chat.loggedOut'), 'bad');
      } else {
        setStatus(t('chat.reconnecting'), 'warn');
      }
    };
    // The frames load with their message list (the load event waits for
    // the inner frame): an echo before that would have nowhere to land, and
    // the poll never brings one's own messages back.
    const framesLoaded = new Promise((resolve) => {
      $('fresh-frame').addEventListener('load', resolve, { once: true });
    });
    $('fresh-frame').src = '/frames/fresh.html?who=' + opts.who + '&cid=' + cid;
    if (window.Activity) {
      Activity.start(cid);
      if (window.Typing) Typing.attach({ cid, who: opts.who, textBox, line: $('typing-line') });
      if (window.Seen) Seen.attach($('seen-line'));
    }

    function fresh() { return window.fresh; }

    async function post(text, adjunct) {
      const values = { cid, action: 'sub', msgContent: Zelto.escapeMessage(text),
                       adjunct: adjunct || '' };
      if (opts.who === 'operator') values.token = Zelto.token();
      const body = await Zelto.page(opts.postPath, Zelto.pageQuery(values));
      if (!body.trim()) throw new Error(t('chat.notSaved'));
      Zelto.runScript(body);  // the echo: window.top.fresh.chatmsglist.AddMsg('...')
      document.dispatchEvent(new Event('chat:sent'));
      if (fresh() && fresh().pollNow) fresh().pollNow();
    }

    async function send(adjunct) {
      const text = textBox.value;
      if (!ready || ended || sending || (!text.trim() && !adjunct)) return;
      sending = true;
      $('send').disabled = true;
      try {
        await post(text, adjunct);
        textBox.value = '';
      } catch (e) {
        if (e.status === 403) {
          Zelto.toast(t('chat.sendRefusedEnded'), 'bad');
          if (fresh() && fresh().pollNow) fresh().pollNow();  // learns who ended it
        } else {
          Zelto.toast(t('chat.sendFailed', { reason: e.message }), 'bad');
        }
      } finally {
        sending = false;
        $('send').disabled = ended;
        textBox.focus();
      }
    }

    const faces = $('faces');
    Zelto.facePicker(faces, (code) => {
      const at = textBox.selectionStart ?? textBox.value.length;
      textBox.value = textBox.value.slice(0, at) + code + textBox.value.slice(at);
      faces.classList.add('hidden');
      textBox.focus();
    });
    $('face-toggle').addEventListener('click', () => faces.classList.toggle('hidden'));

    $('file').addEventListener('change', async (ev) => {
      const file = ev.target.files[0];
      ev.target.value = '';
      if (!file || ended) return;
      $('attachment').textContent = t('chat.uploading', { name: file.name });
      try {
        const stored = await Zelto.upload(file);
        $('attachment').textContent = '';
        await send(stored);
      } catch (e) {
        $('attachment').textContent = '';
        Zelto.toast(t('chat.uploadFailed', { reason: e.message }), 'bad');
      }
    });

    // The conversation ended (here, on the other side, by a supervisor or
    // by the site): nothing more can be sent, and a line says who and when.
    function showEnded(by, at) {
      ended = true;
      if (fresh() && fresh().stopPolling) fresh().stopPolling();
      document.dispatchEvent(new Event('chat:ended'));
      if (window.Activity) Activity.stop();
      form.classList.add('disabled');
      textBox.disabled = true;
      $('send').disabled = true;
      $('end').disabled = true;
      setStatus(t('chat.ended'), 'warn');
      const when = at ? new Date(at * 1000).toLocaleTimeString() : '';
      const keys = ENDED_KEYS[by] || ENDED_KEYS.unknown;
      const line = $('ended-line');
      I18n.set(line, when ? keys[0] : keys[1], { time: when });
      line.classList.remove('hidden');
      if (opts.ended) opts.ended(cid);
    }
    ChatWindow.showEnded = showEnded;

    ChatWindow.end = async function () {
      if (ended) return;
      if (!window.confirm(t('chat.confirmEnd'))) return;
      try {
        await Zelto.api('POST', '/api/conversation/end', { cid });
      } catch (e) {
        Zelto.toast(t('chat.endFailed', { reason: e.message }), 'bad');
        return;
      }
      showEnded(opts.who, Math.floor(Date.now() / 1000));
    };
    $('end').addEventListener('click', ChatWindow.end);

    await framesLoaded;
    ready = !ended;
    $('send').disabled = ended;
    if (opts.ready) opts.ready(cid);
    textBox.focus();
  };

  window.ChatWindow = ChatWindow;
})();
