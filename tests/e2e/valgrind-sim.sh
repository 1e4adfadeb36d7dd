#!/usr/bin/env bash
# The simulated keypad under valgrind through a whole firmware update: it must
# serve it, then exit cleanly on SIGTERM with no memory errors or leaks.
set -euo pipefail
sim=$1 flash=$2 file=$3
out=$(mktemp)
trap 'rm -f "$out"' EXIT
valgrind -q --error-exitcode=9 --leak-check=full --errors-for-leak-kinds=definite --show-leak-kinds=definite \
  "$sim" --baud 115200 > "$out" &
pid=$!
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
device=$(head -n 1 "$out")
"$flash" --port "$device" --yes --quiet firmware "$file"
kill -TERM "$pid"
wait "$pid"
