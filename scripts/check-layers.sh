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

declare -A uses  # "<layer> <lower layer>" for each lower layer a layer links against

check_includes() {
  local layer="$1" file line target first
  while IFS=: read -r file line target; do
    target="${target#*\"}"
    target="${target%%\"*}"
    first="${target%%/*}"
    [ "$first" = "$target" ] && continue  # a header beside the file or generated
    local where="${file#"$root"/}:$line"
    if [ -n "${rank[$first]+x}" ]; then
      if [ "$first" = "$layer" ]; then
        continue
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
      fault "$where: $layer includes $target of $first/, which is in no layer (scripts/check-layers.sh)"
    fi
  done < <(find "$root/$layer" -name node_modules -prune -o -type f \
             \( -name '*.h' -o -name '*.cc' \) -print0 |
           xargs -0 -r grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' || true)
}

check_links() {
  local layer="$1" lists pattern linked lower
  lists="$(find "$root/$layer" -name node_modules -prune -o -name CMakeLists.txt -print)"
  [ -n "$lists" ] || return 0
  pattern="\\bz($(IFS='|'; echo "${layers[*]}"))\\b"
  # Comments dropped; the layer's own library is no dependency.
  linked="$(sed 's/#.*//' $lists | grep -oE "$pattern" | sed 's/^z//' | sort -u |
            grep -vx "$layer" || true)"
  for lower in $linked; do
    if [ "${rank[$lower]}" -ge "${rank[$layer]}" ]; then
      fault "$layer/CMakeLists.txt links z$lower, which is not below $layer"
    elif [ -z "${uses["$layer $lower"]+x}" ]; then
      fault "$layer/CMakeLists.txt links z$lower, but no file of $layer includes a header of $lower"
    fi
  done
  for lower in "${layers[@]}"; do
    if [ -n "${uses["$layer $lower"]+x}" ] && ! grep -qx "$lower" <<<"$linked"; then
      fault "$layer/CMakeLists.txt does not link z$lower, whose headers $layer includes"
    fi
  done
}

for layer in "${layers[@]}"; do
  [ -d "$root/$layer" ] || continue
  check_includes "$layer"
  check_links "$layer"
done

if [ "$faults" -gt 0 ]; then
  order="$(printf '%s < ' "${layer_order[@]}" | sed 's/ < $//; s/\([a-z]\) \([a-z]\)/\1, \2/g')"
  echo "check-layers: $faults fault(s); the layers from the bottom up: $order" >&2
  exit 1
fi
echo "check-layers: ${#layers[@]} layers keep their order"
