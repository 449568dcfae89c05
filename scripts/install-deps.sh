#!/usr/bin/env bash
# Installs the Debian packages (Debian 12, bookworm) a task needs, and only
# those that are missing. Quiet when everything is already present.
#   install-deps.sh        what building and running the site need
#   install-deps.sh test   that and the test tools: GoogleTest and Google
#                          Benchmark, clang for fuzzing, the PostgreSQL
#                          server, chromium and the browser test's Node
#                          packages, dpkg-dev for the package test
set -euo pipefail

what="${1:-build}"
case "$what" in build|test) ;; *) echo "usage: $0 [build|test]" >&2; exit 2 ;; esac

packages=(
  g++ cmake ninja-build make pkg-config
  libsqlite3-dev
  libcurl4-openssl-dev
  libffi-dev
  # Boost: Asio and Beast for the HTTP host, Boost.JSON for its answers (its
  # compiled part built with the host from boost/json/src.hpp, so no separate
  # libboost-json package or run-time library is needed).
  libboost1.81-dev libcrypt-dev libssl-dev
  libpq-dev
  # zlib: the host's gzip answers.
  zlib1g-dev
)
if [ "$what" = test ]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    sqlite3 curl
    postgresql-15 postgresql-contrib
    # Fonts for the screenshots of the browser tests: Chinese, the other
    # scripts (Arabic, Devanagari, Hangul, ...) and colour emoji.
    chromium chromium-driver fonts-wqy-microhei fonts-noto-core fonts-noto-color-emoji
    dpkg-dev
    # The load balancer in front of two hosts in the PostgreSQL host tests.
    nginx-light
    # The webhook browser test's self-signed certificate.
    openssl
  )
  # Node.js and npm for the browser test, from Debian when the machine has none.
  command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ "$what" = test ] || exit 0
# The browser test's playwright-core, from tests/e2e/package-lock.json. It
# drives Debian's chromium: no browser is downloaded.
e2e="$(cd "$(dirname "$0")/.." && pwd)/tests/e2e"
if [ ! -f "$e2e/node_modules/playwright-core/package.json" ]; then
  echo "install-deps: installing the browser test's npm packages"
  (cd "$e2e" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi
