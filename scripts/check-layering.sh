#!/usr/bin/env bash
# Fails on an #include that runs against the layering:
#   deck -> archive -> audio -> tape -> transport -> platform, console -> audio
# with archive/ (a tape into a package) also above tape/ directly, dat/ (the frame decoder) usable from tape upwards and depending on nothing, sim/ (the
# virtual drive) seen only by app/, tests and bench, and app/ free to use everything.
# Usage: check-layering.sh [SRC_DIR]   (default: the src/ beside this script)
set -euo pipefail

src=${1:-"$(dirname "$0")/../src"}
[ -d "$src" ] || { echo "check-layering: no folder $src" >&2; exit 2; }

# What each folder may include besides itself (platform/* folders count as "platform").
allowed() {
  case "$1" in
    platform) echo "platform" ;;
    dat)      echo "" ;;
    transport) echo "platform" ;;
    tape)     echo "transport platform dat" ;;
    audio)    echo "tape transport platform dat" ;;
    archive)  echo "audio tape transport platform dat" ;;
    deck)     echo "archive audio tape transport platform dat" ;;
    console)  echo "audio tape transport platform dat" ;;
    sim)      echo "platform dat" ;;
    app)      echo "*" ;;
    *)        echo "?" ;;
  esac
}

status=0
while IFS= read -r -d '' file; do
  rel=${file#"$src"/}
  from=${rel%%/*}
  rules=$(allowed "$from")
  if [ "$rules" = "?" ]; then
    echo "check-layering: $rel: folder '$from' has no place in the layering" >&2
    status=1
    continue
  fi
  [ "$rules" = "*" ] && continue
  while IFS=: read -r line target; do
    to=${target%%/*}
    [ "$to" = "$from" ] && continue
    case " $rules " in
      *" $to "*) ;;
      *) echo "check-layering: $rel:$line includes \"$target\": $from/ may not depend on $to/" >&2
         status=1 ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' "$file" |
           sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/' || true)
done < <(find "$src" -type f \( -name '*.cpp' -o -name '*.h' \) -print0)

[ $status -eq 0 ] && echo "check-layering: every include runs downward"
exit $status
