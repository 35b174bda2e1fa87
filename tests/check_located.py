#!/usr/bin/env python3
"""Holds runetally -e to Python's UTF-8 decoder.

  check_located.py --bin-dir DIR [--wrapper CMD] [--seed N]

Python's decoder resynchronises by maximal subparts; an error handler
records the span of each ill-formed sequence it reports. Encoded surrogates,
which Python rejects, are legal to runetally unless -s: the handler takes a
whole one as a character, and ED A0..BF without its last byte as one
ill-formed sequence. The reason of each sequence is derived from its bytes
and the byte after it, and its line and column from the bytes before it.

Random and structured inputs (every reason at the edges of the small
blocks that the test build reads, and of the program's own blocks) go
through runetally_smallblock as files (many per run, on every vector target
that RUNEKIT_VECTOR_TARGET can choose), through pipes fed in pieces, and as
standard input that a reader before it had begun; a few large ones through
runetally itself.
"""

import argparse
import codecs
import os
import random
import shlex
import subprocess
import sys
import tempfile
import threading

SMALL_BLOCK = 61        # tally_file_read_size of the test build
LARGE_BLOCK = 1 << 18   # and of the program

VALID = [b"a", b"\n", b"z", b"\xc3\xa9", b"\xe2\x82\xac", b"\xf0\x9f\x98\x80", b"\xed\x9f\xbf",
         b"\xee\x80\x80", b"\xf4\x8f\xbf\xbf", b"\xed\xa0\x80", b"\xed\xbf\xbf"]
BAD = [b"\x80", b"\xbf", b"\xc0", b"\xc1", b"\xf5", b"\xff", b"\xc0\x80", b"\xe0\x80\x80",
       b"\xf8\x88\x80\x80\x80", b"\xe2\x82", b"\xe2\x82A", b"\xf0\x9f\x98", b"\xf0\x80", b"\xf4\x90\x80\x80",
       b"\xed\xa0", b"\xed\xa0\x80", b"\xc3", b"\xe0\x9f\x80", b"\xf0\x8f\xbf\xbf", b"\xe2\n"]


def is_cont(b):
    return 0x80 <= b <= 0xBF


def spans(data, strict):
    """The (start, end) of each ill-formed sequence, by Python's decoder."""
    found = []

    def handler(exc):
        s, e = exc.start, exc.end
        b = exc.object
        if not strict and b[s] == 0xED and s + 1 < len(b) and 0xA0 <= b[s + 1] <= 0xBF:
            if s + 2 < len(b) and is_cont(b[s + 2]):
                return ("\ufffd", s + 3)  # a whole encoded surrogate: a character here
            e = s + 2
        found.append((s, e))
        return ("\ufffd", e)

    codecs.register_error("located_oracle", handler)
    data.decode("utf-8", "located_oracle")
    return found


def hexes(bs):
    return " ".join("0x%02X" % b for b in bs)


def reason(data, s, e):
    seq, b0 = data[s:e], data[s]
    n = data[e] if e < len(data) else None
    if len(seq) == 1 and is_cont(b0):
        return "continuation byte 0x%02X without a lead byte" % b0
    if len(seq) == 1 and (b0 in (0xC0, 0xC1) or b0 >= 0xF5):
        return "byte 0x%02X is never used in UTF-8" % b0
    if n is None:
        return "%s is cut short by the end of the input" % hexes(seq)
    if not is_cont(n):
        size = 2 if b0 < 0xE0 else 3 if b0 < 0xF0 else 4
        return "%s is cut short: a %d-byte character, then 0x%02X, not a continuation byte" % (hexes(seq), size, n)
    assert len(seq) == 1
    if b0 in (0xE0, 0xF0):
        return "0x%02X 0x%02X would be an overlong form" % (b0, n)
    if b0 == 0xF4:
        return "0xF4 0x%02X would be above U+10FFFF" % n
    assert b0 == 0xED
    return "0xED 0x%02X would be a surrogate" % n


def expected(data, name, strict):
    lines = []
    for s, e in spans(data, strict):
        line = data.count(b"\n", 0, s) + 1
        column = s - (data.rfind(b"\n", 0, s) + 1) + 1
        lines.append(b"%s:%d:%d: offset %d: %s\n" % (name.encode(), line, column, s, reason(data, s, e).encode()))
    return b"".join(lines)


def random_input(rng):
    parts = []
    for _ in range(rng.randrange(0, 120)):
        r = rng.random()
        if r < 0.6:
            parts.append(rng.choice(VALID))
        elif r < 0.9:
            parts.append(rng.choice(BAD))
        else:
            parts.append(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 6))))
    return b"".join(parts)


