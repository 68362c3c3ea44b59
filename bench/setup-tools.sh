#!/usr/bin/env bash
# What bench/tool-bench needs besides the build: the tools it races (bfs,
# fd-find) and FUSE for its slow share (fuse3, libfuse3-dev, pkg-config).
# Debian packages, installed as root or through sudo.
set -euo pipefail
packages=(bfs fd-find fuse3 libfuse3-dev pkg-config)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
