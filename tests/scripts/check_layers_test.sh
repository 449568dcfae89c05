#!/usr/bin/env bash
# scripts/check-layers.sh on small trees of its own: a tree that keeps the
# order passes, and each kind of fault (an upward include, a peer include, a
# link list that hides or misses a dependency, product code reaching into
# tests/) fails with a line that names it.
set -euo pipefail

check="$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

put() {  # put FILE LINE...: writes the lines to FILE below the tree
  local file="$1" dir="$tree/${1%/*}"
  shift
  [ -d "$dir" ] || mkdir -p "$dir"
  printf '%s\n' "$@" >"$tree/$file"
}

# Every layer, each using the one below it the way the product does.
make_base_tree() {
  tree="$work/base"
  put platform/CMakeLists.txt 'add_library(zplatform SHARED ${SOURCES})'
  put platform/win/codepage.h '#pragma once'
  put platform/com/bstr.h '#pragma once' '#include "platform/win/codepage.h"'
  put db/CMakeLists.txt 'zelto_layer(zdb db zplatform)'
  put db/db_connection.h '#include "platform/com/bstr.h"'
  put db/schema/schema_scripts.h '#pragma once'
  put text/CMakeLists.txt 'zelto_layer(ztext text zplatform)'
  put text/html_escape.h '#include <string>' '#include "platform/win/codepage.h"'
  put page/CMakeLists.txt 'zelto_layer(zpage page zdb zplatform)'
  put page/page_context.h '#include "db/db_connection.h"' '#include "platform/com/bstr.h"'
  put chat/CMakeLists.txt '# zconsole is a peer: never linked' \
    'zelto_layer(zchat chat zpage ztext zdb)'
  put chat/polling.cc '#include "chat/polling.h"' '#include "page/page_context.h"' \
    '#include "text/html_escape.h"' '#include "db/db_connection.h"' '#include "generated.h"'
  put chat/polling.h '#pragma once'
  put console/CMakeLists.txt 'zelto_layer(zconsole console zpage)'
  put console/client_list.cc '  #  include "page/page_context.h"'
  put component/CMakeLists.txt 'set(DEPS zconsole zchat zplatform)' \
    'add_library(zcomponent ${DEPS})'
  put component/zelto_com.cc '#include "chat/polling.h"' '#include "console/client_list.h"' \
    '#include "platform/com/bstr.h"'
  put host/CMakeLists.txt 'add_executable(zelto ${HOST_SOURCES})' \
    'target_link_libraries(zelto zplatform)'
  put host/main.cc '#include "platform/com/bstr.h"' '#include "db/schema/schema_scripts.h"'
  put tests/chat/polling_test.cc '#include "host/main.h"' '#include "component/zelto_com.h"'
}
make_base_tree

make_tree() {  # make_tree NAME: a copy of the base tree to break
  tree="$work/$1"
  cp -r "$work/base" "$tree"
}

failures=0
# expect NAME STATUS [TEXT]: runs the check on tree NAME; the exit status must
# be STATUS and, when given, TEXT must be in its error output.
expect() {
  local name="$1" want="$2" text="${3:-}" status=0
  bash "$check" "$work/$name" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  if [ "$status" -ne "$want" ]; then
    echo "FAIL $name: exit status $status, expected $want" >&2
    cat "$work/$name.err" >&2
    failures=$((failures + 1))
  elif [ -n "$text" ] && ! grep -qF -- "$text" "$work/$name.err"; then
    echo "FAIL $name: no \"$text\" in:" >&2
    cat "$work/$name.err" >&2
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

make_tree clean
expect clean 0

make_tree upward
put db/db_connection.h '#include "page/page_context.h"'
expect upward 1 'db/db_connection.h:1: db includes page/page_context.h of the higher layer page'

make_tree text_above_db
put text/html_escape.h '#include "db/db_connection.h"'
expect text_above_db 1 'text includes db/db_connection.h of its peer db'

make_tree peer
put console/client_list.cc '#include "page/page_context.h"' '#include "chat/polling.h"'
expect peer 1 'console/client_list.cc:2: console includes chat/polling.h of its peer chat'

make_tree linked_peer
put console/CMakeLists.txt 'zelto_layer(zconsole console zpage zchat)'
expect linked_peer 1 'console/CMakeLists.txt links zchat, which is not below console'

make_tree unused_link
put console/CMakeLists.txt 'zelto_layer(zconsole console zpage zdb)'
expect unused_link 1 'links zdb, but no file of console includes a header of db'

make_tree missing_link
put chat/CMakeLists.txt 'zelto_layer(zchat chat zpage zdb)'
expect missing_link 1 'chat/CMakeLists.txt does not link ztext, whose headers chat includes'

make_tree into_tests
put host/main.cc '#include "tests/support/test_page.h"'
expect into_tests 1 'product code never includes tests/'

make_tree unknown_folder
mkdir -p "$tree/util"
put chat/polling.h '#include "util/strings.h"'
expect unknown_folder 1 'util/, which is in no layer'

if [ "$failures" -gt 0 ]; then
  echo "$failures case(s) failed" >&2
  exit 1
fi
