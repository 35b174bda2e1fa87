#!/usr/bin/env python3
"""Holds the programs to the instructions their kernels are dispatched on.

The AVX3_DL kernels are chosen on processors with AVX-512 VBMI, VBMI2, VAES,
VPCLMULQDQ, BITALG and VPOPCNTDQ, without AVX-VNNI, which Highway's list for
the target names as well: so no program may hold a VNNI dot product
(vpdpbusd, vpdpbusds, vpdpwssd, vpdpwssds, in either encoding). The first
program must hold a VBMI2 byte compression, so that the check is known to
read the kernels' code at all.

usage: check_instructions.py OBJDUMP PROGRAM [PROGRAM ...]
"""
import re
import subprocess
import sys


def mnemonics(objdump, program):
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", program], check=True,
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = re.match(r"\s+[0-9a-f]+:\s+(?:\{vex\}\s+|\{evex\}\s+)?([a-z][a-z0-9]*)", line)
        if m:
            yield m.group(1)


def main():
    objdump, programs = sys.argv[1], sys.argv[2:]
    failures = []
    for i, program in enumerate(programs):
        seen = set(mnemonics(objdump, program))
        vnni = sorted(m for m in seen if m.startswith("vpdp"))
        if vnni:
            failures.append(f"{program}: VNNI instructions {', '.join(vnni)}")
        if i == 0 and "vpcompressb" not in seen:
            failures.append(f"{program}: no vpcompressb, so its VBMI2 kernel was not found")
    for f in failures:
        print(f)
    print(f"{len(programs) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
