#!/usr/bin/env python3
"""The production bench's own cost: orbix-bench with 32 slots against 32
orbix-keypad-sim processes at 115200 baud, the window painting on a display.

One keypad is first updated alone in a bench of one slot; then 32 at once.
Each keypad's rate (image bytes over its session's seconds, from the records
log) is set against the lone keypad's (target >= 0.95), and orbix-bench's CPU
time over the wall time from Start all to the last record, painting included,
is printed (target < 15% of one core), split into the window's thread and the
sessions' threads, beside orbix-flash's for as many keypads. Start all is pressed with xdotool (F5).
Run it on a quiet machine: it prints the load average before and after.

Usage: bench/bench-window-bench.py BUILD_DIR [SLOTS]   (under a display: xvfb-run)
"""
import glob
import hashlib
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

IMAGE_BYTES = 96 * 1024
BAUD = 115200


def s3(address, data):
    body = bytes([len(data) + 5]) + address.to_bytes(4, "big") + data
    return "S3" + body.hex().upper() + "%02X" % (0xFF - (sum(body) & 0xFF))


def write_image(path):
    data = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(IMAGE_BYTES))
    with open(path, "w") as f:
        f.write("S0030000FC\n")
        for offset in range(0, IMAGE_BYTES, 32):
            f.write(s3(offset, data[offset:offset + 32]) + "\n")
        f.write("S70500000000FA\n")
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main_thread_seconds(pid):
    """The window's own thread (painting, the panels, the records); the rest are the sessions'."""
    return cpu_seconds(f"{pid}/task/{pid}")


def records(log):
    try:
        with open(log) as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []


def run_bench(build, tmp, image, sha256, slots, label):
    """The records of one bench of `slots` keypads, each updated once, and the bench's CPU share."""
    sims = [subprocess.Popen([f"{build}/sim/orbix-keypad-sim", "--baud", str(BAUD)], stdout=subprocess.PIPE,
                             text=True) for _ in range(slots)]
    bench = None
    try:
        devices = [sim.stdout.readline().strip() for sim in sims]
        profile = os.path.join(tmp, f"{label}.orbix-bench")
        log = os.path.join(tmp, f"{label}.jsonl")
        with open(profile, "w") as f:
            f.write(f"[bench]\ncommand = firmware\nimage = {os.path.basename(image)}\nsha256 = {sha256}\n"
                    f"log = {os.path.basename(log)}\n[slots]\n")
            f.writelines(f"Slot {i + 1} = {device}\n" for i, device in enumerate(devices))
        bench = subprocess.Popen([f"{build}/production/orbix-bench", profile])
        window = subprocess.run(["xdotool", "search", "--sync", "--pid", str(bench.pid), "--name", "ORBIX Bench"],
                                capture_output=True, text=True, timeout=30).stdout.split()[0]
        time.sleep(2)  # opened, its profile read
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "F5"], check=True, timeout=30)
        cpu0, main0, wall0 = cpu_seconds(bench.pid), main_thread_seconds(bench.pid), time.monotonic()
        deadline = wall0 + 600
        while len(records(log)) < slots and time.monotonic() < deadline:
            time.sleep(0.2)
        cpu, wall = cpu_seconds(bench.pid) - cpu0, time.monotonic() - wall0
        window = main_thread_seconds(bench.pid) - main0
        done = records(log)
        if len(done) < slots or any(r["exit_code"] != 0 for r in done):
            sys.exit(f"{label}: {len(done)} of {slots} records, exit codes {[r['exit_code'] for r in done]}")
        return done, cpu / wall, window / wall
    finally:
        if bench:
            bench.terminate()
            bench.wait(30)
        for sim in sims:
            sim.terminate()
            sim.wait()


def flash_cpu(build, image, slots):
    """orbix-flash updating as many keypads at once: its CPU share of one core, for comparison."""
    sims = [subprocess.Popen([f"{build}/sim/orbix-keypad-sim", "--baud", str(BAUD)], stdout=subprocess.PIPE,
                             text=True) for _ in range(slots)]
    try:
        ports = [arg for sim in sims for arg in ("--port", sim.stdout.readline().strip())]
        before, start = resource.getrusage(resource.RUSAGE_CHILDREN), time.monotonic()
        subprocess.run([f"{build}/cli/orbix-flash", *ports, "--yes", "--quiet", "firmware", image], check=True,
                       timeout=600)
        wall, after = time.monotonic() - start, resource.getrusage(resource.RUSAGE_CHILDREN)
        return (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) / wall
    finally:
        for sim in sims:
            sim.terminate()
            sim.wait()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    slots = int(sys.argv[2]) if len(sys.argv) > 2 else 32
    print(f"load average before: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
    with tempfile.TemporaryDirectory() as tmp:
        image = os.path.join(tmp, "bench.s")
        sha256 = write_image(image)
        lone, lone_cpu, _ = run_bench(build, tmp, image, sha256, 1, "lone")
        alone = IMAGE_BYTES / lone[0]["seconds"]
        gang, cpu, window = run_bench(build, tmp, image, sha256, slots, "gang")
        flash = flash_cpu(build, image, slots)
    rates = [IMAGE_BYTES / r["seconds"] for r in gang]
    ratios = [rate / alone for rate in rates]
    print(f"alone: {alone:.0f} image bytes/s (the bench's CPU {lone_cpu:.1%} of one core)")
    print(f"{slots} slots: {statistics.median(rates):.0f} image bytes/s median, {min(rates):.0f}-{max(rates):.0f}; "
          f"ratio to alone median {statistics.median(ratios):.3f}, lowest {min(ratios):.3f} (target >= 0.95)")
    print(f"orbix-bench CPU from Start all to the last record: {cpu:.1%} of one core (target < 15%), of which "
          f"the window's thread {window:.1%} and the sessions' threads {cpu - window:.1%}; "
          f"orbix-flash updating {slots} the same way: {flash:.1%}")
    print(f"load average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
