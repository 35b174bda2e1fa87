#!/usr/bin/env python3
"""Writes a deterministic benchmark corpus of about SIZE bytes.

usage: corpus.py KIND SIZE OUTPUT
KIND: prose   mostly ASCII words, some Latin, Greek, Cyrillic and CJK words
      cjk     mostly CJK ideographs and kana with CJK punctuation
      planes  many distinct code points drawn from every plane (no surrogates)
"""
import random
import sys

kind, size, output = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rng = random.Random(20261209)


def prose_words():
    ascii_words = ("the of and to in is that it was for on are as with his they at be this from have or by "
                   "one had not but what all were when we there can an your which their said if do will each "
                   "about how up out them then she many some so these would other into has more her two like "
                   "encoding character sequence histogram filter corpus byte line text").split()
    other = "café naïve Grüße façade señor Ελληνικά мир данные 日本語 中文 😀 €100 Ångström".split()
    return ascii_words, other


def line_prose():
    ascii_words, other = WORDS
    n = rng.randint(4, 18)
    return " ".join(rng.choice(other) if rng.random() < 0.03 else rng.choice(ascii_words) for _ in range(n))


def line_cjk():
    chars = [chr(rng.randint(0x4E00, 0x9FFF)) for _ in range(rng.randint(10, 60))]
    for i in range(0, len(chars), rng.randint(5, 12)):
        chars[i] = rng.choice("、。「」ぁあいうえおかきくけこアイウエオ")
    return "".join(chars) + rng.choice(["。", "！", "abc", "2026"])


def planes_char():
    while True:
        plane = rng.randint(0, 16)
        cp = (plane << 16) | rng.randint(0, 0xFFFD)
        if cp >= 0x20 and not 0xD800 <= cp <= 0xDFFF and cp != 0x7F:
            return chr(cp)


def line_planes():
    return "".join(planes_char() for _ in range(rng.randint(5, 40)))


if kind == "prose":
    WORDS = prose_words()
make_line = {"prose": line_prose, "cjk": line_cjk, "planes": line_planes}[kind]
written = 0
with open(output, "wb") as f:
    chunk = []
    while written < size:
        data = (make_line() + "\n").encode("utf-8")
        chunk.append(data)
        written += len(data)
        if len(chunk) >= 4096:
            f.write(b"".join(chunk))
            chunk = []
    f.write(b"".join(chunk))
