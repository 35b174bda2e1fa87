#!/usr/bin/env python3
"""runeflip on a terminal shows each line as soon as it is finished: with
standard output a pseudo-terminal and standard input a pipe that stays open,
the reversed lines of a first piece must appear before the next piece is written.

Usage: check_tty_lines.py RUNEFLIP [WRAPPER...]"""
import os
import pty
import select
import subprocess
import sys


def read_until(fd, want, seconds):
    got = b""
    while want not in got:
        ready, _, _ = select.select([fd], [], [], seconds)
        if not ready:
            break
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the terminal closed with the program
            break
        if not chunk:
            break
        got += chunk
    return got


def main():
    master, slave = pty.openpty()
    proc = subprocess.Popen(sys.argv[2:] + [sys.argv[1]], stdin=subprocess.PIPE, stdout=slave)
    os.close(slave)
    proc.stdin.write(b"abc\nde\n")  # two lines in one piece
    proc.stdin.flush()
    first = read_until(master, b"ed", 10)
    proc.stdin.write(b"xyz\n")
    proc.stdin.close()
    rest = read_until(master, b"zyx", 10)
    status = proc.wait(timeout=30)
    os.close(master)
    if b"cba\r\ned" not in first or b"zyx" not in rest or status != 0:
        print(f"FAIL: before the second line {first!r}, after it {rest!r}, status {status}")
        return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
