#!/usr/bin/env python3
"""The device's driver binds to the 32-bit COREDLL.dll of Wine as it would to
the device's core library:

  coredll-imports-test.py RAVELINK_DLL DRIVER_DEF COREDLL_DLL COREDLL_DEF MINGW_LIB_DIR

- RAVELINK_DLL (the device-check build's) is a 32-bit PE image that imports
  COREDLL.dll alone, and every name it imports is exported by COREDLL_DLL;
- every name of DRIVER_DEF (the calls the driver links against, with the
  argument bytes of its stdcall names) is an export of COREDLL_DEF with the
  same argument bytes, or with none where the driver's has none;
- every export of COREDLL_DEF names a function of its own argument bytes:
  the stand-in's own (CoreX@N) by the same N, a Win32 call it forwards by the
  bytes the cross compiler's import library of that DLL declares.

Prints each fault found and exits 1 if there was one.
"""

import os
import re
import subprocess
import sys

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
NM = os.environ.get("NM", "i686-w64-mingw32-nm")


def pe_headers(path):
    """The headers of a 32-bit PE image; a program ends with the reason otherwise."""
    done = subprocess.run([OBJDUMP, "-p", path], capture_output=True, text=True)
    if done.returncode != 0 or not re.search(r"^Magic\s+010b", done.stdout, re.M):
        sys.exit(f"FAIL {path} is not a 32-bit PE image: {done.stderr.strip()}")
    return done.stdout


def exported_names(headers):
    names, on = set(), False
    for line in headers.splitlines():
        if "[Ordinal/Name Pointer] Table" in line:
            on = True
        elif on and not line.strip():
            on = False
        elif on:
            names.add(line.split()[-1])
    return names


def imports(headers):
    """{dll: [names]} from the import tables."""
    found, dll = {}, None
    for line in headers.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1)
            found.setdefault(dll, [])
        elif dll and re.match(r"\s*[0-9a-f]+\s+\d+\s+\S+$", line):
            found[dll].append(line.split()[-1])
        elif dll and not line.strip() and found[dll]:
            dll = None
    return found


def def_exports(path):
    """[(name, bytes or None, target)] of a .def file's EXPORTS."""
    entries, on = [], False
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split(";")[0].strip()
            if line == "EXPORTS":
                on = True
            elif on and line:
                left, _, target = (part.strip() for part in line.partition("="))
                name, _, size = left.partition("@")
                entries.append((name, int(size) if size else None, target or None))
    return entries


def library_symbols(lib_dir, dll):
    path = os.path.join(lib_dir, f"lib{dll.lower()}.a")
    out = subprocess.run([NM, path], check=True, capture_output=True, text=True).stdout
    return {line.split()[-1] for line in out.splitlines() if re.search(r" [TI] ", line)}


def main(driver, driver_def, coredll, coredll_def, lib_dir):
    faults = []
    headers = pe_headers(driver)
    driver_imports = imports(headers)
    if set(driver_imports) != {"COREDLL.dll"}:
        faults.append(f"{driver} imports from {sorted(driver_imports)}, not COREDLL.dll alone")
    stand_in = exported_names(pe_headers(coredll))
    for name in driver_imports.get("COREDLL.dll", []):
        if name not in stand_in:
            faults.append(f"{driver} imports {name}, which {coredll} does not export")

    ours = {name: (size, target) for name, size, target in def_exports(coredll_def)}
    for name, size, _ in def_exports(driver_def):
        if name not in ours:
            faults.append(f"{name} of {driver_def} is not an export of {coredll_def}")
        elif ours[name][0] != size:
            faults.append(f"{name}: {size} argument bytes in {driver_def}, {ours[name][0]} in {coredll_def}")

    libraries = {}
    for name, (size, target) in sorted(ours.items()):
        if name not in stand_in:
            faults.append(f"{name} is in {coredll_def} but not exported by {coredll}")
        own = re.fullmatch(r"(Core\w+?)(?:@(\d+))?", target or "")
        if own:
            target_size = int(own.group(2)) if own.group(2) else None
            if target_size != size:
                faults.append(f"{name}@{size} is bound to {target}, of other argument bytes")
            continue
        dll, _, call = target.partition(".")
        if size is None:
            continue  # the C runtime's calls take their arguments as C does
        if dll not in libraries:
            libraries[dll] = library_symbols(lib_dir, dll)
        if f"_{call}@{size}" not in libraries[dll]:
            declared = sorted(s for s in libraries[dll] if re.fullmatch(rf"_{call}@\d+", s))
            faults.append(f"{name}@{size} forwards to {target}, declared as {declared or 'nothing'}")

    for fault in faults:
        print(f"FAIL {fault}")
    print(f"{len(driver_imports.get('COREDLL.dll', []))} imports of the driver, {len(ours)} exports of the stand-in checked")
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    for path in sys.argv[1:5]:
        if not os.path.exists(path):
            sys.exit(f"FAIL {path} is missing: cmake --build --preset device-check and --preset wine make it")
    sys.exit(main(*sys.argv[1:]))
