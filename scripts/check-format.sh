#!/usr/bin/env bash
# Checks the C++ lines changed from main against .clang-format: only the lines a change adds
# or alters, so that the tree is never reformatted as a whole. Fails with clang-format's own
# "code should be clang-formatted" lines.
# Usage: check-format.sh [BASE]   (BASE: a commit or branch; default origin/main, else main)
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

base=${1:-}
if [ -z "$base" ]; then
  for candidate in origin/main main; do
    if git rev-parse --verify -q "$candidate^{commit}" >/dev/null; then
      base=$candidate
      break
    fi
  done
  if [ -z "$base" ]; then
    echo "check-format: no main branch to compare with; nothing checked"
    exit 0
  fi
fi
# What this branch changed since it left the base, not what the base did since.
if ! fork=$(git merge-base HEAD "$base" 2>/dev/null); then
  if [ -n "${1:-}" ]; then
    echo "check-format: $base shares no history with HEAD" >&2
    exit 1
  fi
  # A shallow clone may not reach back to where the branch left main.
  echo "check-format: no common history with $base here; nothing checked"
  exit 0
fi

mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$fork" -- '*.cpp' '*.h' '*.hpp' '*.cc')
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C++ file changed since $(git rev-parse --short "$fork")"
  exit 0
fi

failed=0
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  # The new side of each hunk ("@@ -a,b +c,d @@"): lines c to c+d-1; d is 1 when left out and
  # 0 for a pure deletion, which leaves nothing to check.
  mapfile -t ranges < <(git diff -U0 --no-color "$fork" -- "$file" |
    sed -n 's/^@@ -[0-9,]* +\([0-9]*\)\(,\([0-9]*\)\)\{0,1\} @@.*/\1 \3/p' |
    awk '{ n = ($2 == "") ? 1 : $2; if (n > 0) printf "--lines=%d:%d\n", $1, $1 + n - 1 }')
  [ ${#ranges[@]} -eq 0 ] && continue
  if ! clang-format --dry-run -Werror --style=file "${ranges[@]}" "$file"; then
    failed=1
  fi
done

if [ $failed -ne 0 ]; then
  echo "check-format: changed lines above differ from .clang-format (clang-format -i --lines=A:B FILE fixes them)" >&2
  exit 1
fi
echo "check-format: ${#files[@]} changed C++ file(s) match .clang-format on their changed lines"
