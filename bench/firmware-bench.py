#!/usr/bin/env python3
"""Throughput of a firmware update: orbix-flash against orbix-keypad-sim.

For each line rate the simulator emulates (no erase, write or reply delays),
a 256 KiB image is flashed with --trace; the data phase runs from the first
data chunk sent to the checksum query, which leaves when the last chunk's
reply arrives. Prints image bytes per second and the ratio to the wire's
stop-and-wait bound: 124 image bytes per 129-byte frame plus the 4-byte reply,
at baud / 10 bytes per second.

At 115200 baud the same update also runs through ser2net (an RFC 2217
accepter on 127.0.0.1 in front of the simulator's pseudo-terminal), and its
rate is set against the direct one of the same run.

Then a gang: GANG_SIZE keypads at 115200 baud updated by one orbix-flash (its
--trace lines name their port), each paired with one keypad alone just before
it. Prints each gang keypad's image bytes per second and its ratio to the lone
keypad's (target >= 0.95), and orbix-flash's CPU time over its wall time for
all of them together, tracing included (target < 10% of one core). Run it on a
quiet machine: it prints the load average before and after.

Last a fleet: FLEET_SIZE keypads, each behind its own port of one ser2net, read
from a --ports-from file and updated FLEET_JOBS at a time with a small image.
Every keypad's flash is compared with the image (after a second run of the
same fleet with --json, which measures only the CPU that output costs); each
keypad's rate (image bytes over its session's seconds, from --log) is set against a lone keypad's
through ser2net measured the same way (target >= 0.95); orbix-flash's CPU over
its wall time (target < 10% of one core), its peak resident memory (target
< 200 MB) and its most threads are printed.

Usage: bench/firmware-bench.py BUILD_DIR [RUNS] [fleet]   (fleet: that case alone)
"""
import json
import contextlib
import os
import random
import re
import resource
import socket
import statistics
import subprocess
import sys
import tempfile
import time

IMAGE_BYTES = 256 * 1024
RATES = (115200, 921600)
SERVER_RATE = 115200
SER2NET = "/usr/sbin/ser2net"
GANG_SIZE = 8
GANG_BAUD = 115200
FLEET_SIZE = 200
FLEET_JOBS = 32
FLEET_IMAGE_BYTES = 16 * 1024


def s3(address, data):
    body = bytes([len(data) + 5]) + address.to_bytes(4, "big") + data
    return "S3" + body.hex().upper() + "%02X" % (0xFF - (sum(body) & 0xFF))


def write_image(path, size=IMAGE_BYTES):
    """Writes the S-record file; returns the image's bytes."""
    rng = random.Random(1)
    # No 0xF0/0xF1: every full chunk is exactly a 129-byte frame, as the bound assumes.
    image = bytes(rng.choice([b for b in range(256) if b not in (0xF0, 0xF1)]) for _ in range(size))
    lines = ["S0030000FC"] + [s3(o, image[o:o + 32]) for o in range(0, size, 32)]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return image


def payload_code(hex_bytes):
    raw, escape = [], False
    for b in hex_bytes[1:]:
        if b == 0xF1:
            escape = True
            continue
        raw.append(b ^ 0xFF if escape else b)
        escape = False
    return raw[2] if len(raw) > 2 else None  # sequence, length, code


def data_phase(trace):
    """Seconds from the first chunk to the checksum query, and the loader's own
    turnaround in the data phase: from a reply's arrival to the next frame (ms)."""
    first = query = last_reply = None
    turnarounds = []
    for line in trace.splitlines():
        m = re.match(r"\[\s*([\d.]+)\] (->|<-) (.*)", line)
        if not m:
            continue
        t = float(m.group(1))
        if m.group(2) == "<-":
            last_reply = t
            continue
        code = payload_code([int(x, 16) for x in m.group(3).split()])
        if code == 0x90 and first is None:
            first = t
        elif code == 0x90 and last_reply is not None:
            turnarounds.append(t - last_reply)
        elif code == 0x9C:
            query = t
    return (query - first) / 1000.0, statistics.median(turnarounds)


def listening(port):
    needle = "0100007F:%04X 00000000:0000 0A" % port
    with open("/proc/net/tcp") as table:
        return any(needle in line for line in table)


def free_ports(count):
    """Ports nothing listens on, all different: held open until every one is chosen."""
    sockets = [socket.socket() for _ in range(count)]
    for s in sockets:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


