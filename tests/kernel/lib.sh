# Shell functions for the kernel scenarios (busybox sh in the guest). Each check prints
# exactly one line, "PASS name" or "FAIL name: why" (so a name holds no ": "); `finish` ends
# the script with status 1 when any check failed. Source it: . /usr/local/lib/kernel-tests/lib.sh

_failed=0
_checks=0

pass() { _checks=$((_checks + 1)); echo "PASS $1"; }
fail() { _checks=$((_checks + 1)); _failed=$((_failed + 1)); echo "FAIL $1: $2"; }

# check NAME COMMAND...: passes when the command succeeds.
check() {
    _name=$1; shift
    if "$@" > /dev/null 2>&1; then pass "$_name"; else fail "$_name" "not true: $*"; fi
}

# expect_rc NAME WANTED ACTUAL (WANTED may be a list: "1 2")
expect_rc() {
    for _w in $2; do
        [ "$3" = "$_w" ] && { pass "$1"; return; }
    done
    fail "$1" "exit status $3, wanted $2"
}

# expect_grep NAME PATTERN FILE: an extended regular expression that must match a line.
expect_grep() {
    if grep -qE -- "$2" "$3" 2>/dev/null; then pass "$1"; else fail "$1" "no line matches /$2/ in ${3##*/}"; fi
}

# expect_no_grep NAME PATTERN FILE: a pattern that must match no line.
expect_no_grep() {
    if ! [ -e "$3" ]; then fail "$1" "${3##*/} is missing"; return; fi
    _line=$(grep -E -m1 -- "$2" "$3")
    if [ -z "$_line" ]; then pass "$1"; else fail "$1" "unwanted line in ${3##*/}: $_line"; fi
}

# expect_count NAME PATTERN FILE LOW HIGH: how many lines match, within LOW..HIGH.
expect_count() {
    _n=$(grep -cE -- "$2" "$3" 2>/dev/null); _n=${_n:-0}
    if [ "$_n" -ge "$4" ] && [ "$_n" -le "$5" ]; then pass "$1"
    else fail "$1" "$_n lines match /$2/ in ${3##*/}, wanted $4..$5"; fi
}

# expect_between NAME VALUE LOW HIGH: a number (seconds, say) within LOW..HIGH.
expect_between() {
    if awk -v v="$2" -v l="$3" -v h="$4" 'BEGIN { exit !(v + 0 >= l && v + 0 <= h) }'; then pass "$1"
    else fail "$1" "$2 is not within $3..$4"; fi
}

# Seconds since boot, with hundredths.
now() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v s="$1" -v e="$(now)" 'BEGIN { printf "%.2f", e - s }'; }

# run NAME COMMAND...: runs the command with stdout and stderr in /tmp/NAME.out (also shown,
# indented), its exit status in RC and its duration in SECS.
run() {
    _out=/tmp/$1.out; shift
    _t0=$(now)
    "$@" > "$_out" 2>&1
    RC=$?
    SECS=$(since "$_t0")
    echo "### $* -> rc=$RC in ${SECS} s"
    sed 's/^/    /' "$_out"
}

# run_signalled NAME PLAN COMMAND...: as run, but a helper sends the command the signals of
# PLAN ("INT@1 INT@1.5 ...": signal and seconds after the start). The command runs in the
# foreground: a script's background job starts with SIGINT ignored, which a Ctrl-C at a
# terminal never meets. SIG1 holds when the first signal went (seconds after the start;
# empty when none went), AFTER how long the command ran on after it.
run_signalled() {
    _out=/tmp/$1.out; _plan=$2; shift 2
    _fifo=/tmp/.signalled.$$
    rm -f "$_fifo" /tmp/.signalled.log; mkfifo "$_fifo"
    _t0=$(now)
    (
        read -r _pid < "$_fifo"
        for _p in $_plan; do
            _sig=${_p%@*}; _at=${_p#*@}
            sleep "$(awk -v t0="$_t0" -v at="$_at" -v n="$(now)" 'BEGIN { w = t0 + at - n; printf "%.2f", (w > 0 ? w : 0) }')"
            kill -"$_sig" "$_pid" 2>/dev/null && echo "$_sig $(since "$_t0")" >> /tmp/.signalled.log
        done
    ) &
    _helper=$!
    sh -c 'echo $$ > "$0"; exec "$@"' "$_fifo" "$@" > "$_out" 2>&1
    RC=$?
    SECS=$(since "$_t0")
    kill "$_helper" 2>/dev/null; wait "$_helper" 2>/dev/null
    rm -f "$_fifo"
    SIG1=$(head -1 /tmp/.signalled.log 2>/dev/null | cut -d' ' -f2)
    AFTER=$(awk -v s="${SIG1:-0}" -v e="$SECS" 'BEGIN { printf "%.2f", e - s }')
    echo "### $* with $_plan -> rc=$RC in ${SECS} s; signals sent (s after start): $(tr '\n' ' ' < /tmp/.signalled.log 2>/dev/null)"
    sed 's/^/    /' "$_out"
}

# show FILE [TITLE]: a trace or log, indented, for the reader of the results.
show() {
    echo "### ${2:-${1##*/}}"
    if [ -e "$1" ]; then sed 's/^/    /' "$1"; else echo "    (missing)"; fi
}

finish() {
    echo "### $_checks checks, $_failed failed"
    [ "$_failed" -eq 0 ]
    exit $?
}
