#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root, and checks what
# it installs: the stripped program, the desktop entry and the AppStream
# metainfo (validated), the manual page (read with man), the shell
# completions (run in bash, zsh and fish), the copyright and changelog; then
# that the installed program starts and shows its window (under a virtual X
# server) with its icon and the window class its desktop entry names, and
# that the window sets its wrapped text one 14-pixel cell a line there, as
# the probe given as second argument measures from the screen.
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
root="$scratch/root"
dpkg -x "$deb" "$root"

app_id=com.tessivane.Linkmend
for f in usr/bin/Linkmend usr/bin/linkmend usr/share/applications/$app_id.desktop usr/share/metainfo/$app_id.metainfo.xml \
         usr/share/icons/hicolor/16x16/apps/$app_id.png usr/share/icons/hicolor/256x256/apps/$app_id.png \
         usr/share/icons/hicolor/scalable/apps/$app_id.svg usr/share/man/man1/linkmend.1.gz \
         usr/share/bash-completion/completions/linkmend usr/share/bash-completion/completions/Linkmend \
         usr/share/zsh/vendor-completions/_linkmend usr/share/fish/vendor_completions.d/linkmend.fish \
         usr/share/doc/linkmend/copyright usr/share/doc/linkmend/changelog.Debian.gz; do
  [ -e "$root/$f" ] || { echo "missing from the package: $f"; exit 1; }
done

# The program carries no debugging information, and the package says what
# its files take once installed, counted as dpkg counts them: each file in
# whole KiB, each folder and link as one.
if readelf -S --wide "$root/usr/bin/Linkmend" | grep -q '\.debug_'; then
  echo "usr/bin/Linkmend is not stripped"; exit 1
