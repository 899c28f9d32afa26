#!/usr/bin/env bash
# The layering check must fail, naming the file and the include, for each kind of upward
# include; a copy of the source tree gets one at a time.
set -euo pipefail
check=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

expect_caught() {  # file-to-edit include-line expected-text
  rm -rf "$work/src" && cp -r "$src" "$work/src"
  echo "#include \"$2\"" >> "$work/src/$1"
  if out=$("$check" "$work/src" 2>&1); then
    echo "not caught: $1 including $2"; exit 1
  fi
  grep -qF "$3" <<<"$out" || { echo "wrong report for $1 including $2: $out"; exit 1; }
}

expect_caught tape/positioning.cpp deck/frm_deck.h "tape/ may not depend on deck/"
expect_caught transport/srb.cpp tape/unit_mode.h "transport/ may not depend on tape/"
expect_caught platform/aspi/manager.cpp transport/srb.h "platform/ may not depend on transport/"
expect_caught audio/capture.cpp sim/drive.h "audio/ may not depend on sim/"
expect_caught console/frm_main.cpp deck/frm_deck.h "console/ may not depend on deck/"
expect_caught audio/capture.cpp archive/archive.h "audio/ may not depend on archive/"
expect_caught archive/package.cpp deck/archive_window.h "archive/ may not depend on deck/"
expect_caught console/frm_main.cpp archive/archive.h "console/ may not depend on archive/"
echo "every upward include was caught"
