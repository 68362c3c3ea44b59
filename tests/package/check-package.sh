#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root, validates the
# desktop entry and the AppStream metainfo, and checks that the installed
# program starts and shows its window (under a virtual X server), and that
# the window sets its wrapped text one 14-pixel cell a line there, as the
# probe given as second argument measures from the screen.
set -euo pipefail
build_dir="$1"
probe="$2"
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

# Under its lower-case name it works in the terminal, with no display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/root/usr/bin/linkmend" --version)
[ "$version" = "Linkmend 1.0.0.0" ] || { echo "linkmend --version said: $version"; exit 1; }

# The installed program starts and shows its window; the probe then reads its
# wrapped text back from the X server.
export HOME="$scratch/home" XDG_CACHE_HOME="$scratch/cache" XDG_DATA_HOME="$scratch/data" WINEPREFIX="$scratch/noprefix"
mkdir -p "$HOME"
cat >"$scratch/on-display.sh" <<'EOF'
program="$1" probe="$2"
"$program" & pid=$!
shown=
for i in $(seq 1 300); do
  if xwininfo -name Linkmend >/dev/null 2>&1; then shown=1; break; fi
  sleep 0.2
done
if [ -z "$shown" ]; then kill $pid 2>/dev/null; echo 'the window did not show'; exit 1; fi
origin=$(xwininfo -name Linkmend | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x, y}')
"$probe" $origin; status=$?
kill $pid
exit $status
EOF
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" \
  sh "$scratch/on-display.sh" "$scratch/root/usr/bin/Linkmend" "$probe"
echo "package OK"
