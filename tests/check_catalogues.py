#!/usr/bin/env python3
"""Fails unless runekit.pot lists exactly the texts the sources mark for
translation, and every catalogue translates each of them (none fuzzy)."""
import os
import re
import subprocess
import sys
import tempfile

po_dir = sys.argv[1]


def entries(path):
    text = open(path, encoding="utf-8").read()
    found = {}
    for block in text.split("\n\n"):
        m = re.search(r'^msgid ((?:".*"\n?)+)msgstr ((?:".*"\n?)+)', block, re.M)
        if not m:
            continue
        join = lambda s: "".join(re.findall(r'"(.*)"', s))
        msgid = join(m.group(1))
        if msgid:
            found[msgid] = (join(m.group(2)), "#, fuzzy" in block or "fuzzy" in block.split("msgid")[0])
    return found


with tempfile.TemporaryDirectory() as tmp:
    fresh = os.path.join(tmp, "fresh.pot")
    subprocess.run(["sh", os.path.join(po_dir, "xgettext.sh"), fresh], check=True)
    wanted = set(entries(fresh))

problems = []
if set(entries(os.path.join(po_dir, "runekit.pot"))) != wanted:
    problems.append("runekit.pot is out of date: run sh po/xgettext.sh")
languages = open(os.path.join(po_dir, "LINGUAS")).read().split()
for lang in languages:
    got = entries(os.path.join(po_dir, lang + ".po"))
    for msgid in sorted(wanted):
        if msgid not in got or not got[msgid][0]:
            problems.append(f"{lang}.po: no translation of {msgid!r}")
        elif got[msgid][1]:
            problems.append(f"{lang}.po: fuzzy translation of {msgid!r}")
        elif msgid.endswith("\\n") != got[msgid][0].endswith("\\n"):
            problems.append(f"{lang}.po: newline mismatch in {msgid!r}")
    for msgid in sorted(set(got) - wanted):
        problems.append(f"{lang}.po: obsolete text {msgid!r}")
for p in problems:
    print(p)
print(f"{len(wanted) * len(languages) - len(problems)} passed, {len(problems)} failed")
sys.exit(1 if problems else 0)
