#!/usr/bin/env bash
# The console at many online visitors: what one operator's visitor-list
# refresh costs on the wire and in time, with N `onlineCst` rows of the
# operator's company (default 10,000). Three ways: as the component writes
# it (no Accept-Encoding), gzip (the browser's Accept-Encoding), and an
# unchanged list ("not modified" to the tag the console remembers). The
# console refreshes every 5 s, so bytes per operator per second are a fifth
# of a refresh. Ends with "RESULT|10|..." lines for bench/run.sh.
#
#   bench/console_list.sh BUILD_DIR [VISITORS]
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
visitors="${2:-10000}"
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
command -v sqlite3 >/dev/null || { echo "console_list: skipped, no sqlite3" >&2; exit 0; }

# shellcheck source=bench/serve_lib.sh
source "$here/serve_lib.sh"
bench_scratch console
export ZELTO_REGISTRY="$scratch/registry"

port="$(free_port)"
start_zelto "$port"
# Visitors as the site records them: label, name, region, pages, keywords.
sqlite3 "$scratch/data-$port/chat.db" <<SQL
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $visitors)
INSERT INTO onlineCst (cstLabel, NickName, CompanyID, visittime, beChatting, Invited,
                       searchkey, sourcepage, csarea, IP)
SELECT 'V2026120812' || printf('%08d', i), '访客' || i, 1, datetime('now', '-' || (i % 3600) || ' seconds'),
       0, i % 3, CASE WHEN i % 4 = 0 THEN '在线客服 价格' ELSE '' END,
       'http://www.example.com/products/item-' || (i % 500) || '.html?from=search&page=' || (i % 7),
       CASE i % 3 WHEN 0 THEN '北京' WHEN 1 THEN '上海' ELSE '广东 深圳' END,
       '10.' || (i / 65536) || '.' || (i / 256 % 256) || '.' || (i % 256)
FROM n;
SQL
read -r session _ <<<"$(operator_session "$port")"
url="http://127.0.0.1:$port/operator/GetClientList.asp?companyid=1"

# fetch [curl options...]: "STATUS BYTES_ON_THE_WIRE SECONDS" of one refresh.
fetch() {
  curl -s -o /dev/null -b "ZSESSIONID=$session" "$@" \
    -w '%{http_code} %{size_download} %{size_header} %{time_total}\n' "$url" |
    awk '{ printf "%s %d %s\n", $1, $2 + $3, $4 }'
}
# median ROUNDS [curl options...]: "BYTES MEDIAN_SECONDS" over ROUNDS refreshes.
median() {
  local rounds="$1"
  shift
  for _ in $(seq 1 "$rounds"); do fetch "$@"; done | sort -k3 -n |
    awk '{ b = $2; t[NR] = $3 } END { printf "%d %s\n", b, t[int((NR + 1) / 2)] }'
}

read -r plain_bytes plain_s <<<"$(median 7)"
read -r gzip_bytes gzip_s <<<"$(median 7 -H 'Accept-Encoding: gzip, deflate, br')"
tag="$(curl -s -o /dev/null -D - -b "ZSESSIONID=$session" "$url" | awk 'tolower($1) == "etag:" { print $2 }' | tr -d '\r')"
read -r status same_bytes same_s <<<"$(fetch -H "If-None-Match: $tag" -H 'Accept-Encoding: gzip')"
[ "$status" = 304 ] || { echo "console_list: an unchanged list answered $status, not 304" >&2; exit 1; }

echo "== console_list: one operator's visitor list at $visitors online visitors"
awk -v v="$visitors" -v pb="$plain_bytes" -v ps="$plain_s" -v gb="$gzip_bytes" -v gs="$gzip_s" \
    -v sb="$same_bytes" 'BEGIN {
  printf "as written %d bytes in %.0f ms; gzip %d bytes in %.0f ms; unchanged (304) %d bytes\n", pb, ps * 1000, gb, gs * 1000, sb
  printf "RESULT|10|console at %d visitors, list changed every refresh (gzip), per operator at a 5 s refresh|%.1f KB/s|%.1f KB/s as written|%.3f|<50\n", v, gb / 5 / 1000, pb / 5 / 1000, gb / pb
  printf "RESULT|10|console at %d visitors, list unchanged (304), per operator at a 5 s refresh|%.2f KB/s|%.1f KB/s as written|%.5f|<50\n", v, sb / 5 / 1000, pb / 5 / 1000, sb / pb
  printf "RESULT|10|console at %d visitors, time of one refresh over loopback (median of 7), gzip vs as written|%.0f ms|%.0f ms|%.2f|-\n", v, gs * 1000, ps * 1000, gs / ps
}'
