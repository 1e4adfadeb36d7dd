#!/usr/bin/env bash
# Makes the S-record test files with srec_cat, and srec_cat's own binary image
# of each, which the parser's result is compared with. Run from this folder.
set -euo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 -c 'import random; random.seed(7); open("'$tmp'/a.bin","wb").write(bytes(random.randrange(256) for _ in range(700)))'
python3 -c 'import random; random.seed(8); open("'$tmp'/b.bin","wb").write(bytes(random.randrange(256) for _ in range(3000)))'

# S1 records with a gap, LF line ends.
srec_cat "$tmp/a.bin" -binary -offset 0x0010 "$tmp/b.bin" -binary -offset 0x2000 \
  -o s1_gaps.s -motorola -address-length=2 -header "" -disable=exec_start_address
# S2 records above 64 KiB, CRLF line ends.
srec_cat "$tmp/b.bin" -binary -offset 0x10000 -o s2_crlf.s -motorola -address-length=3 -header "" -crlf
# S3 records with long lines (250 data bytes a record) after a gap.
srec_cat "$tmp/b.bin" -binary -offset 0x4000 "$tmp/a.bin" -binary -offset 0x8000 \
  -o s3_long.s -motorola -address-length=4 -line-length=520 -header ""
# Records out of order: the data lines of s1_gaps.s reversed.
{ head -n 1 s1_gaps.s; sed -n '2,$p' s1_gaps.s | grep '^S1' | tac; } > s1_unordered.s

for f in s1_gaps s2_crlf s3_long s1_unordered; do
  srec_cat "$f.s" -motorola -o "$f.bin" -binary
done
