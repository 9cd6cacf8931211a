#!/usr/bin/env python3
"""Checks what the built modules show to the outside.

Linux module: exactly one defined dynamic symbol, EntryPointFunc.
Windows module (when given): the export table is exactly EntryPointFunc, the
imports are system DLLs only, and the resources hold PiPL 16000 in language
1033 (English, United States).
"""
import re
import subprocess
import sys

SYSTEM_DLL = re.compile(r"^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$", re.I)


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def check_linux(path, failures):
    symbols = [line.split()[-1] for line in run("nm", "-D", "--defined-only", path).splitlines()
               if line.strip()]
    if symbols != ["EntryPointFunc"]:
        failures.append(f"{path}: defined dynamic symbols {symbols}, expected ['EntryPointFunc']")


def check_windows(path, objdump, windres, failures):
    dump = run(objdump, "-p", path)
    exports = []
    in_names = False
    for line in dump.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_names = True
            continue
        if in_names:
            match = re.match(r"^\s+\[\s*\d+\]\s+(\S+)$", line)
            if not match:
                break
            exports.append(match.group(1))
    if exports != ["EntryPointFunc"]:
        failures.append(f"{path}: exports {exports}, expected ['EntryPointFunc']")
    imports = re.findall(r"^\s*DLL Name: (\S+)$", dump, re.M)
    if not imports:
        failures.append(f"{path}: no import table found")
    for dll in imports:
        if not SYSTEM_DLL.match(dll):
            failures.append(f"{path}: imports {dll}, which is not a system DLL")

    # The type name is stored exactly as "PiPL" (Windows looks it up without
    # regard to case, but a resource script would have upper-cased it).
    try:
        rc = run(windres, "-i", path, "-O", "rc")
    except subprocess.CalledProcessError as error:
        failures.append(f"{path}: resources cannot be read: {error.stderr.strip()}")
        return
    blocks = re.findall(r"LANGUAGE (\d+), (\d+)\s+(\d+) \"?([A-Za-z0-9]+)\"?\s*\nBEGIN", rc)
    pipl = [(int(p), int(s), int(i)) for p, s, i, t in blocks if t == "PiPL"]
    if pipl != [(9, 1, 16000)]:
        failures.append(f"{path}: PiPL resources (primary, sub-language, id) {pipl}, "
                        f"expected [(9, 1, 16000)]")


def main():
    if len(sys.argv) not in (2, 5):
        sys.exit("usage: check_exports.py MODULE.so [MODULE.aex OBJDUMP WINDRES]")
    failures = []
    check_linux(sys.argv[1], failures)
    if len(sys.argv) == 5:
        check_windows(sys.argv[2], sys.argv[3], sys.argv[4], failures)
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("exports, imports and resources as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
