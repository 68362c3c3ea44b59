#!/usr/bin/env bash
# System calls per entry of a drive tree: one scan with repairs against
# `find` listing the same shortcut files, both counted with strace -c.
#
#   bench/syscalls.sh [S|M|L] [BUILD_FOLDER]     (default: M build-bench)
#
# The scan is counted on the window's thread (the scan runs there; the
# worker threads that give memory back or wait for the disk are left out),
# as one scan minus a run that only starts the window. Both runs also put
# the moved shortcuts back as planted, which the difference cancels.
set -euo pipefail

size="${1:-M}"
build="${2:-build-bench}"
bench="$build/bench/scan-bench"
tree="${TMPDIR:-/tmp}/linkmend-bench-$size"

command -v strace >/dev/null || { echo "syscalls.sh needs strace (apt-get install strace)" >&2; exit 1; }
[ -x "$bench" ] || { echo "no $bench: build it first (see the README's Performance section)" >&2; exit 1; }

# Makes the tree when it is missing.
"$bench" --size "$size" --scan-only 0 >/dev/null 2>&1

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

calls() { awk '$NF == "total" { print $(NF-2) }' "$1"; }

strace -c -o "$work/start" "$bench" --size "$size" --scan-only 0 >/dev/null 2>&1
strace -c -o "$work/scan" "$bench" --size "$size" --scan-only 1 >/dev/null 2>&1
strace -f -c -o "$work/find" find "$tree/drive_c" -name '.*' -prune -o -iname '*.lnk' -print >/dev/null

entries=$(find "$tree/drive_c" -mindepth 1 | wc -l)
scan=$(($(calls "$work/scan") - $(calls "$work/start")))
find=$(calls "$work/find")

printf 'tree %s: %d entries\n' "$size" "$entries"
printf 'scan with repairs: %9d system calls, %.3f an entry\n' "$scan" "$(echo "$scan / $entries" | bc -l)"
printf 'find:              %9d system calls, %.3f an entry\n' "$find" "$(echo "$find / $entries" | bc -l)"
echo
echo "scan, by call (start-up included):"
sed -n '3,14p' "$work/scan"
echo
echo "find, by call:"
sed -n '3,10p' "$work/find"
