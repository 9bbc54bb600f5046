#!/usr/bin/env bash
# The manual page against the program it describes: every command the host
# lists has its sub-section holding every option of its --help, the version
# is the program's, and the template section names every placeholder of the
# README's table.
# Usage: check_manpage.sh HOST MANPAGE README
set -uo pipefail
host=$1
page=$2
readme=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

text=$(MANWIDTH=200 man --warnings -E UTF-8 -l "$page" 2>&1)
version=$("$host" --version)
grep -q "^${version} " <<<"$text" || fail "footer does not show '$version'"
grep -q '^NAME$' <<<"$text" || fail "no NAME section"

commands=$("$host" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "the host lists no commands"
for c in $commands; do
  # The sub-section of the command: from its heading to the next one.
  section=$(awk -v c="$c" '
    /^   [a-z]/ { name = $0; sub(/^   /, "", name); n = split(name, parts, /, /); inside = 0
                  for (i = 1; i <= n; i++) if (parts[i] == c) inside = 1; next }
    /^[A-Z]/ { inside = 0 }
    inside' <<<"$text")
  [ -n "$section" ] || { fail "no sub-section for '$c'"; continue; }
  for option in $("$host" "$c" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$section" || fail "'$c' sub-section lacks $option"
  done
done
for option in $("$host" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$text" || fail "no $option"
done

placeholders=$(sed -n 's/^| `\([A-Za-z]*\)` | \(section\|placeholder\) |.*/\1/p' "$readme")
[ "$(wc -w <<<"$placeholders")" -ge 8 ] || fail "the README's placeholder table was not found"
section=$(sed -n '/^TEMPLATE PLACEHOLDERS$/,/^[A-Z][A-Z]*$/p' <<<"$text")
for p in $placeholders; do
  grep -qw -- "$p" <<<"$section" || fail "the template section lacks $p"
done

if [ "$failures" = 0 ]; then
  echo "check_manpage: all checks passed"
  exit 0
fi
echo "check_manpage: $failures check(s) failed"
exit 1
