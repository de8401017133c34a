#!/usr/bin/env python3
"""What the whole device costs, side by side with gpsd + gpxlogger.

Runs, one after the other, for --seconds each after a warm-up:

  idle device   the device process with the built-in receiver and no program
  idle Wendra   Wendra with its tap port open and no client reading the relay
  whole device  `cedevice run` on the built-in receiver at 1 Hz, logging
  gpsd          gpsd + gpxlogger fed the built-in receiver's bursts, one a
                second, through a pseudo-terminal (gpsd on loopback only)
  poll floor    bench/PollFloor.cpp: a 10 Hz sleep with one question to
                another process, nothing else; the least Wendra's fixed
                100 ms poll of a device port can cost on this machine

and prints CPU seconds per hour and wakeups per second for every process and
thread, and the whole device against gpsd + gpxlogger. CPU is the kernel's
count of time on a CPU (/proc/PID/task/TID/schedstat); a wakeup is a
voluntary context switch (/proc/PID/task/TID/status). Figures move from run
to run and machine to machine; the ratios of one run are what count:

  poller     Wendra's polling thread / the poll floor's poller
  answerer   the device thread that answers it / the poll floor's answerer
  whole      the whole device logging / (poll floor + gpsd + gpxlogger)

each at most 1.25. The polling thread and the device thread that answers it
are the threads of Wendra and of the device process that wake most often
(ten times a second). The whole measurement runs --repeat times (3); the
median of each ratio is printed last.
"""

import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def wendra_names():
    """Wendra's main window title and its Exit button's id, from the logger's headers."""
    with open(os.path.join(HERE, "..", "logger", "LoggerApp.h")) as f:
        suffix = re.search(r'INSTANCE_SUFFIX\[\] = TEXT\("([^"]*)"\)', f.read()).group(1)
    with open(os.path.join(HERE, "..", "logger", "resource.h")) as f:
        exit_id = re.search(r"#define IDC_EXIT (\d+)", f.read()).group(1)
    return "Wendra" + suffix, exit_id


def thread_counts(pid):
    """{tid: (name, cpu_ns, voluntary_switches)} of a live process."""
    counts = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        return counts
    for tid in tids:
        base = f"/proc/{pid}/task/{tid}"
        try:
            with open(f"{base}/comm") as f:
                name = f.read().strip()
            with open(f"{base}/schedstat") as f:
                cpu = int(f.read().split()[0])
            with open(f"{base}/status") as f:
                switches = int(re.search(r"^voluntary_ctxt_switches:\s*(\d+)", f.read(), re.M).group(1))
        except (FileNotFoundError, ProcessLookupError, AttributeError):
            continue  # the thread ended between the listing and the read
        counts[int(tid)] = (name, cpu, switches)
    return counts


class Sample:
    """The cost of named processes over a window of time."""

    def __init__(self, processes):
        self.processes = processes  # {label: pid}
        self.before = {label: thread_counts(pid) for label, pid in processes.items()}
        self.start = time.monotonic()

    def finish(self):
        seconds = time.monotonic() - self.start
        result = {}
        for label, pid in self.processes.items():
            before, after = self.before[label], thread_counts(pid)
            threads = []
            for tid, (name, cpu, switches) in sorted(after.items()):
                cpu0, switches0 = before.get(tid, (name, 0, 0))[1:]
                threads.append((f"{name} ({tid})", (cpu - cpu0) / 1e9 * 3600 / seconds,
                                (switches - switches0) / seconds))
            result[label] = threads
        return result


def report(title, result, out):
    print(f"\n{title}", file=out)
    print(f"  {'process / thread':<34} {'CPU s/h':>9} {'wakeups/s':>10}", file=out)
    totals = {}
    for label, threads in result.items():
        cpu = sum(t[1] for t in threads)
        wakeups = sum(t[2] for t in threads)
        totals[label] = (cpu, wakeups)
        print(f"  {label:<34} {cpu:9.2f} {wakeups:10.1f}", file=out)
        for name, c, w in threads:
            if c >= 0.005 or w >= 0.05:
                print(f"    {name:<32} {c:9.2f} {w:10.1f}", file=out)
    return totals


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            sys.exit(f"device-load: {what} did not happen within {seconds} s")
        time.sleep(0.05)


def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except FileNotFoundError:
        return []


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().split(b"\0")
    except FileNotFoundError:
        return []


