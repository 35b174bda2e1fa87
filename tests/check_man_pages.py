#!/usr/bin/env python3
"""Checks one manual page against the program it documents.

  check_man_pages.py --page PAGE --program BIN --main MAIN.cpp [--groff G] [--man M]

- The page renders without a single warning under groff -mandoc -Tutf8 -ww
  and, where man-db is there, under man --warnings (what lintian runs).
- It has the sections a page of this suite needs (ENVIRONMENT and FILES for
  a program that reads the locale), a lower-case .Nd, and its option list
  is introduced by "The options are as follows:" and .Bl -tag -width Ds.
- The options the program accepts are found by running it: for every
  letter L of [A-Za-z0-9], "-L" and "-L0" (for an option that takes a value
  joined to it); L is accepted unless both are refused as unknown. Each
  accepted letter must have its .It Fl entry and appear in the SYNOPSIS,
  and the page may document no other option. (MAIN.cpp only tells whether
  the program reads the locale.)
- The statuses of -h, -v and an unknown option are listed under EXIT STATUS
  in an item that says so.
- Every literal display in EXAMPLES or DIAGNOSTICS that starts with a "$ "
  line is run: each "$ " command goes to bash (in an empty folder, with the
  program's folder first in PATH) and what it writes on standard output and
  standard error together must be the lines that follow it, to the byte
  apart from trailing blanks, which a page does not carry.
"""

import argparse
import os
import re
import string
import subprocess
import sys

from transcripts import run_block

failures = []


def fail(message):
    failures.append(message)


def run(argv, **kw):
    return subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, timeout=30, **kw)


def check_rendering(page, groff, man):
    r = run([groff, "-mandoc", "-Tutf8", "-ww", "-z", page])
    if r.returncode != 0 or r.stderr:
        fail(f"groff: status {r.returncode}\n{r.stderr.decode(errors='replace')}")
    if man:
        env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
        r = run([man, "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page], env=env)
        if r.returncode != 0 or r.stderr:
            fail(f"man --warnings: status {r.returncode}\n{r.stderr.decode(errors='replace')}")


def sections(text):
    """Maps each .Sh title to the source lines under it."""
    found, current = {}, None
    for line in text.splitlines():
        if line.startswith(".Sh "):
            current = line[4:].strip().strip('"')
            found[current] = []
        elif current is not None:
            found[current].append(line)
    return found


def check_structure(text, secs, wants_locale):
    needed = ["NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "EXAMPLES", "DIAGNOSTICS", "SEE ALSO"]
    if wants_locale:
        needed += ["ENVIRONMENT", "FILES"]
    for name in needed:
        if name not in secs:
            fail(f"no {name} section")
    nd = re.search(r"^\.Nd (.)", text, re.M)
    if not nd or not nd.group(1).islower():
        fail(".Nd missing or not in lower case")
    if not re.search(r"^The options are as follows:\n\.Bl -tag -width Ds$", text, re.M):
        fail('no "The options are as follows:" with .Bl -tag -width Ds')


REFUSED = re.compile(rb"invalid option flag|Unrecognized option|not recognized")


def refused(program, argument):
    return REFUSED.search(run([program, argument]).stderr) is not None


def accepted_options(program):
    return {c for c in string.ascii_letters + string.digits
            if not (refused(program, f"-{c}") and refused(program, f"-{c}0"))}


def check_options(program, secs):
    letters = accepted_options(program)
    if not letters:
        fail("the program accepts no option")
    listed = set(re.findall(r"^\.It Fl (\w)", "\n".join(sum(secs.values(), [])), re.M))
    synopsis = "".join(re.findall(r"Fl (\w+)", "\n".join(secs.get("SYNOPSIS", []))))
    for c in sorted(letters):
        if c not in listed:
            fail(f"option -{c} has no .It Fl {c} entry")
        if c not in synopsis:
            fail(f"option -{c} is not in the SYNOPSIS")
    for c in sorted(listed - letters):
        fail(f"the page documents -{c}, which the program does not accept")
    return run([program, "-h"]).returncode, run([program, "-v"]).returncode, min(
        (c for c in string.ascii_letters if c not in letters), default="x")


def check_statuses(program, secs, help_status, version_status, unknown):
    items, current = {}, None
    for line in secs.get("EXIT STATUS", []):
        m = re.match(r"\.It (\d+)$", line)
        if m:
            current = int(m.group(1))
            items[current] = ""
        elif current is not None:
            items[current] += " " + line
    unknown_status = run([program, f"-{unknown}"]).returncode
    for status, word in ((help_status, "help"), (version_status, "version"), (unknown_status, "option")):
        if word not in items.get(status, "").lower():
            fail(f"EXIT STATUS: status {status} (given for {word}) is not described as such")


# The roff escapes the pages use in displays, and what they stand for.
ESCAPES = {r"\e": "\\", r"\(:o": "\u00f6", r"\('e": "\u00e9", r"\(Eu": "\u20ac", r"\-": "-", r"\&": ""}


def unroff(line):
    def repl(m):
        if m.group(0) not in ESCAPES:
            fail(f"unknown escape {m.group(0)} in an example; add it to ESCAPES")
            return m.group(0)
        return ESCAPES[m.group(0)]
    return re.sub(r"\\(\(..|.)", repl, line)


def displays(secs):
    for name in ("EXAMPLES", "DIAGNOSTICS"):
        block = None
        for line in secs.get(name, []):
            if line.startswith(".Bd -literal"):
                block = []
            elif line.startswith(".Ed") and block is not None:
                if block and block[0].startswith("$ "):
                    yield block
                block = None
            elif block is not None:
                block.append(unroff(line))


def check_examples(program, secs):
    ran = 0
    for block in displays(secs):
        for command, expected, got in run_block(block, os.path.dirname(os.path.abspath(program)),
                                                strip_trailing_blanks=True):
            if got != expected:
                fail(f"example `{command}` writes\n" + "\n".join(got) + "\nbut the page shows\n"
                     + "\n".join(expected))
            ran += 1
    if ran == 0:
        fail("no example with a '$ ' command line")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--page", required=True)
    ap.add_argument("--program", required=True)
    ap.add_argument("--main", required=True)
    ap.add_argument("--groff", default="groff")
    ap.add_argument("--man", default="")
    a = ap.parse_args()
    text = open(a.page, encoding="ascii").read()
    secs = sections(text)
    check_rendering(a.page, a.groff, a.man)
    check_structure(text, secs, "setlocale" in open(a.main, encoding="utf-8").read())
    check_statuses(a.program, secs, *check_options(a.program, secs))
    check_examples(a.program, secs)
    for message in failures:
        print(f"{os.path.basename(a.page)}: {message}", file=sys.stderr)
    print(f"{os.path.basename(a.page)}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
