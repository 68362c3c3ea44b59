#!/bin/sh
# Turns the program's manual, kept as plain text, into the manual page
# linkmend(1) in roff, compressed as Debian ships manual pages (gzip -9n).
#
#   manpage.sh MANUAL.txt VERSION DATE OUT.1.gz
#
# The plain text is laid out like the page man prints:
# - a line that starts in the first column is a section heading;
# - lines indented by four spaces are the section's text, in paragraphs
#   separated by blank lines, filled by man;
# - a four-space line followed at once by lines indented by eight is a term
#   (a command, an option, an exit status, a variable) and its description;
#   more eight-space paragraphs after a blank line belong to the same term;
# - SYNOPSIS and EXAMPLES are kept line for line.
set -eu

if [ $# -ne 4 ]; then
  echo "usage: $0 MANUAL.txt VERSION DATE OUT.1.gz" >&2
  exit 2
fi
text="$1" version="$2" date="$3" out="$4"
temp="$out.tmp"
trap 'rm -f "$temp"' EXIT

awk -v version="$version" -v date="$date" '
# Escapes what roff would read as a request or an escape. Every "-" becomes
# "\-", so that options print as the minus sign people type.
function esc(s,    out, i, c) {
  out = ""
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (c == "\\")
      out = out "\\e"
    else if (c == "-")
      out = out "\\-"
    else
      out = out c
  }
  if (out ~ /^[.\047]/)
    out = "\\&" out
  return out
}
function indent(s) { return match(s, /[^ ]/) - 1 }
{ line[NR] = $0 }
END {
  print ".TH LINKMEND 1 \"" date "\" \"Linkmend " version "\" \"User Commands\""
  verbatim = 0
  last = ""      # what was printed last: heading, text, term, description
  blank = 0      # a blank line came since
  for (i = 1; i <= NR; i++) {
    l = line[i]
    sub(/[ \t\r]+$/, "", l)
    if (l == "") { blank = 1; continue }
    if (l !~ /^ /) {
      if (verbatim)
        print ".fi"
      print ".SH " esc(l)
      verbatim = (l == "SYNOPSIS" || l == "EXAMPLES")
      if (verbatim)
        print ".nf"
      last = "heading"; blank = 0
      continue
    }
    n = indent(l)
    words = substr(l, n + 1)
    if (verbatim) {
      if (blank && last != "heading")
        print ""
      print esc(substr(l, n < 4 ? n + 1 : 5))
      last = "text"; blank = 0
      continue
    }
    if (n < 8 && i < NR && indent(line[i + 1]) >= 8) {
      print ".TP"
      print "\\fB" esc(words) "\\fR"
      last = "term"
    } else if (n >= 8 && last != "heading") {
      if (blank)
        print ".IP"
      print esc(words)
      last = "description"
    } else {
      if (last != "heading" && (blank || last != "text"))
        print ".PP"
      print esc(words)
      last = "text"
    }
    blank = 0
  }
  if (verbatim)
    print ".fi"
}' "$text" | gzip -9n >"$temp"
mv "$temp" "$out"
trap - EXIT
