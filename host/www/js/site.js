// The demo company site: the "chat with us" button, and the invitation box
// that shows when an operator invites this visitor from the console.
(function () {
  'use strict';
  const INVITATION_MS = 5000;
  const box = document.getElementById('invite-box');
  let offered = false;   // the box is showing for the current invitation

  // Opens the chat window at once (a popup needs the click) and points it at
  // the conversation when the host has opened it.
  // With nobody online no chat opens (cid 0): the window offers the
  // leave-a-message form instead.
  async function openChat(startChat) {
    const win = window.open('', 'zeltochat', 'width=560,height=640');
    try {
      const cid = await startChat();
      const url = cid ? '/visitor/chat.html?cid=' + encodeURIComponent(cid)
                      : '/visitor/message.html';
      if (win) win.location.href = url; else window.location.href = url;
    } catch (e) {
      if (win) win.close();
      Zelto.toast(e.status === 503 ? t('site.noOperator')
                                   : t('site.cannotConnect', { reason: e.message }), 'bad');
    }
  }

  document.getElementById('chat-button').addEventListener('click', () => {
    openChat(async () => (await Zelto.api('POST', '/api/visitor/chat')).cid);
  });

  function showInvitation(state) {
    const list = document.getElementById('invite-messages');
    list.replaceChildren();
    for (const text of state.messages || []) {
      const p = document.createElement('p');
      p.textContent = text;
      list.appendChild(p);
    }
    if (!list.children.length) {
      const p = document.createElement('p');
      p.textContent = t('site.defaultInvitation');
      list.appendChild(p);
    }
    box.classList.remove('hidden');
    offered = true;
  }

  async function checkInvitation() {
    try {
      const state = await Zelto.api('GET', '/api/visitor/invitation');
      if (state.invited === 1) showInvitation(state);
      else if (offered) { box.classList.add('hidden'); offered = false; }
    } catch (e) { /* the next check will do */ }
    setTimeout(checkInvitation, INVITATION_MS);
  }

  document.getElementById('invite-accept').addEventListener('click', () => {
    box.classList.add('hidden');
    offered = false;
    openChat(async () => {
      const answer = await Zelto.api('POST', '/api/visitor/invitation', { accept: 1 });
      if (answer.cid) return answer.cid;
      return (await Zelto.api('GET', '/api/visitor/invitation')).cid;
    });
  });
  document.getElementById('invite-refuse').addEventListener('click', async () => {
    box.classList.add('hidden');
    offered = false;
    try { await Zelto.api('POST', '/api/visitor/invitation', { accept: 0 }); } catch (e) { /* shown again if it did not take */ }
  });

  checkInvitation();
})();
