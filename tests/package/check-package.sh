#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root, validates the
# desktop entry and the AppStream metainfo, and checks that the installed
# program starts and shows its window (under a virtual X server).
set -euo pipefail
build_dir="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

cd "$build_dir"
cpack -G DEB -B "$scratch/pkg" >/dev/null
deb=$(ls "$scratch"/pkg/linkmend_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || { echo "Depends lacks Qt"; exit 1; }
dpkg -x "$deb" "$scratch/root"

app_id=com.tessivane.Linkmend
for f in usr/bin/Linkmend usr/bin/linkmend usr/share/applications/$app_id.desktop usr/share/metainfo/$app_id.metainfo.xml \
         usr/share/icons/hicolor/16x16/apps/$app_id.png usr/share/icons/hicolor/256x256/apps/$app_id.png \
         usr/share/icons/hicolor/scalable/apps/$app_id.svg; do
  [ -e "$scratch/root/$f" ] || { echo "missing from the package: $f"; exit 1; }
done
desktop-file-validate "$scratch/root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net --pedantic "$scratch/root/usr/share/metainfo/$app_id.metainfo.xml" || \
  appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/$app_id.metainfo.xml"

# The lower-case name is a link to the same program.
[ "$(readlink "$scratch/root/usr/bin/linkmend")" = Linkmend ] || { echo "usr/bin/linkmend is no link to Linkmend"; exit 1; }

# The installed program starts and shows its window.
export HOME="$scratch/home" XDG_CACHE_HOME="$scratch/cache" XDG_DATA_HOME="$scratch/data" WINEPREFIX="$scratch/noprefix"
mkdir -p "$HOME"

# Under its lower-case name it works in the terminal, with no display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/root/usr/bin/linkmend" --version)
[ "$version" = "Linkmend 1.0.0.0" ] || { echo "linkmend --version said: $version"; exit 1; }
env -u QT_QPA_PLATFORM xvfb-run -a sh -c "
  '$scratch/root/usr/bin/Linkmend' & pid=\$!
  for i in \$(seq 1 300); do
    if xwininfo -root -tree 2>/dev/null | grep -q '\"Linkmend\"'; then kill \$pid; exit 0; fi
    sleep 0.2
  done
  kill \$pid 2>/dev/null; echo 'the window did not show'; exit 1"
echo "package OK"
