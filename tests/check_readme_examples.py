#!/usr/bin/env python3
"""Runs the examples of the README against the built programs.

  check_readme_examples.py --bin-dir DIR README.md

Every fenced block whose first line starts with "$ " is a transcript: each
"$ " command runs under bash (in an empty folder, the programs' folder first
in PATH, LC_ALL=C.UTF-8) and what it writes on standard output and standard
error together must be exactly the lines that follow it, trailing blanks
included. Blocks of plain commands (```sh) are not run here; those of the
section "Large corpora" are run by tests/engines/run_recipe.py.
"""

import argparse
import sys

from transcripts import run_block


def transcripts(lines):
    block = None
    for line in lines:
        if line.startswith("```"):
            if block is None:
                block = []
                continue
            if block and block[0].startswith("$ "):
                yield block
            block = None
        elif block is not None:
            block.append(line)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("readme")
    a = ap.parse_args()
    failures = ran = 0
    for block in transcripts(open(a.readme, encoding="utf-8").read().split("\n")):
        for command, expected, got in run_block(block, a.bin_dir):
            ran += 1
            if got != expected:
                failures += 1
                print(f"README example `{command}` writes:\n" + "\n".join(map(repr, got))
                      + "\nbut the README shows:\n" + "\n".join(map(repr, expected)), file=sys.stderr)
    print(f"README examples: {ran - failures} of {ran} as shown")
    return 1 if failures or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