@contextlib.contextmanager
def ser2net(devices, tmp):
    """One RFC 2217 accepter for each device; yields the port names for --port."""
    ports = free_ports(len(devices))
    config = os.path.join(tmp, "ser2net.yaml")
    with open(config, "w") as f:
        f.write("%YAML 1.1\n---\n")
        for i, (device, port) in enumerate(zip(devices, ports)):
            f.write(f"connection: &keypad{i}\n"
                    f"  accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
                    f"  connector: serialdev,{device},115200n81,local\n"
                    "  options:\n    chardelay: false\n")
    server = subprocess.Popen([SER2NET, "-n", "-u", "-c", config], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while not all(listening(port) for port in ports) and time.monotonic() < deadline:
            time.sleep(0.05)
        yield [f"rfc2217://127.0.0.1:{port}" for port in ports]
    finally:
        server.terminate()
        try:
            server.wait(5)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


@contextlib.contextmanager
def keypads(build, baud, count, dump_dirs=None):
    """Simulated keypads, each in a process of its own (dumping its flash into
    its folder on exit, when given one); yields their devices."""
    dumps = [["--dump-dir", d] for d in dump_dirs] if dump_dirs else [[]] * count
    sims = [subprocess.Popen([f"{build}/sim/orbix-keypad-sim", "--baud", str(baud), *dumps[i]],
                             stdout=subprocess.PIPE, text=True) for i in range(count)]
    try:
        yield [sim.stdout.readline().strip() for sim in sims]
    finally:
        for sim in sims:
            sim.terminate()
            sim.wait()


def flash(build, devices, image):
    """One orbix-flash updating every device: its trace, and its CPU seconds over its wall seconds."""
    ports = [arg for device in devices for arg in ("--port", device)]
    before, start = resource.getrusage(resource.RUSAGE_CHILDREN), time.monotonic()
    r = subprocess.run([f"{build}/cli/orbix-flash", *ports, "--yes", "--quiet", "--trace", "firmware", image],
                       capture_output=True, text=True, timeout=600)
    wall, after = time.monotonic() - start, resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        sys.exit(f"orbix-flash failed: {r.stderr[-500:]}")
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return r.stderr, cpu / wall


def run(build, image, baud, through_server=False):
    with keypads(build, baud, 1) as devices:
        if not through_server:
            return data_phase(flash(build, devices, image)[0])
        with ser2net(devices, os.path.dirname(image)) as ports:
            return data_phase(flash(build, ports, image)[0])


def report(label, baud, results):
    seconds = [r[0] for r in results]
    turnaround = statistics.median(r[1] for r in results)
    rate = IMAGE_BYTES / statistics.median(seconds)
    bound = 124 * (baud / 10) / (129 + 4)
    chunk_ms = (129 + 4) * 10 / baud * 1000
    print(f"{label:>15}: {rate:9.0f} image bytes/s (median of {len(results)}), bound {bound:9.0f}, "
          f"ratio {rate / bound:.3f}; data phase {min(seconds):.3f}-{max(seconds):.3f} s; "
          f"loader turnaround {turnaround:.3f} ms a chunk ({turnaround / chunk_ms:.1%} of its wire time)")
    return rate


def run_gang(build, image):
    """Each gang keypad's data phase in seconds (in --port order), and orbix-flash's share of one core."""
    with keypads(build, GANG_BAUD, GANG_SIZE) as devices:
        trace, cpu_share = flash(build, devices, image)
    lines = trace.splitlines()
    seconds = [data_phase("\n".join(line[len(d) + 2:] for line in lines if line.startswith(d + ": ")))[0]
               for d in devices]
    return seconds, cpu_share


def spread(values, form):
    return f"{format(statistics.median(values), form)}, {format(min(values), form)}-{format(max(values), form)}"


def bench_gang(build, image, runs):
    lone, rates, cpu = [], [], []
    for _ in range(runs):
        lone.append(IMAGE_BYTES / run(build, image, GANG_BAUD)[0])
        seconds, share = run_gang(build, image)
        rates.append([IMAGE_BYTES / s for s in seconds])
        cpu.append(share)
    print(f"gang of {GANG_SIZE} at {GANG_BAUD} baud, each run against one keypad alone ({runs} runs; median, range):")
    print(f"  alone      {spread(lone, '.0f')} image bytes/s")
    for k in range(GANG_SIZE):
        ratio = [r[k] / alone for r, alone in zip(rates, lone)]
        print(f"  keypad {k + 1:<3} {spread([r[k] for r in rates], '.0f')} image bytes/s; ratio {spread(ratio, '.3f')}")
    worst = min(r / alone for rs, alone in zip(rates, lone) for r in rs)
    print(f"  lowest ratio {worst:.3f} (target >= 0.95); orbix-flash CPU {spread(cpu, '.1%')} of one core "
          "(target < 10%)")


def fleet_flash(build, ports, image, tmp, output=("--quiet",)):
    """One orbix-flash updating the ports listed in a file, FLEET_JOBS at a time
    (its output thrown away): its exit code, its records, CPU share of one core,
    peak resident bytes, most threads and wall seconds."""
    listing = os.path.join(tmp, "fleet.txt")
    with open(listing, "w") as f:
        f.writelines(f"{port} unit-{i + 1}\n" for i, port in enumerate(ports))
    before, start = resource.getrusage(resource.RUSAGE_CHILDREN), time.monotonic()
    log = os.path.join(tmp, "fleet.jsonl")
    with contextlib.suppress(FileNotFoundError):
        os.remove(log)
    proc = subprocess.Popen([f"{build}/cli/orbix-flash", "--ports-from", listing, "--jobs", str(FLEET_JOBS),
                             "--yes", *output, "--log", log, "firmware", image],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak, threads = 0, 0
    while proc.poll() is None:
        with contextlib.suppress(OSError), open(f"/proc/{proc.pid}/status") as status:
            fields = dict(line.split(":", 1) for line in status)
            # An exiting process has no memory lines left.
            peak = max(peak, int(fields.get("VmHWM", "0 kB").split()[0]) * 1024)
            threads = max(threads, int(fields["Threads"]))
        time.sleep(0.2)
    wall, after = time.monotonic() - start, resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    # The largest child reaped so far: orbix-flash, or an earlier one (an upper bound).
    peak = max(peak, after.ru_maxrss * 1024)
    with open(log) as records:
        # Each update's begin record comes before its result.
        results = [r for r in (json.loads(line) for line in records) if r.get("type") == "result"]
    return proc.returncode, results, cpu / wall, peak, threads, wall


def session_rate(result):
    return result["image_length"] / result["seconds"]


def bench_fleet(build, runs, tmp):
    image = os.path.join(tmp, "fleet.s")
    data = write_image(image, FLEET_IMAGE_BYTES)
    lone = []
    for _ in range(runs):
        with keypads(build, GANG_BAUD, 1) as devices, ser2net(devices, tmp) as ports:
            code, results, *_ = fleet_flash(build, ports, image, tmp)
            if code != 0:
                sys.exit("the lone keypad's update failed")
            lone.append(session_rate(results[0]))
    alone = statistics.median(lone)
    dumps = [os.path.join(tmp, f"keypad{i}") for i in range(FLEET_SIZE)]
    for d in dumps:
        os.makedirs(d, exist_ok=True)
    with keypads(build, GANG_BAUD, FLEET_SIZE, dumps) as devices, ser2net(devices, tmp) as ports:
        code, results, cpu, peak, threads, wall = fleet_flash(build, ports, image, tmp)
        # The same fleet again with every event as JSON on a pipe: the CPU that output costs.
        json_cpu = fleet_flash(build, ports, image, tmp, ("--json",))[2]
    exact = 0
    for d in dumps:
        with contextlib.suppress(OSError), open(os.path.join(d, "firmware.bin"), "rb") as f:
            exact += f.read() == data
    ratios = [session_rate(r) / alone for r in results if r["outcome"] == "ok"]
    print(f"fleet of {FLEET_SIZE} through ser2net, --jobs {FLEET_JOBS}, {FLEET_IMAGE_BYTES} byte image at "
          f"{GANG_BAUD} baud: exit {code}, {len(results)} results, {exact} of {FLEET_SIZE} keypads byte-exact, "
          f"{wall:.1f} s")
    print(f"  alone {spread(lone, '.0f')} image bytes/s a session; fleet keypads' ratio to it "
          f"{spread(ratios, '.3f')} (target >= 0.95), {sum(r < 0.95 for r in ratios)} below 0.95")
    print(f"  orbix-flash CPU {cpu:.1%} of one core (target < 10%; {json_cpu:.1%} with --json), peak resident "
          f"{peak / 1e6:.1f} MB (target < 200 MB), at most {threads} threads")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    if len(sys.argv) > 3 and sys.argv[3] == "fleet":
        with tempfile.TemporaryDirectory() as tmp:
            print(f"load average {os.getloadavg()[0]:.2f}")
            bench_fleet(build, runs, tmp)
            print(f"load average {os.getloadavg()[0]:.2f}")
        return
    with tempfile.TemporaryDirectory() as tmp:
        image = os.path.join(tmp, "bench.s")
        write_image(image)
        print(f"image {IMAGE_BYTES} bytes, {runs} runs per rate; load average {os.getloadavg()[0]:.2f}")
        direct = {}
        for baud in RATES:
            direct[baud] = report(f"{baud} baud", baud, [run(build, image, baud) for _ in range(runs)])
        if os.path.exists(SER2NET):
            served = report(f"{SERVER_RATE} ser2net", SERVER_RATE,
                            [run(build, image, SERVER_RATE, through_server=True) for _ in range(runs)])
            print(f"through ser2net (RFC 2217) at {SERVER_RATE} baud: {served / direct[SERVER_RATE]:.3f} "
                  "of the direct rate")
        else:
            print("ser2net is not installed: no run through a serial device server")
        bench_gang(build, image, runs)
        if os.path.exists(SER2NET):
            bench_fleet(build, runs, tmp)
        print(f"load average {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