def stop(process, seconds=10):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Device:
    """A device process of its own in a fresh root."""

    def __init__(self, cedevice, root, binding):
        self.cedevice, self.root = cedevice, root
        self.process = subprocess.Popen([cedevice, "start", "--foreground", "--root", root,
                                         "--port", f"COM5:={binding}"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(f"{root}/cedevice.sock"), 10, "the device's start")

    def run(self, *args, **kwargs):
        return subprocess.run([self.cedevice, *args, "--root", self.root], check=True, **kwargs)

    def stop(self):
        subprocess.run([self.cedevice, "stop", "--root", self.root], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            stop(self.process)


def capture_bursts(cedevice, work, count):
    """The built-in receiver's bursts, read from its port as a client would."""
    device = Device(cedevice, f"{work}/capture", "sim")
    try:
        cat = subprocess.Popen([cedevice, "cat", "--root", device.root, "COM5:"], stdout=subprocess.PIPE)
        data = b""
        while data.count(b"$GPGGA") <= count:
            chunk = os.read(cat.stdout.fileno(), 4096)
            if not chunk:
                break
            data += chunk
        stop(cat)
    finally:
        device.stop()
    # A burst begins with its $GPGGA.
    parts = data.split(b"$GPGGA")[1:count + 1]
    return [b"$GPGGA" + p for p in parts]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def settled_sample(args, processes):
    """The processes' cost over --seconds, after --warmup."""
    time.sleep(args.warmup)
    sample = Sample(processes)
    time.sleep(args.seconds)
    return sample.finish()


def measure_idle(args, cedevice, work, started, out):
    """The device with no program, then Wendra with its tap open and nothing coming."""
    device = Device(cedevice, f"{work}/idle", "sim")
    try:
        device.run("install", stdout=subprocess.DEVNULL)
        result = settled_sample(args, {"device process (no program)": device.process.pid})
        report("Idle device: no program connected", result, out)

        wendra = subprocess.Popen([f"{device.root}/Program Files/Wendra/Wendra"],
                                  env={**os.environ, "CEDEVICE_ROOT": device.root, "CE_UI": "headless"},
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(wendra)
        result = settled_sample(args, {"Wendra": wendra.pid, "device process": device.process.pid})
        report("Idle Wendra: tap port open, no data", result, out)
        title, exit_id = wendra_names()
        subprocess.run([cedevice, "send", "--root", device.root, title, "WM_COMMAND", exit_id, "0"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wendra.wait(10)
        except subprocess.TimeoutExpired:
            stop(wendra)
    finally:
        device.stop()


def measure_whole(args, cedevice, work, started, out):
    """The whole device, logging the built-in receiver: its threads and totals."""
    run = subprocess.Popen([cedevice, "run", "--root", f"{work}/run", "--ui", "headless", "--seconds",
                            str(args.warmup + args.seconds + 5)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(run)

    def parts():
        found = {}
        for child in children(run.pid):
            argv = command_line(child)
            if argv and argv[0].endswith(b"/Wendra"):
                found["Wendra"] = child
            elif b"cat" in argv:
                found["relay client (cedevice cat)"] = child
        return found

    wait_for(lambda: len(parts()) == 2, 20, "the start of Wendra and the relay client")
    threads = settled_sample(args, {"device process (cedevice run)": run.pid, **parts()})
    totals = report("Whole device: cedevice run on the built-in receiver, logging", threads, out)
    run.wait(args.warmup + 60)
    return threads, totals


def measure_peer(args, tools, bursts, work, started, out):
    """gpsd + gpxlogger on the same bursts through a pseudo-terminal: their totals."""
    master, slave = os.openpty()
    port = str(free_port())
    gpsd = subprocess.Popen([tools["gpsd"], "-N", "-n", "-b", "-S", port, "-F", f"{work}/gpsd.sock",
                             os.ttyname(slave)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(gpsd)

    def listening():
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", int(port))) == 0

    wait_for(listening, 10, "gpsd's start")
    gpxlogger = subprocess.Popen([tools["gpxlogger"], "-f", f"{work}/track.gpx", f"127.0.0.1:{port}"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(gpxlogger)

    fed = 0

    def feed(seconds):
        nonlocal fed
        end = time.monotonic() + seconds
        next_burst = time.monotonic()
        while next_burst < end:
            os.write(master, bursts[fed % len(bursts)])
            fed += 1
            next_burst += 1.0
            time.sleep(max(0.0, next_burst - time.monotonic()))

    feed(args.warmup)
    sample = Sample({"gpsd": gpsd.pid, "gpxlogger": gpxlogger.pid})
    feed(args.seconds)
    totals = report("Peer: gpsd + gpxlogger on the same bursts", sample.finish(), out)
    for process in (gpxlogger, gpsd):
        stop(process)
    os.close(master)
    os.close(slave)
    return totals


def measure_floor(args, floor, started, out):
    """The floor of the design's poll: its threads and totals."""
    poll_floor = subprocess.Popen([floor])
    started.append(poll_floor)
    wait_for(lambda: len(children(poll_floor.pid)) == 1, 10, "the poll floor's start")
    threads = settled_sample(args, {"poll floor": poll_floor.pid,
                                    "poll floor (answering)": children(poll_floor.pid)[0]})
    totals = report("Poll floor: 10 Hz, one question to another process, nothing else", threads, out)
    stop(poll_floor)
    return threads, totals


def compare(whole, peer, floor, out):
    """Prints and answers the run's three ratios from the (threads, totals) of the whole device and the
    floor and the peer's totals."""
    whole_threads, whole_totals = whole
    floor_threads, floor_totals = floor
    costs = {name: (sum(cpu for cpu, _ in totals.values()), sum(w for _, w in totals.values()))
             for name, totals in (("whole device", whole_totals), ("gpsd + gpxlogger", peer),
                                  ("poll floor", floor_totals))}
    print("\nWhole device against gpsd + gpxlogger (this run)", file=out)
    for name, (cpu, wakeups) in costs.items():
        print(f"  {name:<17} {cpu:9.2f} CPU s/h {wakeups:8.1f} wakeups/s", file=out)

    def busiest(threads):
        """The thread that wakes most often: the one that polls, or answers the poll."""
        return max(threads, key=lambda t: t[2])

    poller = busiest(whole_threads["Wendra"])
    answerer = busiest(whole_threads["device process (cedevice run)"])
    ratios = {
        "poller": poller[1] / max(floor_threads["poll floor"][0][1], 1e-9),
        "answerer": answerer[1] / max(floor_threads["poll floor (answering)"][0][1], 1e-9),
        "whole": costs["whole device"][0] / max(costs["poll floor"][0] + costs["gpsd + gpxlogger"][0], 1e-9),
    }
    print("\nAgainst the poll floor (this run; at most 1.25 each)", file=out)
    print(f"  poller    {poller[0]:<24} {ratios['poller']:6.2f}", file=out)
    print(f"  answerer  {answerer[0]:<24} {ratios['answerer']:6.2f}", file=out)
    print(f"  whole     device / (floor + gpsd + gpxlogger) {ratios['whole']:6.2f}", file=out)
    return ratios


def measure(args, cedevice, floor, tools, work, started, out):
    """One run of every measurement; answers the run's three ratios."""
    # The peer's input first: the bursts the built-in receiver sends.
    bursts = capture_bursts(cedevice, work, 20)
    if len(bursts) < 20:
        sys.exit("device-load: the built-in receiver sent too few bursts")
    measure_idle(args, cedevice, work, started, out)
    whole = measure_whole(args, cedevice, work, started, out)
    peer = measure_peer(args, tools, bursts, work, started, out)
    least = measure_floor(args, floor, started, out)
    return compare(whole, peer, least, out)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=60, help="length of each measurement (60)")
    parser.add_argument("--warmup", type=int, default=15, help="seconds before each measurement (15)")
    parser.add_argument("--repeat", type=int, default=3, help="runs of the whole measurement (3)")
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build", "default"),
                        help="the build directory (build/default)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    cedevice = f"{build}/tools/cedevice/cedevice"
    floor = f"{build}/bench/poll_floor"
    for needed in (cedevice, f"{build}/logger/Wendra", floor):
        if not os.access(needed, os.X_OK):
            sys.exit(f"device-load: {needed} is missing; build the default preset first")
    tools = {}
    for tool in ("gpsd", "gpxlogger"):
        tools[tool] = shutil.which(tool, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
        if not tools[tool]:
            sys.exit(f"device-load: {tool} is missing; tools/install-dependencies.sh installs it")

    out = sys.stdout
    runs = []
    for run in range(1, args.repeat + 1):
        work = tempfile.mkdtemp(prefix="device-load.")
        started = []
        try:
            print(f"\n=== run {run} of {args.repeat}: {args.warmup} s warm-up, then {args.seconds} s each; "
                  f"work in {work}", file=out)
            print(f"machine: {os.cpu_count()} CPUs, {os.uname().release}", file=out)
            runs.append(measure(args, cedevice, floor, tools, work, started, out))
        finally:
            for process in started:
                stop(process)
            shutil.rmtree(work, ignore_errors=True)

    print(f"\nRatios against the poll floor, {args.repeat} run(s); the median counts (target: at most 1.25)", file=out)
    print(f"  {'':<10}" + "".join(f"{'run ' + str(i + 1):>8}" for i in range(len(runs))) + f"{'median':>9}", file=out)
    for name in ("poller", "answerer", "whole"):
        values = [r[name] for r in runs]
        print(f"  {name:<10}" + "".join(f"{v:8.2f}" for v in values) + f"{statistics.median(values):9.2f}", file=out)


if __name__ == "__main__":
    main()
