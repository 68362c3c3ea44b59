#!/bin/sh
# Fills a shell-completion template with the commands and options of the
# manual's SYNOPSIS, so that completion offers exactly what the manual lists.
#
#   completions.sh MANUAL.txt TEMPLATE OUT
#
# In the template:
# - @LINKMEND_COMMANDS@ becomes one line per command,
#     NAME|FLAGS|OPTIONS WITH A VALUE|OPERAND
#   for instance "check|--dry-run --json|--prefix=DIR|WHERE";
# - @LINKMEND_GLOBAL_OPTIONS@ the options that stand in place of a command
#   ("--help --version");
# - @LINKMEND_DRIVES_COMMAND@ "drives" when the program has a command of that
#   name (it lists the drive letters), else nothing.
set -eu

if [ $# -ne 3 ]; then
  echo "usage: $0 MANUAL.txt TEMPLATE OUT" >&2
  exit 2
fi
text="$1" template="$2" out="$3"
temp="$out.tmp"
trap 'rm -f "$temp"' EXIT

awk '
function replace(s, from, to,    at) {
  while ((at = index(s, from)) > 0)
    s = substr(s, 1, at - 1) to substr(s, at + length(from))
  return s
}
# The synopsis: "linkmend COMMAND [--flag] [--option VALUE] OPERAND..." or
# "linkmend --help | --version".
FNR == NR {
  if ($0 ~ /^[^ ]/) { synopsis = ($0 == "SYNOPSIS"); next }
  if (!synopsis || $1 != "linkmend" || NF < 2) next
  if ($2 ~ /^-/) {
    for (i = 2; i <= NF; i++)
      if ($i ~ /^-/) globals = globals (globals == "" ? "" : " ") $i
    next
  }
  flags = ""; valued = ""; operand = ""
  for (i = 3; i <= NF; i++) {
    word = $i
    if (word ~ /^\[-/ && word ~ /\]$/) {
      word = substr(word, 2, length(word) - 2)
      flags = flags (flags == "" ? "" : " ") word
    } else if (word ~ /^\[-/ && i < NF) {
      value = $(++i)
      sub(/\]$/, "", value)
      valued = valued (valued == "" ? "" : " ") substr(word, 2) "=" value
    } else if (operand == "") {
      operand = word
      sub(/\.\.\.$/, "", operand)
    }
  }
  commands = commands (commands == "" ? "" : "\n") $2 "|" flags "|" valued "|" operand
  if ($2 == "drives") drives = "drives"
  next
}
{
  line = replace($0, "@LINKMEND_COMMANDS@", commands)
  line = replace(line, "@LINKMEND_GLOBAL_OPTIONS@", globals)
  print replace(line, "@LINKMEND_DRIVES_COMMAND@", drives)
}
END {
  if (commands == "") {
    print "no commands found in the SYNOPSIS of " ARGV[1] > "/dev/stderr"
    exit 1
  }
}' "$text" "$template" >"$temp"
mv "$temp" "$out"
trap - EXIT
