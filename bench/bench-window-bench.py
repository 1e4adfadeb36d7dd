#!/usr/bin/env python3
"""The production bench's own cost: orbix-bench with 32 slots against 32
orbix-keypad-sim processes at 115200 baud, the window painting on a display.

In each round one keypad is first updated alone in a bench of one slot; then 32
at once. Each keypad's rate (image bytes over its session's seconds, from the
records log) is set against the lone keypad's of the same round (target >= 0.95).
orbix-bench's CPU time from Start all to the last record, painting included, is
set against the wall time and against the time the update takes alone, the
larger share counting (target < 15% of one core): a loaded machine stretches the
wall time and would flatter the first. It is split into the window's thread and
the sessions' threads, beside orbix-flash's for as many keypads. The figures are
the rounds' medians. Start all is pressed with xdotool (F5).

The machine's load is printed with them: the load average, how busy its cores
were during the 32-slot runs and how much of that the simulated keypads took.
The rate figure depends on the keypads getting their turn: give it with the load.

With ORBIX_BENCH_DATABASE=postgresql://USER@HOST[:PORT]/DBNAME (its password in the PostgreSQL
password file) the profiles send their records on to that database too, so the bench's CPU share
can be set against the same run without one.

Usage: bench/bench-window-bench.py BUILD_DIR [SLOTS [ROUNDS]]   (under a display: xvfb-run)
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
DATABASE = os.environ.get("ORBIX_BENCH_DATABASE", "")


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


def machine_busy():
    """Seconds the cores were busy and seconds they were there, since boot."""
    with open("/proc/stat") as f:
        ticks = [int(t) for t in f.readline().split()[1:]]
    idle = ticks[3] + ticks[4]
    return (sum(ticks) - idle) / os.sysconf("SC_CLK_TCK"), sum(ticks) / os.sysconf("SC_CLK_TCK")


def main_thread_seconds(pid):
    """The window's own thread (painting, the panels, the records); the rest are the sessions'."""
    return cpu_seconds(f"{pid}/task/{pid}")


def records(log):
    """The results; each unit's begin record, written before it, is left out."""
    try:
        with open(log) as f:
            return [r for r in (json.loads(line) for line in f if line.strip()) if r.get("type") == "result"]
    except FileNotFoundError:
        return []


def run_bench(build, tmp, image, sha256, slots, label):
    """One bench of `slots` keypads, each updated once: its records and what the run cost."""
    sims = [subprocess.Popen([f"{build}/sim/orbix-keypad-sim", "--baud", str(BAUD)], stdout=subprocess.PIPE,
                             text=True) for _ in range(slots)]
    bench = None
    try:
        devices = [sim.stdout.readline().strip() for sim in sims]
        profile = os.path.join(tmp, f"{label}.orbix-bench")
        log = os.path.join(tmp, f"{label}.jsonl")
        if os.path.exists(log):
            os.remove(log)
        with open(profile, "w") as f:
            f.write(f"[bench]\ncommand = firmware\nimage = {os.path.basename(image)}\nsha256 = {sha256}\n"
                    f"log = {os.path.basename(log)}\n" + (f"database = {DATABASE}\n" if DATABASE else "") + "[slots]\n")
            f.writelines(f"Slot {i + 1} = {device}\n" for i, device in enumerate(devices))
        bench = subprocess.Popen([f"{build}/production/orbix-bench", profile])
        window = subprocess.run(["xdotool", "search", "--sync", "--pid", str(bench.pid), "--name", "ORBIX Bench"],
                                capture_output=True, text=True, timeout=30).stdout.split()[0]
        time.sleep(2)  # opened, its profile read
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "F5"], check=True, timeout=30)
        cpu0, main0, wall0 = cpu_seconds(bench.pid), main_thread_seconds(bench.pid), time.monotonic()
        sims0, (busy0, all0) = sum(cpu_seconds(sim.pid) for sim in sims), machine_busy()
        deadline = wall0 + 600
        while len(records(log)) < slots and time.monotonic() < deadline:
            time.sleep(0.2)
        cpu, wall = cpu_seconds(bench.pid) - cpu0, time.monotonic() - wall0
        window = main_thread_seconds(bench.pid) - main0
        sims_cpu, (busy1, all1) = sum(cpu_seconds(sim.pid) for sim in sims) - sims0, machine_busy()
        done = records(log)
        if len(done) < slots or any(r["exit_code"] != 0 for r in done):
            sys.exit(f"{label}: {len(done)} of {slots} records, exit codes {[r['exit_code'] for r in done]}")
        return {"records": done, "cpu": cpu, "window": window, "wall": wall, "sims": sims_cpu / wall,
                "busy": (busy1 - busy0) / (all1 - all0) if all1 > all0 else 0.0}
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
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    cores = os.cpu_count()
    print(f"load average before: {os.getloadavg()[0]:.2f} on {cores} cores; records also to "
          f"{DATABASE or 'no database'}")
    ratios, lowest, shares, windows, busy, sims = [], [], [], [], [], []
    with tempfile.TemporaryDirectory() as tmp:
        image = os.path.join(tmp, "bench.s")
        sha256 = write_image(image)
        for n in range(rounds):
            lone = run_bench(build, tmp, image, sha256, 1, "lone")
            alone_seconds = lone["records"][0]["seconds"]
            gang = run_bench(build, tmp, image, sha256, slots, "gang")
            round_ratios = [alone_seconds / r["seconds"] for r in gang["records"]]
            # Over the wall time, or over the time the update takes alone where the wall was stretched.
            share = gang["cpu"] / min(gang["wall"], alone_seconds)
            ratios.append(statistics.median(round_ratios))
            lowest.append(min(round_ratios))
            shares.append(share)
            windows.append(gang["window"] / min(gang["wall"], alone_seconds))
            busy.append(gang["busy"])
            sims.append(gang["sims"])
            print(f"round {n + 1}: alone {IMAGE_BYTES / alone_seconds:.0f} image bytes/s; {slots} slots: ratio median "
                  f"{ratios[-1]:.3f}, lowest {lowest[-1]:.3f}; orbix-bench {share:.1%} of one core "
                  f"({gang['cpu'] / gang['wall']:.1%} over {gang['wall']:.1f} s of wall time); the machine "
                  f"{gang['busy']:.0%} busy, the simulated keypads {gang['sims']:.0%} of one core; "
                  f"load {os.getloadavg()[0]:.2f}")
        flash = flash_cpu(build, image, slots)
    median = statistics.median
    print(f"{slots} slots, median of {rounds} rounds: ratio to alone {median(ratios):.3f}, lowest keypad "
          f"{min(lowest):.3f} (target >= 0.95)")
    print(f"orbix-bench CPU from Start all to the last record: {median(shares):.1%} of one core (target < 15%), "
          f"of which the window's thread {median(windows):.1%} and the sessions' threads "
          f"{median(shares) - median(windows):.1%}; orbix-flash updating {slots} the same way: {flash:.1%}")
    print(f"the machine meanwhile: {median(busy):.0%} of its {cores} cores busy, the simulated keypads "
          f"{median(sims):.0%} of one core; load average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
