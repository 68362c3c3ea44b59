#!/usr/bin/env bash
# A second build of the whole test suite with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (which also builds the libFuzzer targets and
# their short fixed-seed runs), then every test in it. Any finding stops the
# test that made it, so the run exits non-zero.
#
#   scripts/sanitize.sh                 # build into build-asan/, run every test
#   scripts/sanitize.sh -R Resolve      # ctest's filter by test name
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${LINKMEND_ASAN_BUILD_DIR:-$here/build-asan}"

LINKMEND_EXTRA_PACKAGES="clang libclang-rt-14-dev" \
  LINKMEND_BUILD_DIR="$build_dir" \
  LINKMEND_CMAKE_ARGS="-DLINKMEND_SANITIZE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLINKMEND_BUILD_BENCH=OFF" \
  "$here/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen
# Halt on the first finding of either sanitizer, with a stack trace. Leaks in
# libraries we do not build (fontconfig, GLib's type system) are listed in
# the suppression file; leaks in our own code are findings like any other.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_invalid_pointer_pairs=0"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$here/scripts/lsan.supp:print_suppressions=0"

cd "$build_dir"
ctest --output-on-failure -j"$(nproc)" "$@"
