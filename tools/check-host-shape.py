#!/usr/bin/env python3
"""Checks the shape of the host layer; exits 1 with what is wrong.

  check-host-shape.py LIBCEHOST_SO

1. Includes run downward only. The program side (coredll/, gwes/, mfc/)
   and the device side (device/) both include the contract (common/) and
   the public headers (include/), never each other's files; the contract
   includes only the platform's headers; and no circle runs across folders.
2. Every platform call that libcehost.so exports has a caller outside the
   host's program side, or a reason below to stay.
"""
import collections
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HOST = os.path.join(ROOT, "host")

# The platform's rules that both stand-ins of the core library share (the
# host and Wine's): headers alone, of the platform's side.
RULES = os.path.join(ROOT, "platform")

# Where a quoted include is looked for, after the including file's folder.
INCLUDE_DIRS = [HOST, os.path.join(HOST, "include"), os.path.join(HOST, "device", "include"),
                os.path.join(HOST, "mfc", "include"), RULES]

# Folder -> side. include/ce and the top-level platform headers are the
# platform's; include/cehost is the program side's public face.
SIDE = {
    "common": "contract",
    "include/ce": "platform",
    "rules": "platform",
    "include/cehost": "program",
    "coredll": "program",
    "gwes": "program",
    "mfc": "program",
    "device": "device",
}
# Which sides' folders a side may include, besides its own folder.
MAY_INCLUDE = {
    "platform": {"platform"},
    "contract": {"platform", "contract"},
    "program": {"platform", "contract", "program"},
    # The device process makes platform calls of its own, through the public headers.
    "device": {"platform", "contract", "device", "public"},
}
PUBLIC = {"include/ce", "include/cehost"}

# Platform calls the host keeps although no program calls them.
KEPT = {
    "GetSysColor": "DefWindowProcW answers the WM_CTLCOLOR messages with the system colours",
    "GetSysColorBrush": "DefWindowProcW answers the WM_CTLCOLOR messages with the system brushes",
    "GetWindowTextLengthW": "DefWindowProcW answers WM_GETTEXTLENGTH with it",
    "LoadImageW": "LoadBitmapW and LoadIconW load through it",
}
# Where a caller of a platform call may be.
CALLERS = ["logger", "splitter", "tools", "tests", "fuzz", "bench", "host/mfc", "host/device"]


def folder_of(path):
    if os.path.dirname(path) == RULES:
        return "rules"
    rel = os.path.relpath(path, HOST).replace(os.sep, "/")
    if rel.startswith("device/include/"):
        return "device"
    if rel.startswith("mfc/"):
        return "mfc"
    if rel.startswith("include/"):
        return "include/cehost" if rel.startswith("include/cehost/") else "include/ce"
    return rel.split("/")[0]


def resolve(including, name):
    for base in [os.path.dirname(including)] + INCLUDE_DIRS:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def check_includes():
    problems = []
    edges = collections.defaultdict(set)
    for dirpath, _, files in os.walk(HOST):
        for file in files:
            if not file.endswith((".h", ".cpp")):
                continue
            path = os.path.join(dirpath, file)
            source = folder_of(path)
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    match = re.match(r'\s*#\s*include\s*"([^"]+)"', line)
                    if not match:
                        continue
                    target_path = resolve(path, match.group(1))
                    where = f"{os.path.relpath(path, ROOT)}:{number}"
                    if not target_path:
                        problems.append(f"{where}: {match.group(1)} is not in the host")
                        continue
                    target = folder_of(target_path)
                    if target == source:
                        continue
                    edges[source].add(target)
                    kinds = {SIDE[target]} | ({"public"} if target in PUBLIC else set())
                    if not kinds & MAY_INCLUDE[SIDE[source]]:
                        problems.append(f"{where}: {source}/ ({SIDE[source]} side) includes "
                                        f"{os.path.relpath(target_path, ROOT)} ({SIDE[target]} side)")
    # A circle across folders.
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in sorted(edges[node]):
            if state.get(nxt) == "open":
                problems.append("a circle of includes: " + " -> ".join(trail[trail.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, trail + [nxt])
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            visit(node, [node])
    return problems


def check_exports(library):
    # Platform calls are C functions; the wide runtime's are C++ overloads in
    # no namespace. Everything else (cehost::...) is the host's own.
    symbols = subprocess.run(["nm", "-D", "-C", "--defined-only", library], check=True, capture_output=True,
                             text=True).stdout.split("\n")
    calls = set()
    for symbol in symbols:
        parts = symbol.split(" ", 2)
        if len(parts) == 3 and parts[1] in "TW" and "::" not in parts[2]:
            calls.add(parts[2].split("(")[0])
    calls = sorted(calls)
    sources = []
    for folder in CALLERS:
        for dirpath, _, files in os.walk(os.path.join(ROOT, folder)):
            for file in files:
                if file.endswith((".h", ".cpp")):
                    with open(os.path.join(dirpath, file), encoding="utf-8") as f:
                        sources.append(f.read())
    text = "\n".join(sources)
    problems = []
    for call in calls:
        if call in KEPT or re.search(r"\b" + re.escape(call) + r"\b", text):
            continue
        problems.append(f"{call}: exported by {os.path.basename(library)}, and nothing calls it")
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    problems = check_includes() + check_exports(sys.argv[1])
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
