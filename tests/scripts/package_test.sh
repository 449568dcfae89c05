#!/usr/bin/env bash
# The Debian package as an administrator gets it: made with CPack from the
# build folder, unpacked into a scratch root (dpkg-deb -x: nothing is
# installed on this machine), and the unpacked program run from there
# against a scratch state folder, with its shipped config file: version,
# libraries through its relative RPATH, module and pages from the unpacked
# tree, a page served, a clean stop. The unit is checked with
# systemd-analyze verify where the machine has it.
#   package_test.sh BUILD_DIR
set -euo pipefail

build="$(cd "$1" && pwd)"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/zelto-package-XXXXXX")"
server_pid=
cleanup() {
  cd /
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then kill -KILL "$server_pid"; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "package_test: FAIL: $*" >&2; exit 1; }
pass() { echo "package_test: ok: $*"; }

command -v dpkg-deb >/dev/null || { echo "package_test: skipped, no dpkg-deb"; exit 0; }

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >cpack.log 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb="$(ls "$scratch"/out/*.deb)"
[ "$(dpkg-deb -f "$deb" Package)" = zelto ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
pass "$(basename "$deb"), version $version, depends: $(dpkg-deb -f "$deb" Depends)"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/zelto/zelto.conf ||
  fail "zelto.conf is not a conffile"
for f in usr/bin/zelto usr/lib/zelto/libzplatform.so usr/lib/zelto/ZeltoCom.so \
         usr/share/zelto/www/index.html usr/lib/systemd/system/zelto.service \
         etc/zelto/zelto.conf usr/share/doc/zelto/copyright usr/share/doc/zelto/operations.md; do
  [ -e "$root/$f" ] || fail "no /$f in the package"
done
grep -q "MIT License" "$root/usr/share/doc/zelto/copyright" || fail "licence"
grep -q '^ExecStart=/usr/bin/zelto serve --config /etc/zelto/zelto.conf$' \
  "$root/usr/lib/systemd/system/zelto.service" || fail "the unit's ExecStart"
# Only relative RPATHs: nothing points into the build or source folder.
for f in usr/bin/zelto usr/lib/zelto/ZeltoCom.so usr/lib/zelto/libzplatform.so; do
  if readelf -d "$root/$f" | grep -E 'R(UN)?PATH' | grep -v '\$ORIGIN' | grep -q .; then
    fail "/$f has an absolute RPATH: $(readelf -d "$root/$f" | grep -E 'R(UN)?PATH')"
  fi
done
pass "layout, conffile, licence, unit, relative RPATHs"

# The unpacked program, with a scrubbed environment: no ZELTO_WWW, no
# registry of the user, run from a folder that is neither the source nor
# the build folder.
state="$scratch/state"
mkdir -p "$state"
cd "$state"
clean_env=(env -i PATH=/usr/bin:/bin HOME="$state" ZELTO_REGISTRY="$state/registry")
[ "$("${clean_env[@]}" "$root/usr/bin/zelto" --version)" = "zelto $version" ] ||
  fail "zelto --version"
"${clean_env[@]}" "$root/usr/bin/zelto" serve --config "$root/etc/zelto/zelto.conf" \
  --data "$state/data" --listen 127.0.0.1:0 >"$state/out" 2>&1 &
server_pid=$!
url=
for _ in $(seq 300); do
  url="$(sed -n 's|.*ZeltoCom chat site: \(http://[^ ]*\)$|\1|p' "$state/out")"
  [ -n "$url" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$url" ] || { cat "$state/out"; fail "the unpacked program did not start"; }
grep -q "component module $root/usr/lib/zelto/ZeltoCom.so (registered now)" "$state/out" ||
  { cat "$state/out"; fail "the module is not the unpacked one"; }
grep -q "pages from $root/usr/share/zelto/www" "$state/out" ||
  { cat "$state/out"; fail "the pages are not the unpacked ones"; }
[ "$(curl -s "${url}healthz")" = ok ] || fail "/healthz"
curl -s "$url" | grep -q "<html" || fail "the start page"
grep -q '"GET /healthz HTTP/1.1" 200' "$state/out" || fail "the access log line"
kill -TERM "$server_pid"
for _ in $(seq 200); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$server_pid" 2>/dev/null && fail "no stop within 20 s of SIGTERM"
wait "$server_pid" || fail "exit status $? after SIGTERM"
server_pid=
[ -f "$state/data/chat.db" ] && [ -f "$state/data/count.db" ] || fail "no databases in the state folder"
pass "the unpacked program served $url from its own files and stopped"

# The unit as shipped but for the program's path (the unpacked one): a
# directive systemd cannot parse is only a warning to it, so any word from
# verify fails the test.
if command -v systemd-analyze >/dev/null; then
  sed "s|^ExecStart=/usr/bin/zelto|ExecStart=$root/usr/bin/zelto|" \
    "$root/usr/lib/systemd/system/zelto.service" >"$scratch/zelto.service"
  if out="$(systemd-analyze verify "$scratch/zelto.service" 2>&1)" && [ -z "$out" ]; then
    pass "systemd-analyze verify"
  else
    echo "$out"
    fail "systemd-analyze verify"
  fi
else
  echo "package_test: systemd-analyze not here, the unit is not verified"
fi
