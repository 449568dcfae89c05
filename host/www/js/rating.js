// The visitor's last step of a chat: a rating of 1 to 5 stars with an
// optional comment (taken once; the site refuses a second one), and the
// transcript to keep, as plain text or HTML.
(function () {
  'use strict';

  const Rating = {};

  function $(id) { return document.getElementById(id); }

  function done(key) {
    $('rating-form').classList.add('hidden');
    I18n.set($('rating-done'), key);
    $('rating-done').classList.remove('hidden');
  }

  Rating.offer = function (cid) {
    const panel = $('rating');
    if (!panel || !panel.classList.contains('hidden')) return;
    const base = '/api/visitor/transcript?cid=' + encodeURIComponent(cid);
    $('transcript-text').href = base + '&format=text&download=1';
    $('transcript-html').href = base + '&format=html&download=1';
    let score = 0;
    const stars = $('stars');
    stars.replaceChildren();
    for (let n = 1; n <= 5; n++) {
      const star = document.createElement('button');
      star.type = 'button';
      star.textContent = '☆';
      star.dataset.score = n;
      star.setAttribute('role', 'radio');
      star.setAttribute('aria-label', t('rating.stars', { n }));
      star.addEventListener('click', () => {
        score = n;
        for (const s of stars.children) {
          const on = Number(s.dataset.score) <= n;
          s.textContent = on ? '★' : '☆';
          s.setAttribute('aria-checked', String(Number(s.dataset.score) === n));
        }
        $('rating-send').disabled = false;
      });
      stars.appendChild(star);
    }
    $('rating-send').disabled = true;
    $('rating-form').onsubmit = async (ev) => {
      ev.preventDefault();
      if (!score) return;
      try {
        await Zelto.api('POST', '/api/visitor/rating',
                        { cid, score, comment: $('rating-comment').value });
        done('rating.thanks');
      } catch (e) {
        if (e.status === 409) done('rating.already');
        else Zelto.toast(t('rating.failed', { reason: e.message }), 'bad');
      }
    };
    panel.classList.remove('hidden');
  };

  window.Rating = Rating;
})();
