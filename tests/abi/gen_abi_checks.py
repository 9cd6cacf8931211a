#!/usr/bin/env python3
"""Turns abi-layout.tsv into C++ checks of ae_sdk.h (see abi_check.h).

Usage: gen_abi_checks.py TABLE.tsv OUTPUT.cpp

Every table line becomes one check, so a line the header does not declare is
a compile error, not a silent skip. Member paths like "u.fs_d.value" are
offsets from the start of the record.
"""
import re
import sys

IDENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
PATH = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*(\.[A-Za-z_][A-Za-z0-9_]*)*$")
CALL = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*\([A-Za-z0-9_, ]*\)$")


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def fail(number, line, why):
    sys.exit(f"abi table line {number}: {why}: {line!r}")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_abi_checks.py TABLE.tsv OUTPUT.cpp")
    table, output = sys.argv[1], sys.argv[2]
    checks = []
    with open(table, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if fields[0] == "CONST":
                if len(fields) != 3:
                    fail(number, line, "CONST needs a name and a value")
                name, value = fields[1], fields[2]
                if not (IDENT.match(name) or CALL.match(name)):
                    fail(number, line, "constant name")
                if value.startswith('"'):
                    checks.append(f"r.Text({c_string(name)}, {name}, {value});")
                else:
                    int(value)
                    checks.append(f"r.Number({c_string(name)}, static_cast<long long>({name}), "
                                  f"{value}LL);")
            elif fields[0] == "SIG":
                if len(fields) != 4:
                    fail(number, line, "SIG needs a record, a member and a code")
                record, member, code = fields[1], fields[2], fields[3]
                if not IDENT.match(record) or not PATH.match(member):
                    fail(number, line, "record or member name")
                slot = f"std::remove_cvref_t<decltype(std::declval<{record}&>().{member})>"
                checks.append(f"r.Text({c_string('signature ' + record + '.' + member)}, "
                              f"Signature<{slot}>::Get(), {c_string(code)});")
            else:
                if len(fields) != 4:
                    fail(number, line, "a record line needs member, offset and size")
                record, member, offset, size = fields
                if not IDENT.match(record):
                    fail(number, line, "record name")
                int(offset), int(size)
                if member == "*sizeof*":
                    checks.append(f"r.Number({c_string(record + ' sizeof')}, sizeof({record}), "
                                  f"{size});")
                elif member == "*alignof*":
                    checks.append(f"r.Number({c_string(record + ' alignof')}, alignof({record}), "
                                  f"{size});")
                elif member == "*signed*":
                    checks.append(f"r.Number({c_string(record + ' signed')}, "
                                  f"std::is_signed_v<{record}> ? 1 : 0, {size});")
                elif PATH.match(member):
                    checks.append(f"r.Member({c_string(record)}, {c_string(member)}, "
                                  f"offsetof({record}, {member}), "
                                  f"sizeof(std::declval<{record}&>().{member}), {offset}, {size});")
                else:
                    fail(number, line, "member path")
    with open(output, "w", encoding="utf-8") as out:
        out.write("// Generated from abi-layout.tsv by gen_abi_checks.py. Do not edit.\n")
        out.write("#include <cstddef>\n#include <type_traits>\n#include <utility>\n\n")
        out.write('#include "abi_check.h"\n#include "ae_sdk.h"\n\n')
        out.write("namespace abi_layout {\n\n")
        out.write(f"const int kExpectedChecks = {len(checks)};\n\n")
        out.write("void CheckAll(Report& r) {\n")
        for check in checks:
            out.write(f"  {check}\n")
        out.write("}\n\n}  // namespace abi_layout\n")


if __name__ == "__main__":
    main()