def structured_inputs(block):
    """Each ill-formed piece at every offset around a block edge, after
    text of one-, two- and three-byte characters, and at the end."""
    out = []
    for piece in BAD:
        for fill in (b"a", b"\xc3\xa9", b"\xe2\x82\xac\n"):
            head = (fill * (block // len(fill) + 2))
            for at in range(block - 5, block + 2):
                out.append(head[:at] + piece + b"tail\n")
                out.append(head[:at] + piece)
    return out


class Runner:
    def __init__(self, bin_dir, wrapper):
        self.bin_dir, self.wrapper = bin_dir, shlex.split(wrapper)
        self.failures = 0
        self.checked = 0

    def run(self, prog, args, target=None, **kw):
        env = dict(os.environ, RUNEKIT_VECTOR_TARGET=target) if target else None
        return subprocess.run(self.wrapper + [os.path.join(self.bin_dir, prog)] + args,
                              capture_output=True, timeout=60, env=env, **kw)

    def compare(self, what, r, want_out):
        self.checked += 1
        want_status = 1 if want_out else 0
        if r.stdout == want_out and r.returncode == want_status and not r.stderr:
            return
        self.failures += 1
        if self.failures <= 5:
            print(f"FAIL {what}: status {r.returncode} (want {want_status}), stderr {r.stderr[:200]!r}",
                  file=sys.stderr)
            got, want = r.stdout.splitlines(), want_out.splitlines()
            for i, (g, w) in enumerate(zip(got + [b""] * len(want), want + [b""] * len(got))):
                if g != w:
                    print(f"  line {i + 1}: got {g!r}\n           want {w!r}", file=sys.stderr)
                    break

    def files(self, prog, inputs, names, strict, target=None):
        args = (["-e", "-s"] if strict else ["-e"]) + names
        want = b"".join(expected(d, n, strict) for d, n in zip(inputs, names))
        self.compare(f"{prog} {len(inputs)} files strict={strict} target={target}", self.run(prog, args, target), want)

    def pipe(self, prog, data, strict, piece):
        p = subprocess.Popen(self.wrapper + [os.path.join(self.bin_dir, prog), "-e"] + (["-s"] if strict else []),
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

        def feed():
            for i in range(0, len(data), piece):
                p.stdin.write(data[i:i + piece])
                p.stdin.flush()
            p.stdin.close()

        t = threading.Thread(target=feed)
        t.start()
        out, err = p.stdout.read(), p.stderr.read()
        p.wait()
        t.join()
        self.compare(f"{prog} pipe of {len(data)} bytes in pieces of {piece} strict={strict} {data[:40]!r}",
                     subprocess.CompletedProcess([], p.returncode, out, err), expected(data, "-", strict))

    def standard_input_from(self, prog, data, taken, strict, folder):
        name = os.path.join(folder, "stdin")
        with open(name, "wb") as f:
            f.write(data)
        with open(name, "rb") as f:
            f.seek(taken)
            r = self.run(prog, ["-e"] + (["-s"] if strict else []), stdin=f)
        self.compare(f"{prog} standard input from byte {taken} strict={strict}", r,
                     expected(data[taken:], "-", strict))


def write_files(folder, kind, inputs):
    names = []
    for i, data in enumerate(inputs):
        names.append(os.path.join(folder, "%s%d" % (kind, i)))
        with open(names[-1], "wb") as f:
            f.write(data)
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("--wrapper", default="")
    ap.add_argument("--seed", type=int, default=32)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    run = Runner(a.bin_dir, a.wrapper)
    small = "runetally_smallblock"
    randoms = [random_input(rng) for _ in range(400)]
    structured = structured_inputs(SMALL_BLOCK)
    with tempfile.TemporaryDirectory() as folder:
        random_names = write_files(folder, "random", randoms)
        structured_names = write_files(folder, "structured", structured)
        for strict in (False, True):
            # Every vector target (those the processor lacks fall back).
            for target in (None, "avx3", "avx2", "scalar"):
                run.files(small, randoms, random_names, strict, target)
                run.files(small, structured, structured_names, strict, target)
            for data in randoms[:12] + structured[::197]:
                run.pipe(small, data, strict, rng.choice((3, 61, 4096)))
            for data in randoms[25:40]:
                run.standard_input_from(small, data, rng.randrange(len(data) + 1), strict, folder)
        # The program's own blocks: every piece at their first edge, from a
        # file, and a few through a pipe.
        large = [b"x" * (LARGE_BLOCK - 3) + b"".join(BAD[i:i + 2]) + b"\n" * 5 + b"\xe2\x82\xac" * 100 + BAD[i]
                 for i in range(0, len(BAD), 2)]
        run.files("runetally", large, write_files(folder, "large", large), True)
        for data in large[:2]:
            run.pipe("runetally", data, False, 65536)
    print(f"runetally -e: {run.checked - run.failures} of {run.checked} runs as Python's decoder says")
    return 1 if run.failures else 0


if __name__ == "__main__":
    sys.exit(main())