fi
counted=$(find "$root" -mindepth 1 \( -type f -printf '%s\n' -o -printf '1024\n' \) |
          awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')
installed=$(dpkg-deb --field "$deb" Installed-Size)
[ "$installed" = "$counted" ] || { echo "Installed-Size is $installed KiB, the files take $counted KiB"; exit 1; }

# Debian's copyright file, machine-readable, and the changelog of this version.
head -n1 "$root/usr/share/doc/linkmend/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  { echo "the copyright file is not in the machine-readable format"; exit 1; }
grep -qx 'License: MIT' "$root/usr/share/doc/linkmend/copyright" || { echo "the copyright file states no licence"; exit 1; }
version=$(dpkg-deb --field "$deb" Version)
zcat "$root/usr/share/doc/linkmend/changelog.Debian.gz" | head -n1 | grep -q "^linkmend ($version) " ||
  { echo "changelog.Debian.gz does not begin with version $version"; exit 1; }

# The desktop entry without a single remark, and the window class it names.
remarks=$(desktop-file-validate "$root/usr/share/applications/$app_id.desktop" 2>&1)
[ -z "$remarks" ] || { echo "desktop-file-validate: $remarks"; exit 1; }
wm_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/$app_id.desktop")
[ -n "$wm_class" ] || { echo "the desktop entry has no StartupWMClass"; exit 1; }
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app_id.metainfo.xml" || \
  appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"

# The lower-case name is a link to the same program.
[ "$(readlink "$root/usr/bin/linkmend")" = Linkmend ] || { echo "usr/bin/linkmend is no link to Linkmend"; exit 1; }

# Under its lower-case name it works in the terminal, with no display.
said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/linkmend" --version)
[ "$said" = "Linkmend 1.0.0.0" ] || { echo "linkmend --version said: $said"; exit 1; }

# The manual page reads without a warning, and holds the synopsis that
# --help prints and the exit statuses that --help leaves to it.
page="$root/usr/share/man/man1/linkmend.1.gz"
LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -E UTF-8 -l "$page" >"$scratch/man.txt" 2>"$scratch/man.err" ||
  { cat "$scratch/man.err"; echo "man cannot read linkmend.1.gz"; exit 1; }
[ ! -s "$scratch/man.err" ] || { cat "$scratch/man.err"; echo "man warns about linkmend.1.gz"; exit 1; }
lexgrog "$page" | grep -q 'linkmend - find' || { echo "linkmend.1.gz has no NAME line for whatis"; exit 1; }
grep -q '^EXIT STATUS' "$scratch/man.txt" || { echo "the manual page has no EXIT STATUS"; exit 1; }
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/linkmend" --help >"$scratch/help.txt"
grep -q '^See man linkmend' "$scratch/help.txt" || { echo "--help does not point to the manual page"; exit 1; }
grep '^  linkmend' "$scratch/help.txt" | sed 's/^ *//' >"$scratch/usage.txt"
[ -s "$scratch/usage.txt" ] || { echo "--help shows no synopsis"; exit 1; }
while IFS= read -r usage; do
  grep -qF -- "$usage" "$scratch/man.txt" || { echo "the manual page lacks the synopsis line: $usage"; exit 1; }
done <"$scratch/usage.txt"

# The shell completions offer the commands, each command's options, the
# drive letters of the Wine prefix (the entries x: that lead to a folder),
# and shortcut files whatever the case of their extension.
export HOME="$scratch/home" XDG_CACHE_HOME="$scratch/cache" XDG_DATA_HOME="$scratch/data" XDG_STATE_HOME="$scratch/state" WINEPREFIX="$scratch/noprefix"
mkdir -p "$HOME" "$scratch/prefix/dosdevices" "$scratch/prefix/drive_c" "$scratch/files/sub folder"
ln -s ../drive_c "$scratch/prefix/dosdevices/c:"
ln -s / "$scratch/prefix/dosdevices/z:"
ln -s "$scratch/gone" "$scratch/prefix/dosdevices/q:"
touch "$scratch/prefix/dosdevices/c::" "$scratch/files/a.lnk" "$scratch/files/B.LNK" "$scratch/files/c.txt"
expect_completion() { # shell, command line, what it offered, what it must offer
  [ "$3" = "$4" ] || { printf '%s: "%s" offered [%s], not [%s]\n' "$1" "$2" "$3" "$4"; exit 1; }
}
# The words as bash hands them over (it breaks "c:" at the colon); the last
# is the one completed.
bash_complete() {
  # shellcheck disable=SC2016
  (cd "$scratch/files" && PATH="$root/usr/bin:$PATH" WINEPREFIX="$scratch/prefix" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$0"
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _linkmend "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd" "' \
    "$root/usr/share/bash-completion/completions/linkmend" "$@")
}
expect_completion bash 'linkmend ' "$(bash_complete linkmend '')" '--help --version check drives repair show trash undo'
expect_completion bash 'linkmend check -' "$(bash_complete linkmend check -)" '--exclude --ignore-remote --json --prefix -0 -q'
expect_completion bash 'linkmend trash -' "$(bash_complete linkmend trash -)" '--prefix --yes'
expect_completion bash 'linkmend check ' "$(bash_complete linkmend check '')" 'c: z:'
expect_completion bash 'linkmend check z' "$(bash_complete linkmend check z)" 'z:'
expect_completion bash 'Linkmend show ' "$(bash_complete Linkmend show '')" 'B.LNK a.lnk sub folder'
[ "$(readlink "$root/usr/share/bash-completion/completions/Linkmend")" = linkmend ] ||
  { echo "the bash completion for Linkmend is no link to linkmend's"; exit 1; }
# zsh's completion functions, with the two it calls replaced by ones that
# print what they were asked to offer.
zsh_complete() {
  # shellcheck disable=SC2016
  (cd "$scratch/files" && PATH="$root/usr/bin:$PATH" WINEPREFIX="$scratch/prefix" zsh -f -c '
    compadd() { [[ $1 == -- ]] && shift; print -rl -- "$@"; }
    _files() { print -r -- "(files $*)"; }
    fpath=("$0" $fpath); autoload -Uz _linkmend
    words=("$@"); CURRENT=$#; PREFIX=$words[-1]; _linkmend' \
    "$root/usr/share/zsh/vendor-completions" "$@" | LC_ALL=C sort | paste -sd' ')
}
expect_completion zsh 'linkmend ' "$(zsh_complete linkmend '')" '--help --version check drives repair show trash undo'
expect_completion zsh 'linkmend check -' "$(zsh_complete linkmend check -)" '--exclude --ignore-remote --json --prefix -0 -q'
expect_completion zsh 'linkmend check ' "$(zsh_complete linkmend check '')" '(files -/) c: z:'
expect_completion zsh 'linkmend show ' "$(zsh_complete linkmend show '')" '(files -g *.(#i)lnk(-.))'
# fish finds the completions where it looks for them, for a program it finds.
fish_complete() {
  # shellcheck disable=SC2016
  (cd "$scratch/files" && PATH="$root/usr/bin:$PATH" XDG_DATA_DIRS="$root/usr/share:/usr/share" \
     WINEPREFIX="$scratch/prefix" fish -c 'complete -C"$argv"' "$1" | cut -f1 | LC_ALL=C sort | paste -sd' ')
}
expect_completion fish 'linkmend ' "$(fish_complete 'linkmend ')" 'check drives repair show trash undo'
expect_completion fish 'linkmend -' "$(fish_complete 'linkmend -')" '--help --version'
expect_completion fish 'linkmend check -' "$(fish_complete 'linkmend check -')" '--exclude --ignore-remote --json --prefix -0 -q'
expect_completion fish 'linkmend check ' "$(fish_complete 'linkmend check ')" 'c: sub folder/ z:'
expect_completion fish 'Linkmend show ' "$(fish_complete 'Linkmend show ')" 'B.LNK a.lnk sub folder/'

# The installed program starts and shows its window; the probe then reads its
# wrapped text back from the X server.
cat >"$scratch/on-display.sh" <<'EOF'
program="$1" probe="$2" wm_class="$3"
"$program" & pid=$!
shown=
for i in $(seq 1 300); do
  if xwininfo -name Linkmend >/dev/null 2>&1; then shown=1; break; fi
  sleep 0.2
done
if [ -z "$shown" ]; then kill $pid 2>/dev/null; echo 'the window did not show'; exit 1; fi
origin=$(xwininfo -name Linkmend | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x, y}')
# The window's class is the one its desktop entry names, and it carries the
# program's icon at the sizes a desktop shows.
status=0
class=$(xprop -name Linkmend WM_CLASS)
echo "$class"
case "$class" in
  *", \"$wm_class\"") ;;
  *) echo "the window's class is not \"$wm_class\""; status=1 ;;
esac
icons=$(xprop -name Linkmend _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | paste -sd' ')
echo "_NET_WM_ICON: $icons"
for size in 16 32 48; do
  case "$icons" in
    *"Icon ($size x $size)"*) ;;
    *) echo "the window has no $size x $size icon"; status=1 ;;
  esac
done
"$probe" $origin || status=1
kill $pid
exit $status
EOF
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" \
  sh "$scratch/on-display.sh" "$root/usr/bin/Linkmend" "$probe" "$wm_class"
echo "package OK"
