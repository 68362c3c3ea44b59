#!/usr/bin/env bash
# Shared set-up for ./run.sh and ./test.sh: installs the Debian packages the
# build needs when they are missing, then configures and builds into build/.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build and the tests need.
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libjpeg-dev libglib2.0-dev
  libgtest-dev libgmock-dev clang-format
  fonts-wine
  dpkg-dev desktop-file-utils appstream xvfb xauth x11-utils
  man-db bash-completion zsh fish
)
# Extra packages a caller may ask for (the fuzz and sanitizer builds use clang).
packages+=(${LINKMEND_EXTRA_PACKAGES:-})

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Linkmend needs these Debian packages, which are missing: ${missing[*]}"
  echo "Installing them with apt-get..."
  if [ "$(id -u)" -eq 0 ]; then
    sudo_cmd=()
  elif command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "error: not root and no sudo; install them by hand: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_dir="${LINKMEND_BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${LINKMEND_BUILD_TYPE:-RelWithDebInfo}" \
  ${LINKMEND_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
