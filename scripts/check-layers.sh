#!/usr/bin/env bash
# Keeps the dependencies pointing down. A file of a layer may include headers
# of its own layer and of the layers below it, never of a layer above it nor
# of a peer on its own level; product code never includes tests/, bench/ or
# fuzz/ (those three may include anything). Each layer's CMakeLists.txt links
# exactly the layer libraries (z<layer>) below it whose headers its files
# include: no more, so that a link list cannot hide an upward dependency, and
# no fewer, so that no layer leans on what another one happens to link.
#
#   scripts/check-layers.sh [ROOT]
#
# Exit status 0 when the tree keeps the order; 1 with one line per fault on
# stderr otherwise.
set -euo pipefail

root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

# The layers from the bottom up. Layers on one line are peers: they sit on the
# same level and never include each other.
layer_order=(
  "platform"
  "db text"
  "page"
  "chat console"
  "component"
  "host"
)
# Folders outside the product, free to include anything.
free_folders="tests bench fuzz"
# The schema scripts under db/schema are compiled into the programs that
# create databases, not linked as zdb; including them is not a use of zdb.
unlinked_include="db/schema/"

declare -A rank
layers=()
for level in "${!layer_order[@]}"; do
  for layer in ${layer_order[$level]}; do
    rank[$layer]=$level
    layers+=("$layer")
  done
done

faults=0
fault() {
  echo "check-layers: $*" >&2
  faults=$((faults + 1))
}

declare -A uses    # "<layer> <lower layer>": a layer includes headers of a lower one
declare -A linked  # "<layer> <layer>": a layer's CMakeLists.txt names that library

# The layer folders that exist, searched once (process starts are the cost).
folders=()
for layer in "${layers[@]}"; do
  [ -d "$root/$layer" ] && folders+=("$root/$layer")
done
[ ${#folders[@]} -gt 0 ] || { echo "check-layers: no layer folder below $root" >&2; exit 1; }

check_include() {  # check_include LAYER WHERE TARGET
  local layer="$1" where="$2" target="$3" first="${3%%/*}"
  [ "$first" = "$target" ] && return 0  # a header beside the file, or a generated one
  if [ -n "${rank[$first]+x}" ]; then
    if [ "$first" = "$layer" ]; then
      return 0
    elif [ "${rank[$first]}" -gt "${rank[$layer]}" ]; then
      fault "$where: $layer includes $target of the higher layer $first"
    elif [ "${rank[$first]}" -eq "${rank[$layer]}" ]; then
      fault "$where: $layer includes $target of its peer $first"
    elif [[ "$target" != "$unlinked_include"* ]]; then
      uses["$layer $first"]=1
    fi
  elif [[ " $free_folders " == *" $first "* ]]; then
    fault "$where: $layer includes $target; product code never includes $first/"
  elif [ -d "$root/$first" ]; then
    fault "$where: $layer includes $target of $first/, which is in no layer of layer_order"
  fi
}

while IFS=: read -r file line text; do
  path="${file#"$root"/}"
  target="${text#*\"}"
  check_include "${path%%/*}" "$path:$line" "${target%%\"*}"
done < <(find "${folders[@]}" -name node_modules -prune -o -type f \
           \( -name '*.h' -o -name '*.cc' \) -print0 |
         xargs -0 -r grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' || true)

# Every z<layer> named in the layers' CMakeLists.txt files, comments dropped.
declare -A has_lists
library_words="^z($(IFS='|'; echo "${layers[*]}"))\$"
while IFS=: read -r file library; do
  path="${file#"$root"/}"
  has_lists["${path%%/*}"]=1
  [ -n "$library" ] && linked["${path%%/*} ${library#z}"]=1
done < <(find "${folders[@]}" -name node_modules -prune -o -name CMakeLists.txt -print0 |
         xargs -0 -r awk -v words="$library_words" '
           FNR == 1 { print FILENAME ":" }
           { sub(/#.*/, ""); n = split($0, w, /[^A-Za-z0-9_]+/)
             for (i = 1; i <= n; ++i) if (w[i] ~ words) print FILENAME ":" w[i] }')

for layer in "${!has_lists[@]}"; do
  for other in "${layers[@]}"; do
    [ "$other" = "$layer" ] && continue
    if [ -n "${linked["$layer $other"]+x}" ]; then
      if [ "${rank[$other]}" -ge "${rank[$layer]}" ]; then
        fault "$layer/CMakeLists.txt links z$other, which is not below $layer"
      elif [ -z "${uses["$layer $other"]+x}" ]; then
        fault "$layer/CMakeLists.txt links z$other, but no file of $layer includes a header of $other"
      fi
    elif [ -n "${uses["$layer $other"]+x}" ]; then
      fault "$layer/CMakeLists.txt does not link z$other, whose headers $layer includes"
    fi
  done
done

if [ "$faults" -gt 0 ]; then
  order="$(printf '%s < ' "${layer_order[@]}" | sed 's/ < $//; s/\([a-z]\) \([a-z]\)/\1, \2/g')"
  echo "check-layers: $faults fault(s); the layers from the bottom up: $order" >&2
  exit 1
fi
echo "check-layers: ${#layers[@]} layers keep their order"
