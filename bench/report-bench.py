#!/usr/bin/env python3
"""How long orbix-flash report takes over a large log (target: 100,000 records in under 2 s).

Writes RECORDS records in the form the programs write them (three stations, eight slots each,
one unit in ten retried, a few failures, a serial on each), then times `orbix-flash report`,
`--csv` and `--json` over it, best of ROUNDS (wall and CPU time), and prints the load average before and after.
  bench/report-bench.py BUILD_DIR
"""
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

RECORDS = 100_000
ROUNDS = 3


def write_log(path):
    start = 1_765_000_000_000
    with open(path, "w") as log:
        for i in range(RECORDS):
            retried = i % 10 == 1
            record = {
                "type": "result", "port": f"/dev/ttyUSB{i % 8}", "unit": f"Slot {i % 8 + 1}",
                "station": f"line-{i % 3 + 1}", "serial": f"KP{i // 2:07d}", "attempt": 2 if retried else 1,
                "command": "firmware", "file": "/line/app-2.4.s", "sha256": "0ed89c66660762dd" * 4,
                "image_length": 88000, "bytes_sent": 88000, "outcome": "failed" if i % 97 == 0 else "ok",
                "exit_code": 1 if i % 97 == 0 else 0, "last_text": "Firmare update complete",
                "memory_id": {"firmware_last_sector": 9, "program_index": 65536, "tag": 33},
                "start": time.strftime("%Y-%m-%dT%H:%M:%S.000Z", time.gmtime((start + i * 9000) / 1000)),
                "seconds": 10.7,
            }
            log.write(json.dumps(record, separators=(",", ":")) + "\n")


def main():
    flash = os.path.join(sys.argv[1], "cli", "orbix-flash")
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "records.jsonl")
        write_log(log)
        print(f"{RECORDS} records, {os.path.getsize(log) / 1e6:.1f} MB")
        for form in ([], ["--csv"], ["--json"]):
            best = cpu = None
            for _ in range(ROUNDS):
                used = resource.getrusage(resource.RUSAGE_CHILDREN)
                began = time.perf_counter()
                subprocess.run([flash, "report", *form, log], check=True, stdout=subprocess.DEVNULL)
                took = time.perf_counter() - began
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                seconds = after.ru_utime - used.ru_utime + after.ru_stime - used.ru_stime
                best = took if best is None else min(best, took)
                cpu = seconds if cpu is None else min(cpu, seconds)
            print(f"report {' '.join(form) or '(text)':8} best of {ROUNDS}: {best:.2f} s, CPU {cpu:.2f} s")
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())


main()
