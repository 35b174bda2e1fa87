#!/usr/bin/env python3
"""Checks that runetally's catalogue directory follows the install prefix.

  check_localedir.py --cmake CMAKE --source-dir DIR

Configures the project in scratch build trees (without its tests, its
vector kernels and runeflip -g) and reads
RUNEKIT_LOCALEDIR back from the cache: the default prefix gives
/usr/local/share/locale; changing the prefix on a reconfigure moves it along;
a value set by hand stays through later prefix changes; setting it empty
makes it follow the prefix again. After the prefix change runetally itself
is rebuilt and must carry the new directory, and so must its page.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

failures = []


def configure(cmake, source, build, *defs):
    # Without the vector kernels and unoptimised, so that the one build of
    # runetally below is quick; the catalogue directory does not depend on them.
    r = subprocess.run([cmake, "-S", source, "-B", build, "-DRUNEKIT_TESTS=OFF", "-DRUNEKIT_VECTOR=OFF",
                        "-DRUNEKIT_GRAPHEMES=OFF", "-DCMAKE_BUILD_TYPE=Debug", *defs],
                       capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"configure failed:\n{r.stdout}{r.stderr}")
    cache = open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8").read()
    m = re.search(r"^RUNEKIT_LOCALEDIR:[A-Z]*=(.*)$", cache, re.M)
    return m.group(1) if m else None


def expect(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: RUNEKIT_LOCALEDIR is {got!r}, not {wanted!r}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cmake", required=True)
    ap.add_argument("--source-dir", required=True)
    a = ap.parse_args()
    src = a.source_dir
    with tempfile.TemporaryDirectory() as tmp:
        fresh = os.path.join(tmp, "default")
        expect("default prefix", configure(a.cmake, src, fresh), "/usr/local/share/locale")

        b = os.path.join(tmp, "moved")
        expect("prefix /opt/a", configure(a.cmake, src, b, "-DCMAKE_INSTALL_PREFIX=/opt/a"), "/opt/a/share/locale")
        expect("prefix /opt/b after /opt/a", configure(a.cmake, src, b, "-DCMAKE_INSTALL_PREFIX=/opt/b"),
               "/opt/b/share/locale")
        r = subprocess.run([a.cmake, "--build", b, "--target", "runetally", "--parallel", "2"],
                           capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit(f"build failed:\n{r.stdout}{r.stderr}")
        if b"\0/opt/b/share/locale\0" not in open(os.path.join(b, "bin", "runetally"), "rb").read():
            failures.append("runetally rebuilt after the prefix change does not carry /opt/b/share/locale")
        if "/opt/b/share/locale/" not in open(os.path.join(b, "man", "runetally.1"), encoding="ascii").read():
            failures.append("the runetally page does not name /opt/b/share/locale")

        expect("set by hand", configure(a.cmake, src, b, "-DRUNEKIT_LOCALEDIR=/srv/catalogues"),
               "/srv/catalogues")
        expect("set by hand, then prefix /opt/c", configure(a.cmake, src, b, "-DCMAKE_INSTALL_PREFIX=/opt/c"),
               "/srv/catalogues")
        expect("emptied, prefix /opt/c", configure(a.cmake, src, b, "-DRUNEKIT_LOCALEDIR="),
               "/opt/c/share/locale")
        expect("then prefix /opt/d", configure(a.cmake, src, b, "-DCMAKE_INSTALL_PREFIX=/opt/d"),
               "/opt/d/share/locale")
    for message in failures:
        print(message, file=sys.stderr)
    print(f"catalogue directory: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
