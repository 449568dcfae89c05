// The chat window shared by the visitor and the operator: the refresh frame
// ("fresh", which polls and holds the chatmsglist frame), the composer that
// posts through the component page and runs the echo script it answers with,
// faces, attachments and ending the conversation.
(function () {
  'use strict';

  const ChatWindow = {};

  function $(id) { return document.getElementById(id); }

  function setStatus(text, kind) {
    const el = $('status');
    el.textContent = text;
    el.className = 'sub ' + (kind || '');
  }

  ChatWindow.start = async function (opts) {
    const cid = Zelto.query('cid');
    const textBox = $('text');
    const form = $('composer');
    let ended = false;
    let sending = false;

    if (!/^\d+$/.test(cid)) {
      setStatus('对话编号无效', 'bad');
      form.classList.add('disabled');
      return;
    }

    let subtitle = '';
    try {
      subtitle = await opts.prepare(cid);
    } catch (e) {
      setStatus('无法打开对话：' + e.message, 'bad');
      return;
    }
    setStatus(subtitle || '', 'ok');

    window.onPollState = function (state, error) {
      if (ended) return;
      if (state === 'ok') {
        setStatus(subtitle || '', 'ok');
      } else if (error && (error.status === 401 || error.status === 403)) {
        setStatus('登录已失效，请重新登录', 'bad');
      } else {
        setStatus('连接中断，正在重试…', 'warn');
      }
    };
    $('fresh-frame').src = '/frames/fresh.html?who=' + opts.who + '&cid=' + cid;

    function fresh() { return window.fresh; }

    async function post(text, adjunct) {
      const values = { cid, action: 'sub', msgContent: Zelto.escapeMessage(text),
                       adjunct: adjunct || '' };
      if (opts.who === 'operator') values.token = Zelto.token();
      const body = await Zelto.page(opts.postPath, Zelto.pageQuery(values));
      if (!body.trim()) throw new Error('消息未能保存');
      Zelto.runScript(body);  // the echo: window.top.fresh.chatmsglist.AddMsg('...')
      if (fresh() && fresh().pollNow) fresh().pollNow();
    }

    async function send(adjunct) {
      const text = textBox.value;
      if (ended || sending || (!text.trim() && !adjunct)) return;
      sending = true;
      $('send').disabled = true;
      try {
        await post(text, adjunct);
        textBox.value = '';
      } catch (e) {
        Zelto.toast('发送失败：' + e.message, 'bad');
      } finally {
        sending = false;
        $('send').disabled = false;
        textBox.focus();
      }
    }

    form.addEventListener('submit', (ev) => { ev.preventDefault(); send(''); });
    textBox.addEventListener('keydown', (ev) => {
      if (ev.key === 'Enter' && !ev.shiftKey && !ev.isComposing) {
        ev.preventDefault();
        send('');
      }
    });

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
      $('attachment').textContent = '正在上传 ' + file.name + '…';
      try {
        const stored = await Zelto.upload(file);
        $('attachment').textContent = '';
        await send(stored);
      } catch (e) {
        $('attachment').textContent = '';
        Zelto.toast('上传失败：' + e.message, 'bad');
      }
    });

    ChatWindow.end = async function () {
      if (ended) return;
      if (!window.confirm('确定要结束此对话吗？')) return;
      try {
        await Zelto.api('POST', '/api/conversation/end', { cid });
      } catch (e) {
        Zelto.toast('结束对话失败：' + e.message, 'bad');
        return;
      }
      ended = true;
      if (fresh() && fresh().stopPolling) fresh().stopPolling();
      form.classList.add('disabled');
      textBox.disabled = true;
      $('send').disabled = true;
      setStatus('对话已结束', 'warn');
    };
    $('end').addEventListener('click', ChatWindow.end);

    if (opts.ready) opts.ready(cid);
    textBox.focus();
  };

  window.ChatWindow = ChatWindow;
})();
