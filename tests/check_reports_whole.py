#!/usr/bin/env python3
"""Runs many runetally processes side by side on one standard error (xargs -P 8)
over files that are not UTF-8, and checks that the error output is exactly the
reports of all files, each whole and after its own file name.

usage: check_reports_whole.py RUNETALLY [WRAPPER ...]"""
import os
import re
import subprocess
import sys
import tempfile

runetally, wrapper = sys.argv[1], sys.argv[2:]
explanation = ("The sequence is not a valid UTF-8 character because\n"
               "the first byte, value 0xE2, bit pattern 11100010,\n"
               "requires 2 continuation bytes, but of the immediately\n"
               "following bytes, byte 2, value 0x41, bit pattern\n"
               "01000001 is not a valid continuation byte, since\n"
               "its high bits are not 10.\n")
with tempfile.TemporaryDirectory() as tmp:
    expected = {}
    for i in range(600):
        name = os.path.join(tmp, f"bad-{i:04d}.txt")
        with open(name, "wb") as f:
            f.write(b"x" * i + b"\xe2\x82A")
        expected[name] = (f"{name}: Invalid UTF-8 code encountered at line 0, character {i}, byte {i}.\n"
                          + explanation)
    names = "\0".join(expected).encode()
    run = subprocess.run(["xargs", "-0", "-P", "8", "-n", "3", *wrapper, runetally, "-k"],
                         input=names, capture_output=True)
    text = run.stderr.decode()
    seen, pos = set(), 0
    while pos < len(text):
        match = re.compile(r"([^\n:]+): ").match(text, pos)
        report = expected.get(match.group(1)) if match else None
        if report is None or not text.startswith(report, pos) or match.group(1) in seen:
            sys.exit(f"a report broken or out of place at byte {pos}: {text[pos:pos + 200]!r}")
        seen.add(match.group(1))
        pos += len(report)
    if seen != set(expected) or run.stdout:
        sys.exit(f"{len(expected) - len(seen)} reports missing, or a table written")
    print(f"{len(seen)} reports, each whole and after its own name")
