#!/usr/bin/env python3
"""Merged tables against one run over all the files.

  check_merge.py --bin-dir DIR --locpath DIR [--wrapper CMD]

(CMD, an emulator or valgrind, runs the program wherever it is called.)

- For random valid UTF-8 files split at random into shards, each shard's
  table written by runetally (with or without -g, in the C locale or one
  with a decimal comma, some shards named through --files0-from, an empty
  one included), runetally -m over the shard tables writes byte for byte
  what one run over all the files writes, with every choice of -c, -g, -u.

The README's recipes for large corpora are run by tests/engines/run_recipe.py.
"""

import argparse
import os
import random
import shlex
import subprocess
import sys
import tempfile

POOL = [0x0A, 0x20, 0x09, 0x00, 0x7F, 0xA0, 0xE9, 0x20AC, 0x3000, 0xFEFF, 0x4E2D, 0x1F600, 0x10FFFF] + list(
    range(0x61, 0x7B))
failures = []


def text(rng):
    chars = []
    for _ in range(rng.randrange(0, 400)):
        if rng.random() < 0.9:
            chars.append(rng.choice(POOL))
        else:
            c = rng.randrange(0x80, 0x110000)
            chars.append(c if not 0xD800 <= c < 0xE000 else 0x61)
    return "".join(map(chr, chars)).encode()


def run(argv, env, data=None):
    r = subprocess.run(argv, input=data, capture_output=True, env=env, timeout=60)
    return r.returncode, r.stdout, r.stderr


def check_splits(tally, env_c, env_comma, rounds):
    rng = random.Random(2026)
    for round_ in range(rounds):
        with tempfile.TemporaryDirectory(prefix="runekit-merge-") as work:
            names = []
            for i in range(rng.randrange(1, 25)):
                names.append(os.path.join(work, f"f{i}.txt"))
                with open(names[-1], "wb") as f:
                    f.write(text(rng))
            cuts = sorted(rng.sample(range(len(names) + 1), rng.randrange(1, min(6, len(names) + 1))))
            shards = [names[a:b] for a, b in zip([0] + cuts, cuts + [len(names)])]
            tables = []
            for j, shard in enumerate(shards):
                options = ["-g"] if rng.random() < 0.5 else []
                env = env_comma if rng.random() < 0.5 else env_c
                if rng.random() < 0.5:
                    status, table, err = run([*tally, *options, "--files0-from=-"], env, b"\0".join(map(os.fsencode, shard)))
                else:
                    status, table, err = run([*tally, *options, "--", *shard], env) if shard else (0, b"", b"")
                if status != 0 or err:
                    failures.append(f"round {round_}: shard table: status {status}, {err!r}")
                tables.append(os.path.join(work, f"s{j}.tab"))
                with open(tables[-1], "wb") as f:
                    f.write(table)
            for options in ([], ["-g"], ["-c"], ["-u"], ["-c", "-u", "-g"]):
                want = run([*tally, *options, "--", *names], env_c)
                got = run([*tally, "-m", *options, "--", *tables], env_c)
                if got != want:
                    failures.append(f"round {round_}, options {options}: merged {got[0]} {got[2]!r}, "
                                    f"{len(got[1])} bytes, one run {want[0]} {want[2]!r}, {len(want[1])} bytes")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("--locpath", required=True)
    ap.add_argument("--rounds", type=int, default=25)
    ap.add_argument("--wrapper", default="", help="command to run the program under")
    a = ap.parse_args()
    tally = shlex.split(a.wrapper) + [os.path.join(os.path.abspath(a.bin_dir), "runetally")]
    return check(a, tally)


def check(a, tally):
    base = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k not in ("LANG", "LANGUAGE")}
    env_c = dict(base, LC_ALL="C")
    env_comma = dict(base, LC_ALL="de_DE.UTF-8", LOCPATH=a.locpath)
    if run([*tally, "-c"], env_comma, b"")[0] != 0 or b"," not in run(tally, env_comma, b"a")[1]:
        failures.append(f"no locale de_DE.UTF-8 with a decimal comma under {a.locpath}")
    check_splits(tally, env_c, env_comma, a.rounds if not a.wrapper else min(a.rounds, 5))  # emulators are slow
    for f in failures:
        print(f)
    print(f"{1 if not failures else 0} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
