#!/usr/bin/env bash
# Writes albummaker(1) from the program's own --help texts with help2man:
# the top-level usage and options, then one sub-section per command (commands
# sharing one text share one sub-section), then the hand-written sections of
# INCLUDE. The page cannot drift from the program it describes.
# Usage: manpage.sh HOST INCLUDE OUT
set -euo pipefail
host=$1
include=$2
out=$3
commands=$("$host" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || { echo "manpage: no commands in '$host --help'" >&2; exit 1; }

# Preformatted roff: backslashes escaped, no line taken as a request.
as_roff() { sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\&&/"; }

sections=$(mktemp)
trap 'rm -f "$sections" "$out.tmp"' EXIT
{
  echo '[COMMANDS]'
  names=() texts=()
  for c in $commands; do
    text=$("$host" "$c" --help)
    last=$((${#texts[@]} - 1))
    if [ "$last" -ge 0 ] && [ "${texts[$last]}" = "$text" ]; then
      names[$last]="${names[$last]}, $c"
    else
      names+=("$c")
      texts+=("$text")
    fi
  done
  for i in "${!names[@]}"; do
    printf '.SS "%s"\n.nf\n' "${names[$i]}"
    printf '%s\n' "${texts[$i]}" | as_roff
    printf '.fi\n'
  done
  cat "$include"
} >"$sections"
"${HELP2MAN:-help2man}" --no-info --section=1 --name="render the HTML pages of a picture album" \
  --include="$sections" --output="$out.tmp" "$host"
mv "$out.tmp" "$out"
