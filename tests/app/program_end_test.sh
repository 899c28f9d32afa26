#!/usr/bin/env bash
# How the deck program ends under a real X server (the xcb platform): closing the deck with
# the console open, File, Exit and SIGTERM after a menu was opened, and SIGTERM during Play and Save.
# Also that Qt's own options (-style) are taken. Each case checks the exit status; the capture case also checks that Audio48.wav got its
# sizes. Starts its own Xvfb on a free display; every wait is bounded.
# Usage: program_end_test.sh VANTREL CLOSE_WINDOW
set -u

vantrel=$(realpath "$1")
close_window=$(realpath "$2")
if [ ! -x "$vantrel" ] || [ ! -x "$close_window" ]; then
  echo "FAIL: $1 or $2 is not a program"
  exit 1
fi
for tool in Xvfb xdotool timeout; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# -displayfd: Xvfb picks a free display and writes its number once it accepts clients.
coproc XVFB { exec Xvfb -displayfd 1 -noreset -nolisten tcp -screen 0 1024x768x24 2>"$work/xvfb.log"; }
xvfb_pid=$XVFB_PID
if ! read -r -t 30 -u "${XVFB[0]}" display; then
  echo "FAIL: Xvfb did not start"
  cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb
unset QT_QPA_PLATFORMTHEME
# In a sanitizer build, a leak report would replace the exit status under test here; the
# unit tests look for leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

# Starts the program in a fresh working directory; a hung program is killed after 30 s.
# Sets $pid (the timeout wrapper, which passes signals on) and $dir.
start() {
  dir=$(mktemp -d "$work/run.XXXX")
  (cd "$dir" && exec timeout -s KILL 30 "$vantrel" --simulate --audio-device=null "$@" >"$dir/out.log" 2>&1) &
  pid=$!
}

# Waits (bounded) for a visible window whose name matches the pattern; prints its id.
window() {
  timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1
}

# Waits (bounded) for an open menu: a visible window of the deck's process without a name.
menu_open() {
  local owner
  owner=$(xdotool getwindowpid "$deck" 2>/dev/null) || return 1
  timeout 10 xdotool search --sync --all --onlyvisible --pid "$owner" --name '^$' >/dev/null 2>&1
}

# The exit status of the program started last.
finish() {
  wait "$pid"
  status=$?
}

expect_status() {
  local name=$1 want=$2
  if [ "$status" -eq "$want" ]; then
    echo "ok: $name: exit status $status"
  else
    fail "$name: exit status $status, expected $want"
    cat "$dir/out.log"
  fi
}

# A finished WAV file: the RIFF size is the file's size less 8, the data size less 44.
expect_sizes_fixed() {
  local name=$1 file="$dir/Audio48.wav"
  if [ ! -s "$file" ]; then
    fail "$name: no Audio48.wav"
    return
  fi
  local size riff data
  size=$(stat -c %s "$file")
  riff=$(od -An -t u4 -j 4 -N 4 "$file" | tr -d ' ')
  data=$(od -An -t u4 -j 40 -N 4 "$file" | tr -d ' ')
  if [ "$size" -gt 44 ] && [ "$riff" -eq $((size - 8)) ] && [ "$data" -eq $((size - 44)) ]; then
    echo "ok: $name: Audio48.wav of $size bytes has its sizes"
  else
    fail "$name: Audio48.wav of $size bytes has RIFF size $riff and data size $data"
  fi
}

# 1. The deck's close button with the console open ends the program.
close_with_console() {
  start --console
  deck=$(window '^Vantrel$')
  console=$(window '^Main Form$')
  if [ -z "$deck" ] || [ -z "$console" ]; then
    fail "close with the console open: the windows did not appear"
    kill -KILL "$pid" 2>/dev/null
  else
    "$close_window" "$deck"
  fi
  finish
  expect_status "close with the console open" 0
}

# Starts the deck alone and waits for it; false (the program ended) when it did not appear.
start_deck() {
  start
  deck=$(window '^Vantrel$')
  [ -n "$deck" ] && return 0
  fail "$1: the deck did not appear"
  kill -KILL "$pid" 2>/dev/null
  finish
  return 1
}

# 2. File, Exit after a menu has been opened (the menus' windows exist then).
file_exit_after_menu() {
  start_deck "File, Exit" || return
  xdotool windowfocus --sync "$deck" key alt+o
  menu_open || fail "File, Exit: the Options menu did not open"
  xdotool key Escape key Escape key alt+f
  menu_open || fail "File, Exit: the File menu did not open"
  xdotool key x
  finish
  expect_status "File, Exit after opening a menu" 0
}

# 3. SIGTERM after a menu has been opened: 128 + 15.
sigterm_after_menu() {
  start_deck "SIGTERM" || return
  xdotool windowfocus --sync "$deck" key alt+h
  menu_open || fail "SIGTERM: the Help menu did not open"
  xdotool key Escape
  kill -TERM "$pid"
  finish
  expect_status "SIGTERM after opening a menu" 143
}

# The size of the capture file being written (Audio48.wav.part until it is finished), 0 when
# there is none.
wav_size() { stat -c %s "$dir/Audio48.wav.part" 2>/dev/null || echo 0; }
running() { kill -0 "$pid" 2>/dev/null; }

# 4. SIGTERM during Play and Save: 128 + 15, and the capture file is finished.
sigterm_during_capture() {
  start_deck "SIGTERM during Play and Save" || return
  xdotool windowfocus --sync "$deck" key alt+o
  menu_open || fail "SIGTERM during Play and Save: the Options menu did not open"
  xdotool key s
  # Play, at the middle of cmdPlay (client (16, 168), 41 x 25; the client area is 249 high,
  # below the menu bar). The deck becomes Ready after its lamp test and first poll: press
  # until the capture file appears, then wait for its first play buffer (172800 bytes) of
  # audio; looking every tenth of a second, for at most 20 s each.
  local menubar
  menubar=$(( $(xwininfo -id "$deck" | awk '/Height:/ {print $2}') - 249 ))
  for _ in $(seq 1 200); do
    [ -e "$dir/Audio48.wav.part" ] || ! running && break
    xdotool mousemove --window "$deck" 36 $((menubar + 180)) click 1 2>/dev/null
    sleep 0.1
  done
  for _ in $(seq 1 200); do
    [ "$(wav_size)" -ge $((44 + 172800)) ] || ! running && break
    sleep 0.1
  done
  if [ "$(wav_size)" -ge $((44 + 172800)) ]; then
    kill -TERM "$pid"
  else
    fail "SIGTERM during Play and Save: the capture did not start"
    kill -KILL "$pid" 2>/dev/null
  fi
  finish
  expect_status "SIGTERM during Play and Save" 143
  expect_sizes_fixed "SIGTERM during Play and Save"
  if [ -e "$dir/Audio48.wav.part" ]; then
    fail "SIGTERM during Play and Save: Audio48.wav.part was left beside the finished file"
  fi
}

# 5. Qt's own options go to Qt: the deck starts with them, and its close button ends it.
qt_options() {
  start -style fusion -stylesheet=/dev/null
  deck=$(window '^Vantrel$')
  if [ -z "$deck" ]; then
    fail "Qt's options: the deck did not appear"
    kill -KILL "$pid" 2>/dev/null
  else
    "$close_window" "$deck"
  fi
  finish
  expect_status "-style fusion -stylesheet=/dev/null" 0
}

close_with_console
qt_options
file_exit_after_menu
sigterm_after_menu
sigterm_during_capture
[ "$failures" -eq 0 ]
