#!/usr/bin/env python3
"""Installs a build tree into a temporary DESTDIR and checks the layout.

  check_install.py --cmake CMAKE --build-dir DIR --source-dir DIR
                   --prefix PREFIX --localedir DIR [--deb-layout ON|OFF]
                   --version VERSION --programs NAME...

Exactly these files must be installed, with these modes, and nothing else:
the programs in <prefix>/bin (0755), their pages in
<prefix>/share/man/man1, a compiled catalogue for every language of
po/LINGUAS in <prefix>/share/locale/<lang>/LC_MESSAGES/runekit.mo, and the
README and licence in <prefix>/share/doc/runekit (the Debian layout carries
compressed pages, README.md.gz, changelog.gz and copyright instead); files
0644 and folders 0755. The installed texts are those of the source tree,
the catalogues those of the build tree; runetally carries the catalogue
directory it was configured with and its page names it; every installed
program writes the version block that names VERSION, with the status and
the very text of the same program in the build tree.
"""

import argparse
import gzip
import os
import re
import stat
import subprocess
import sys
import tempfile

failures = []


def fail(message):
    failures.append(message)


def expected_files(a):
    linguas = open(os.path.join(a.source_dir, "po", "LINGUAS"), encoding="utf-8").read()
    languages = re.findall(r"[a-zA-Z_@]+", re.sub(r"#.*", "", linguas))
    deb = a.deb_layout.upper() in ("ON", "1", "TRUE", "YES")
    files = {f"bin/{p}": 0o755 for p in a.programs}
    for p in a.programs:
        files[f"share/man/man1/{p}.1" + (".gz" if deb else "")] = 0o644
    for lang in languages:
        files[f"share/locale/{lang}/LC_MESSAGES/runekit.mo"] = 0o644
    docs = ["README.md.gz", "changelog.gz", "copyright"] if deb else ["README.md", "COPYING"]
    for name in docs:
        files[f"share/doc/runekit/{name}"] = 0o644
    return files, languages, deb


def read_text(path):
    data = open(path, "rb").read()
    return gzip.decompress(data) if path.endswith(".gz") else data


def check_tree(destdir, root, files):
    found = set()
    for folder, dirs, names in os.walk(destdir):
        for d in dirs:
            mode = stat.S_IMODE(os.stat(os.path.join(folder, d)).st_mode)
            if os.path.join(folder, d).startswith(root) and mode != 0o755:
                fail(f"folder {os.path.join(folder, d)} has mode {mode:o}")
        for n in names:
            path = os.path.join(folder, n)
            rel = os.path.relpath(path, root)
            found.add(rel)
            if rel not in files:
                fail(f"unexpected file installed: {os.path.relpath(path, destdir)}")
            elif stat.S_IMODE(os.stat(path).st_mode) != files[rel]:
                fail(f"{rel} has mode {stat.S_IMODE(os.stat(path).st_mode):o}, not {files[rel]:o}")
    for rel in sorted(set(files) - found):
        fail(f"not installed: {rel}")


def check_contents(a, root, languages, deb):
    same = [("share/doc/runekit/README.md" + (".gz" if deb else ""), os.path.join(a.source_dir, "README.md"))]
    if deb:
        same.append(("share/doc/runekit/changelog.gz", os.path.join(a.source_dir, "packaging", "changelog")))
    else:
        same.append(("share/doc/runekit/COPYING", os.path.join(a.source_dir, "COPYING")))
    for lang in languages:
        same.append((f"share/locale/{lang}/LC_MESSAGES/runekit.mo",
                     os.path.join(a.build_dir, "locale", lang, "LC_MESSAGES", "runekit.mo")))
    for installed, original in same:
        path = os.path.join(root, installed)
        if os.path.exists(path) and read_text(path) != open(original, "rb").read():
            fail(f"{installed} differs from {original}")
    page = os.path.join(root, "share/man/man1/runetally.1" + (".gz" if deb else ""))
    if os.path.exists(page) and a.localedir.encode() + b"/" not in read_text(page):
        fail(f"the runetally page does not name {a.localedir}")
    program = os.path.join(root, "bin", "runetally")
    if os.path.exists(program) and b"\0" + a.localedir.encode() + b"\0" not in open(program, "rb").read():
        fail(f"runetally does not carry the catalogue directory {a.localedir}")


def check_programs(a, root):
    for name in a.programs:
        path = os.path.join(root, "bin", name)
        if not os.path.exists(path):
            continue
        r, built = (subprocess.run([p, "-v"], stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
                    for p in (path, os.path.join(a.build_dir, "bin", name)))
        if (r.returncode, r.stderr) != (built.returncode, built.stderr) or \
                not r.stderr.startswith(f"\n{name}  {a.version}\n".encode()):
            fail(f"installed {name} -v: status {r.returncode}, version block {r.stderr[:40]!r}")


def main():
    ap = argparse.ArgumentParser()
    for key in ("--cmake", "--build-dir", "--source-dir", "--prefix", "--localedir", "--version"):
        ap.add_argument(key, required=True)
    ap.add_argument("--deb-layout", default="OFF")
    ap.add_argument("--programs", nargs="+", required=True)
    a = ap.parse_args()
    files, languages, deb = expected_files(a)
    with tempfile.TemporaryDirectory() as destdir:
        env = dict(os.environ, DESTDIR=destdir)
        r = subprocess.run([a.cmake, "--install", a.build_dir], env=env, capture_output=True, text=True)
        if r.returncode != 0:
            print(r.stdout + r.stderr, file=sys.stderr)
            return 1
        root = destdir + os.path.normpath(a.prefix)
        check_tree(destdir, root, files)
        check_contents(a, root, languages, deb)
        check_programs(a, root)
    for message in failures:
        print(message, file=sys.stderr)
    print(f"install layout under DESTDIR{a.prefix}: {'FAILED' if failures else 'ok'} ({len(files)} files)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
