#!/usr/bin/env bash
# Tab completion of orbix-flash and orbix-keypad-sim, driven the way bash drives
# it, in a folder of files of every kind. orbix-flash's ports come from a stand-in
# that answers "ports" with a fixed table and hands everything else to the program.
# Usage: completion_test.sh FLASH FLASH_COMPLETION SIM SIM_COMPLETION
flash=$1 flash_completion=$2 sim=$3 sim_completion=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source /usr/share/bash-completion/bash_completion || exit 1
source "$flash_completion"
source "$sim_completion"

cat >"$work/orbix-flash" <<EOF
#!/bin/sh
[ "\$1" = ports ] || exec "$flash" "\$@"
cat <<'TABLE'
COM    DEVICE                   DESCRIPTION                  USB ID     SERIAL
COM1   /dev/ttyS0               -                            -          -
-      /dev/ttyUSB0             FT232R USB UART              0403:6001  A10K5XYZ
TABLE
EOF
chmod +x "$work/orbix-flash"
cd "$work" || exit 1
mkdir firmware-dir
touch app.s APP2.S screens.bin notes.txt line.orbix-bench

failures=0
# expect "WORDS..." "COMPLETIONS": the last word is the one being completed.
expect() {
  local line=$1 want=$2
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line COMP_POINT=${#line} COMPREPLY=()
  local registration function
  registration=$(complete -p "$(basename "${COMP_WORDS[0]}")")
  function=${registration#*-F }
  function=${function%% *}
  "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
  if [ "$got" != "$want" ]; then
    echo "FAIL: \"$line\" completes to \"$got\", not \"$want\"" >&2
    failures=$((failures + 1))
  fi
}

F=$work/orbix-flash
expect "$F " "firmware inspect ports records report scan screens test"
expect "$F records " "push"
expect "$F --database postgresql://a@b/c records push n" "notes.txt"
expect "$F --yes --port COM1 sc" "scan screens"
# Folders come too, to look into.
expect "$F firmware " "APP2.S app.s firmware-dir"
expect "$F --quiet screens " "firmware-dir screens.bin"
expect "$F inspect " "APP2.S app.s firmware-dir screens.bin"
expect "$F firmware app.s " ""
expect "$F --port " "/dev/ttyS0 /dev/ttyUSB0 COM1"
expect "$F --port /dev/ttyU" "/dev/ttyUSB0"
expect "$F --stall-timeout " ""
expect "$F --st" "--stall-timeout --station"
expect "$F --rep" "--repeat --repeat=enter"
expect "$F --q" "--quiet"
expect "$F --ports-from n" "notes.txt"
expect "$F --jobs 4 --resume a" "app.s"
expect "$F --jobs 4 --retries 2 sc" "scan screens"
expect "$F --re" "--repeat --repeat=enter --resume --retries"
expect "$F --profile " "firmware-dir line.orbix-bench"
expect "$F --profile line.orbix-bench " ""
expect "$F --expect-sha256 " ""
expect "$F --expect-sha256 00 firmware a" "app.s"
expect "$F --station Line3 --serial KP-1 firmware a" "app.s"

S=$sim
expect "$S --ba" "--baud"
expect "$S --baud " ""
expect "$S --fail-command s" "scr-data scr-mem-id set-index sync"
expect "$S --dump-dir " "firmware-dir"
expect "$S --exit-after-update --ex" "--exit-after-update"

[ "$failures" -eq 0 ] && echo "completion: all cases pass"
exit $((failures > 0))
