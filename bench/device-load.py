#!/usr/bin/env python3
"""What the whole device costs, side by side with gpsd + gpxlogger.

Measures for --seconds each after a warm-up (--warmup):

  idle device   the device process with the built-in receiver and no program
  idle Wendra   Wendra with its tap port open and no client reading the relay

and then, all at once in the same windows of time:

  whole device  `cedevice run` on the built-in receiver at 1 Hz, logging
  gpsd          gpsd + gpxlogger fed the built-in receiver's bursts, one a
                second, through a pseudo-terminal (gpsd on loopback only)
  poll floor    bench/PollFloor.cpp: a 10 Hz sleep with one question to
                another process, nothing else; the least Wendra's fixed
                100 ms poll of a device port can cost on this machine

Each takes a fraction of a percent of one core, so they do not disturb one
another, and what moves the machine's figures (other guests, frequency)
moves them alike. It prints CPU seconds per hour and wakeups per second for
every process and thread. CPU is the kernel's count of time on a CPU
(/proc/PID/task/TID/schedstat); a wakeup is a voluntary context switch
(/proc/PID/task/TID/status). Each window gives three ratios:

  poller     Wendra's polling thread / the poll floor's poller
  answerer   the device thread that answers it / the poll floor's answerer
  whole      the whole device logging / (poll floor + gpsd + gpxlogger)

each at most 1.25. Threads are told apart by their names: Wendra's receive
thread is "ReceiveLoop" (the host names a thread after its start routine),
the device's thread that answers it "for TID" with that thread's id, the
floor's two "poller" and "answerer". There are --repeat windows (3), one
after the other; the median of each ratio is printed last.

System calls are counted apart from those windows, since a tracer slows what
it watches: strace attached for --trace-seconds to Wendra idle, to Wendra
logging, to the threads that answer it and to the floor's two, each figure
per poll (a poll is one 100 ms sleep) or per request (one answer sent).
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
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
from wendranames import wendra_names  # noqa: E402


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


class Thread:
    """One thread's cost over a window: CPU s/h and wakeups per second."""

    def __init__(self, name, tid, cpu, wakeups):
        self.name, self.tid, self.cpu, self.wakeups = name, tid, cpu, wakeups

    def label(self):
        return f"{self.name} ({self.tid})"


def named(threads, name, what):
    """The one thread of a window's list with this name."""
    found = [t for t in threads if t.name == name]
    if len(found) != 1:
        sys.exit(f"device-load: {len(found)} threads named {name!r} where {what} should be one")
    return found[0]


def thread_named(pid, name, what):
    """The id of the one live thread of a process with this name."""
    return named([Thread(n, tid, 0, 0) for tid, (n, _, _) in thread_counts(pid).items()], name, what).tid


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
                threads.append(Thread(name, tid, (cpu - cpu0) / 1e9 * 3600 / seconds,
                                      (switches - switches0) / seconds))
            result[label] = threads
        return result


def report(title, result, out):
    print(f"\n{title}", file=out)
    print(f"  {'process / thread':<34} {'CPU s/h':>9} {'wakeups/s':>10}", file=out)
    totals = {}
    for label, threads in result.items():
        cpu = sum(t.cpu for t in threads)
        wakeups = sum(t.wakeups for t in threads)
        totals[label] = (cpu, wakeups)
        print(f"  {label:<34} {cpu:9.2f} {wakeups:10.1f}", file=out)
        for t in threads:
            if t.cpu >= 0.005 or t.wakeups >= 0.05:
                print(f"    {t.label():<32} {t.cpu:9.2f} {t.wakeups:10.1f}", file=out)
    return totals


CALL = re.compile(r"^(?:(\d+)\s+)?([a-z_0-9]+)\(")


def count_calls(targets, seconds, work, strace):
    """The system calls of each target over `seconds`, strace attached to it: targets are
    (pid, whole) pairs, a whole process with all its threads or one thread alone. Answers
    {tid: {syscall: calls}}."""
    tracers = []
    for pid, whole in targets:
        out = f"{work}/strace.{pid}"
        tracers.append((subprocess.Popen([strace, "-qq", *(["-f"] if whole else []), "-o", out, "-p", str(pid)],
                                         stderr=subprocess.DEVNULL), out, pid))
    time.sleep(seconds)
    counts = {}
    for tracer, out, pid in tracers:
        tracer.send_signal(signal.SIGINT)
        tracer.wait(10)
        with open(out) as f:
            for line in f:
                match = CALL.match(line)  # a call resumed, a signal or an exit is no new call
                if not match:
                    continue
                calls = counts.setdefault(int(match.group(1) or pid), {})
                calls[match.group(2)] = calls.get(match.group(2), 0) + 1
    return counts


def polls(calls):
    """A poll is one sleep of 100 ms."""
    return calls.get("clock_nanosleep", 0)


def answers(calls):
    """A request is answered by one send."""
    return calls.get("sendto", 0)


