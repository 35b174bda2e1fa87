#!/usr/bin/env python3
"""Writes a deterministic benchmark corpus of about SIZE bytes: the one
generator of every benchmark in bench/.

usage: corpus.py KIND SIZE OUTPUT
KIND: prose   mostly ASCII words, some Latin, Greek, Cyrillic and CJK words
      cjk     mostly CJK ideographs and kana with CJK punctuation (3 bytes)
      wide    code points drawn from every plane (no surrogates): almost all
              of the 1.1 million appear ("planes" is the old name)
      mixed   words in seven scripts (1 to 4 bytes), lines of 0 to ~300
              words and a few of up to ~2 MB (runeflip's long lines)
      nfd     decomposed Vietnamese-like words: every other letter carries
              a combining mark (a tone mark, at times after a second mark),
              as text in normalization form D does (runeflip -g)
      faulty  prose with one ill-formed sequence in each KiB, of every kind
              that runetally -e tells apart (runetally -e)
      x80     nothing but the byte 0x80: one ill-formed sequence per byte
"""
import random
import sys

kind, size, output = sys.argv[1], int(sys.argv[2]), sys.argv[3]
if kind == "planes":
    kind = "wide"
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


def wide_char():
    while True:
        plane = rng.randint(0, 16)
        cp = (plane << 16) | rng.randint(0, 0xFFFD)
        if cp >= 0x20 and not 0xD800 <= cp <= 0xDFFF and cp != 0x7F:
            return chr(cp)


def line_wide():
    return "".join(wide_char() for _ in range(rng.randint(5, 40)))


def mixed_vocabulary():
    scripts = [(0x61, 0x7A, 6), (0xE0, 0xFF, 2), (0x430, 0x44F, 3), (0x3B1, 0x3C9, 2),
               (0x4E00, 0x9FFF, 2), (0x905, 0x939, 1), (0x1F600, 0x1F64F, 1)]
    weights = [w for *_, w in scripts]
    vocab = []
    for _ in range(20000):
        lo, hi, _w = rng.choices(scripts, weights)[0]
        vocab.append("".join(chr(rng.randint(lo, hi)) for _ in range(rng.randint(1, 9))))
    return vocab


def line_mixed():
    roll = rng.random()
    if roll < 0.05:
        words = 0
    elif roll < 0.9995:
        words = rng.randint(1, 40) if rng.random() < 0.8 else rng.randint(40, 300)
    else:
        words = rng.randint(20000, 150000)
    return " ".join(rng.choices(VOCABULARY, k=words))


def line_nfd():
    # Circumflex, breve and horn; grave, acute, tilde, hook above, dot below.
    shapes, tones = "\u0302\u0306\u031b", "\u0300\u0301\u0303\u0309\u0323"
    words = []
    for _ in range(rng.randint(4, 14)):
        letters = [rng.choice("abcdeghiklmnopqrstuvxy") for _ in range(rng.randint(1, 7))]
        words.append("".join(c + ((rng.choice(shapes) if rng.random() < 0.2 else "") + rng.choice(tones)
                                  if i % 2 == 1 else "") for i, c in enumerate(letters)))
    return " ".join(words)


BAD = [b"\x80", b"\xbf", b"\xc0", b"\xff", b"\xe2\x82", b"\xf0\x9f\x98", b"\xe0\x80", b"\xf0\x8f",
       b"\xf4\x90", b"\xc3", b"\xf8\x88\x80\x80\x80"]
if kind == "x80":
    with open(output, "wb") as f:
        for done in range(0, size, 1 << 20):
            f.write(b"\x80" * min(1 << 20, size - done))
    sys.exit(0)
if kind == "faulty":
    kind = "prose"
    faulty = True
else:
    faulty = False
if kind == "prose":
    WORDS = prose_words()
if kind == "mixed":
    VOCABULARY = mixed_vocabulary()
make_line = {"prose": line_prose, "cjk": line_cjk, "wide": line_wide, "mixed": line_mixed, "nfd": line_nfd}[kind]
written = 0
with open(output, "wb") as f:
    chunk = []
    next_fault = 1024
    while written < size:
        data = (make_line() + "\n").encode("utf-8")
        if faulty and written + len(data) >= next_fault:
            at = next_fault - written
            while at < len(data) and 0x80 <= data[at] <= 0xBF:
                at += 1  # not inside a character
            data = data[:at] + rng.choice(BAD) + data[at:]
            next_fault += 1024
        chunk.append(data)
        written += len(data)
        if len(chunk) >= 4096:
            f.write(b"".join(chunk))
            chunk = []
    f.write(b"".join(chunk))
