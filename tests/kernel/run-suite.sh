#!/bin/bash
# The kernel test suite: each scenario script of scsi_debug/ and tcmu/ runs in a VM of its
# own (run-in-vm.sh: Debian's kernel under qemu, the real sg driver, scsi_debug and the SCSI
# target subsystem) and prints one line per check, "PASS name" or "FAIL name: why".
#
# Usage: run-suite.sh [-b BINARY] [-p PROGRAM]... [-o OUTDIR] BUILD_DIR [NAME...]
#   BUILD_DIR  the build folder: the program is BUILD_DIR/vantrel (or -b, or $VANTREL), and
#              vantrel-tcmu-drive, kernel_console_routines and kernel_lp_source found under
#              it go into the guests too
#   NAME       scenarios to run, by number, name or prefix (01, 06-timeout, tcmu/,
#              scsi_debug/03); all when none is given
#   -b BINARY  another program to test (an older build, say)
#   -p PROGRAM one more program for the guests' /usr/local/bin (repeatable)
#   -o OUTDIR  where each scenario's output, host log and kernel log are kept
#              (default BUILD_DIR/kernel-results)
# Prints each scenario's check lines and wall time, then the totals; exits 1 when a check
# failed or a VM did not report, 2 for a usage error.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; }

binary=${VANTREL:-}
outdir=
programs=()
while getopts b:p:o:h opt; do
    case $opt in
        b) binary=$OPTARG ;;
        p) programs+=("$OPTARG") ;;
        o) outdir=$OPTARG ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { usage >&2; exit 2; }
build=$1
shift
[ -d "$build" ] || { echo "run-suite: no build folder $build" >&2; exit 2; }
binary=${binary:-$build/vantrel}
[ -x "$binary" ] || { echo "run-suite: no program at $binary (build the target vantrel)" >&2; exit 2; }
outdir=${outdir:-$build/kernel-results}
mkdir -p "$outdir"

# The helper programs the TCMU scenarios need, wherever the build put them.
for name in vantrel-tcmu-drive kernel_console_routines kernel_lp_source; do
    found=$(find "$build" -name "$name" -type f -perm -u+x -not -path '*/CMakeFiles/*' 2>/dev/null | head -1)
    [ -n "$found" ] && programs+=("$found")
done
progopts=()
for p in "${programs[@]+"${programs[@]}"}"; do progopts+=(-p "$p"); done

all=()
for dir in scsi_debug tcmu; do
    for s in "$here/$dir"/*.sh; do
        [ -e "$s" ] && all+=("$s")
    done
done
scripts=()
if [ $# -eq 0 ]; then
    scripts=("${all[@]}")
else
    for name in "$@"; do
        matched=0
        for s in "${all[@]}"; do
            rel=${s#"$here"/}
            case "$rel" in "$name"*|*/"$name"*) scripts+=("$s"); matched=1 ;; esac
        done
        [ "$matched" = 1 ] || { echo "run-suite: no scenario $name" >&2; exit 2; }
    done
fi
[ ${#scripts[@]} -gt 0 ] || { echo "run-suite: no scenario scripts" >&2; exit 2; }

echo "kernel suite: ${#scripts[@]} scenarios, program $binary${programs[*]+, with ${programs[*]}}; logs in $outdir"
passed=0
failed=0
broken=0
start=$(date +%s.%N)
for s in "${scripts[@]}"; do
    rel=${s#"$here"/}
    name=${rel%.sh}
    log=$outdir/${name//\//_}
    t0=$(date +%s.%N)
    "$here/run-in-vm.sh" -b "$binary" "${progopts[@]+"${progopts[@]}"}" -t 540 -l "$log.kernel.log" -f "$s" \
        > "$log.log" 2> "$log.host.log"
    rc=$?
    wall=$(awk -v s="$t0" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
    lines=$(tr -d '\r' < "$log.log" | grep -aE '^(PASS|FAIL) ')
    p=$(printf '%s\n' "$lines" | grep -c '^PASS ')
    f=$(printf '%s\n' "$lines" | grep -c '^FAIL ')
    passed=$((passed + p))
    failed=$((failed + f))
    echo "== $name: $p passed, $f failed, ${wall} s"
    [ -n "$lines" ] && printf '%s\n' "$lines" | sed 's/^/   /'
    if [ "$rc" -ge 124 ] || [ "$p" -eq 0 -a "$f" -eq 0 ]; then
        broken=$((broken + 1))
        echo "   FAIL $name: the VM did not report its checks (exit $rc); see $log.log and $log.host.log"
        tail -5 "$log.host.log" | sed 's/^/   | /'
    elif [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
        broken=$((broken + 1))
        echo "   FAIL $name: exit status $rc with no failed check; see $log.log"
    fi
done
total=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.0f", e - s }')
echo "kernel suite: ${#scripts[@]} scenarios in ${total} s wall time; $broken did not run through"
echo "kernel: $passed passed, $((failed + broken)) failed"
[ "$failed" -eq 0 ] && [ "$broken" -eq 0 ]
