#!/usr/bin/env bash
# Fails when a C++ file of the project differs from what clang-format makes
# of it, naming the files. Run `clang-format -i` on them to mend.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
mapfile -t files < <(find app bench cli controls drives platform resources review scan shell tests tools winpath \
  -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted with clang-format:\n' >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "${#files[@]} files formatted"