def report_calls(title, rows, out):
    """rows: (what, {syscall: calls}, unit's name, units)."""
    print(f"\n{title}", file=out)
    for what, calls, unit, units in rows:
        top = ", ".join(f"{name} {n}" for name, n in sorted(calls.items(), key=lambda c: -c[1])[:7])
        print(f"  {what:<38} {sum(calls.values()) / max(units, 1):6.2f} a {unit:<8} ({units} {unit}s; {top})",
              file=out)


def process_calls(counts, others):
    """The calls of all the threads counted but the others given."""
    total = {}
    for tid, calls in counts.items():
        if tid not in others:
            for name, n in calls.items():
                total[name] = total.get(name, 0) + n
    return total


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
        receiver = thread_named(wendra.pid, "ReceiveLoop", "Wendra's receive thread")
        answerer = thread_named(device.process.pid, f"for {receiver}", "the device's thread that answers it")
        counts = count_calls([(wendra.pid, True), (answerer, False)], args.trace_seconds, work, args.strace)
        receiving = counts.get(receiver, {})
        report_calls(f"System calls, idle ({args.trace_seconds} s, strace attached)", [
            ("Wendra's receive thread", receiving, "poll", polls(receiving)),
            ("Wendra, all its threads", process_calls(counts, {answerer}), "poll", polls(receiving)),
            ("the device's thread that answers it", counts.get(answerer, {}), "request",
             answers(counts.get(answerer, {}))),
        ], out)
        title, exit_id = wendra_names()
        subprocess.run([cedevice, "send", "--root", device.root, title, "WM_COMMAND", exit_id, "0"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wendra.wait(10)
        except subprocess.TimeoutExpired:
            stop(wendra)
    finally:
        device.stop()


def start_whole(args, cedevice, work, started):
    """The whole device, logging the built-in receiver, for the warm-up and every window: {label: pid}."""
    run = subprocess.Popen([cedevice, "run", "--root", f"{work}/run", "--ui", "headless", "--seconds",
                            str(args.warmup + args.repeat * args.seconds + 30)],
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
    return {"device process (cedevice run)": run.pid, **parts()}


class Peer:
    """gpsd + gpxlogger on the built-in receiver's bursts through a pseudo-terminal, fed once a second
    by a thread of this script until stopped."""

    def __init__(self, tools, bursts, work, started):
        self.master, self.slave = os.openpty()
        port = str(free_port())
        self.gpsd = subprocess.Popen([tools["gpsd"], "-N", "-n", "-b", "-S", port, "-F", f"{work}/gpsd.sock",
                                      os.ttyname(self.slave)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(self.gpsd)

        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", int(port))) == 0

        wait_for(listening, 10, "gpsd's start")
        self.gpxlogger = subprocess.Popen([tools["gpxlogger"], "-f", f"{work}/track.gpx", f"127.0.0.1:{port}"],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(self.gpxlogger)
        self.stopped = threading.Event()
        self.feeder = threading.Thread(target=self.feed, args=(bursts,))
        self.feeder.start()

    def feed(self, bursts):
        fed = 0
        next_burst = time.monotonic()
        while not self.stopped.wait(max(0.0, next_burst - time.monotonic())):
            os.write(self.master, bursts[fed % len(bursts)])
            fed += 1
            next_burst += 1.0

    def pids(self):
        return {"gpsd": self.gpsd.pid, "gpxlogger": self.gpxlogger.pid}

    def stop(self):
        self.stopped.set()
        self.feeder.join()
        for process in (self.gpxlogger, self.gpsd):
            stop(process)
        os.close(self.master)
        os.close(self.slave)


def start_floor(floor, started):
    """The floor of the design's poll: {label: pid}."""
    poll_floor = subprocess.Popen([floor])
    started.append(poll_floor)
    wait_for(lambda: len(children(poll_floor.pid)) == 1, 10, "the poll floor's start")
    return {"poll floor": poll_floor.pid, "poll floor (answering)": children(poll_floor.pid)[0]}


def roles(result, device_label):
    """The threads of a window by their roles: Wendra's receive thread, the device's thread that
    answers it, the floor's poller and its answerer."""
    receiver = named(result["Wendra"], "ReceiveLoop", "Wendra's receive thread")
    return {
        "poller": receiver,
        "answerer": named(result[device_label], f"for {receiver.tid}", "the device's thread that answers it"),
        "floor poller": named(result["poll floor"], "poller", "the floor's poller"),
        "floor answerer": named(result["poll floor (answering)"], "answerer", "the floor's answerer"),
    }


def compare(result, whole, peer, floor, out):
    """Prints and answers one window's three ratios, from its result and the labels of the whole device,
    the peer and the floor."""
    totals = {label: (sum(t.cpu for t in threads), sum(t.wakeups for t in threads))
              for label, threads in result.items()}
    costs = {name: (sum(totals[label][0] for label in labels), sum(totals[label][1] for label in labels))
             for name, labels in (("whole device", whole), ("gpsd + gpxlogger", peer), ("poll floor", floor))}
    print("\n  Whole device against gpsd + gpxlogger and the floor (this window)", file=out)
    for name, (cpu, wakeups) in costs.items():
        print(f"    {name:<17} {cpu:9.2f} CPU s/h {wakeups:8.1f} wakeups/s", file=out)

    threads = roles(result, "device process (cedevice run)")
    ratios = {
        "poller": threads["poller"].cpu / max(threads["floor poller"].cpu, 1e-9),
        "answerer": threads["answerer"].cpu / max(threads["floor answerer"].cpu, 1e-9),
        "whole": costs["whole device"][0] / max(costs["poll floor"][0] + costs["gpsd + gpxlogger"][0], 1e-9),
    }
    print("  Against the poll floor (this window; at most 1.25 each)", file=out)
    print(f"    poller    {threads['poller'].label():<24} {ratios['poller']:6.2f}", file=out)
    print(f"    answerer  {threads['answerer'].label():<24} {ratios['answerer']:6.2f}", file=out)
    print(f"    whole     device / (floor + gpsd + gpxlogger) {ratios['whole']:6.2f}", file=out)
    return ratios


def measure_together(args, cedevice, floor, tools, work, started, out):
    """The whole device, the peer and the floor in the same windows; answers each window's ratios."""
    # The peer's input first: the bursts the built-in receiver sends.
    bursts = capture_bursts(cedevice, work, 20)
    if len(bursts) < 20:
        sys.exit("device-load: the built-in receiver sent too few bursts")
    least = start_floor(floor, started)
    peer = Peer(tools, bursts, work, started)
    try:
        whole = start_whole(args, cedevice, work, started)
        time.sleep(args.warmup)
        windows = []
        for window in range(1, args.repeat + 1):
            sample = Sample({**whole, **peer.pids(), **least})
            time.sleep(args.seconds)
            result = sample.finish()
            report(f"Window {window} of {args.repeat}: the whole device logging the built-in receiver, "
                   "gpsd + gpxlogger on its bursts, and the poll floor", result, out)
            windows.append(compare(result, whole, peer.pids(), least, out))
        # Counted after the windows whose CPU is measured: a tracer slows what it watches.
        device = whole["device process (cedevice run)"]
        receiver = thread_named(whole["Wendra"], "ReceiveLoop", "Wendra's receive thread")
        answerer = thread_named(device, f"for {receiver}", "the device's thread that answers it")
        floor_poller = thread_named(least["poll floor"], "poller", "the floor's poller")
        floor_answerer = thread_named(least["poll floor (answering)"], "answerer", "the floor's answerer")
        counts = count_calls([(whole["Wendra"], True), (answerer, False), (floor_poller, False),
                              (floor_answerer, False)], args.trace_seconds, work, args.strace)
        receiving, answering = counts.get(receiver, {}), counts.get(answerer, {})
        floor_polling, floor_answering = counts.get(floor_poller, {}), counts.get(floor_answerer, {})
        report_calls(f"System calls, logging at 1 Hz ({args.trace_seconds} s, strace attached)", [
            ("Wendra's receive thread", receiving, "poll", polls(receiving)),
            ("Wendra, all its threads", process_calls(counts, {answerer, floor_poller, floor_answerer}), "poll",
             polls(receiving)),
            ("the device's thread that answers it", answering, "request", answers(answering)),
            ("the floor's poller", floor_polling, "poll", polls(floor_polling)),
            ("the floor's answerer", floor_answering, "request", answers(floor_answering)),
        ], out)
        return windows
    finally:
        peer.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=60, help="length of each measurement (60)")
    parser.add_argument("--warmup", type=int, default=15, help="seconds before each measurement (15)")
    parser.add_argument("--repeat", type=int, default=3, help="windows of the whole device, the peer and the floor (3)")
    parser.add_argument("--trace-seconds", type=int, default=10,
                        help="length of each count of system calls, strace attached (10)")
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
    args.strace = shutil.which("strace")
    if not args.strace:
        sys.exit("device-load: strace is missing; tools/install-dependencies.sh strace installs it")
    for tool in ("gpsd", "gpxlogger"):
        tools[tool] = shutil.which(tool, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
        if not tools[tool]:
            sys.exit(f"device-load: {tool} is missing; tools/install-dependencies.sh installs it")

    out = sys.stdout
    work = tempfile.mkdtemp(prefix="device-load.")
    started = []
    try:
        print(f"machine: {os.cpu_count()} CPUs, {os.uname().release}; {args.warmup} s warm-up, then "
              f"{args.seconds} s each; work in {work}", file=out)
        measure_idle(args, cedevice, work, started, out)
        windows = measure_together(args, cedevice, floor, tools, work, started, out)
    finally:
        for process in started:
            stop(process)
        shutil.rmtree(work, ignore_errors=True)

    print(f"\nRatios against the poll floor in the same window, {len(windows)} window(s); the median counts "
          "(target: at most 1.25)", file=out)
    print(f"  {'':<10}" + "".join(f"{'window ' + str(i + 1):>10}" for i in range(len(windows))) + f"{'median':>9}",
          file=out)
    for name in ("poller", "answerer", "whole"):
        values = [w[name] for w in windows]
        print(f"  {name:<10}" + "".join(f"{v:10.2f}" for v in values) + f"{statistics.median(values):9.2f}",
              file=out)

if __name__ == "__main__":
    main()
