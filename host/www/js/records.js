// What the history, statistics and rating views share: times in the
// browser's own zone, a date field's day as seconds, scores as stars.
(function () {
  'use strict';

  const Records = {};

  Records.dateTime = function (seconds) {
    return seconds ? new Date(seconds * 1000).toLocaleString() : '';
  };

  // The start of the local day "YYYY-MM-DD", in seconds since 1970.
  Records.dayStart = function (day) {
    const [y, m, d] = day.split('-').map(Number);
    return Math.floor(new Date(y, m - 1, d).getTime() / 1000);
  };

  // The local day `daysAgo` days before today, as a date field's value.
  Records.dayValue = function (daysAgo) {
    const at = new Date();
    at.setDate(at.getDate() - daysAgo);
    const pad = (n) => String(n).padStart(2, '0');
    return at.getFullYear() + '-' + pad(at.getMonth() + 1) + '-' + pad(at.getDate());
  };

  Records.stars = function (score) {
    return '★'.repeat(score) + '☆'.repeat(5 - score);
  };

  // Seconds as "1 min 5 s".
  Records.duration = function (seconds) {
    if (seconds < 60) return t('stats.seconds', { n: seconds });
    const m = Math.floor(seconds / 60);
    const s = seconds % 60;
    return s ? t('stats.minutesSeconds', { m, s }) : t('stats.minutes', { m });
  };

  window.Records = Records;
})();
