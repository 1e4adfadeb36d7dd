#!/usr/bin/env bash
# A program's manual page keeps up with its --help: every option --help shows
# has an entry in the page, so an option cannot ship undocumented. With "both",
# every entry in the page is also in --help, so a removed option leaves the
# page too.
# Usage: manual_page_test.sh PROGRAM PAGE.scd [both]
set -euo pipefail
program=$1 page=$2 direction=${3:-}

# Options as words: -x or --long-name.
options() { grep -oE -- '(^|[^a-zA-Z0-9-])--?[a-zA-Z][a-zA-Z0-9-]*' | grep -oE -- '--?[a-zA-Z][a-zA-Z0-9-]*' | sort -u; }

# Only the option table's lines (indented, starting with a dash): the prose
# around it shows forms such as --opt=VALUE or -yq that are not options.
help=$("$program" --help | grep -E '^[[:space:]]+-' | options)
# An entry is a line that starts with the option in bold: "*-p*, *--port* _PORT_".
entries=$(grep -E '^\*--?[a-zA-Z]' "$page" | options)
[ -n "$help" ] && [ -n "$entries" ] || { echo "FAIL: no options found in --help or in $page" >&2; exit 1; }

status=0
missing=$(comm -23 <(echo "$help") <(echo "$entries"))
if [ -n "$missing" ]; then
  echo "FAIL: $(basename "$program") --help shows options its manual page lacks:" $missing >&2
  status=1
fi
if [ "$direction" = both ]; then
  extra=$(comm -13 <(echo "$help") <(echo "$entries"))
  if [ -n "$extra" ]; then
    echo "FAIL: $(basename "$page") documents options $(basename "$program") --help lacks:" $extra >&2
    status=1
  fi
fi
[ "$status" -ne 0 ] || echo "$(basename "$program"): all $(wc -l <<<"$help") options of --help are in the manual page"
exit "$status"
