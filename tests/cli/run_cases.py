#!/usr/bin/env python3
"""Runs the golden CLI cases of one or more .cases files.

A .cases file is a list of records; each record starts with a line "[name]"
and holds "key: value" lines. A line "prog: NAME" before the first record
sets the default program of the file. Lines starting with "#" are comments.

Keys (values are byte strings with the escapes \\n \\t \\r \\\\ \\xHH; "-py"
keys hold a Python expression giving bytes instead):

  prog        program to run (from --bin-dir)
  args        arguments, split like a shell would (shlex); each argument is
              then unescaped, so \\xHH gives raw bytes
  args-py     instead of args: a Python expression giving a list of bytes
  stdin       bytes on standard input            stdin-py
  stdin-mode  pipe (default), file (a regular file), dir (a directory),
              closed, chunks (stdin-chunks-py: list of bytes, written with a
              pause between them), devnull, tty (a pseudo-terminal, the
              bytes typed on it before the run: text that its line
              discipline hands over a line at a time; \x04 at the start of
              a line ends the input, which otherwise never ends)
  stdin-taken bytes of standard input that a reader before the program took
              (as `{ dd bs=N count=1; prog; } < file` does); file mode only
  file        bytes of a temporary file; "@FILE@" in args is its path
  file2       bytes of a second one, "@FILE2@"
  fifo        "yes": "@FIFO@" in args is a FIFO with a writer attached;
              "no writer": a FIFO that nobody opens for writing
  env         NAME=VALUE pairs separated by blanks, added to the environment
              (the default locale is LC_ALL=C unless env sets LANG or LC_*);
              "@FAILREAD@" in a value is the path of the read-failure shim
              (--failread), and a case that uses it is skipped without one
              ("@FILE@", "@FIFO@" and "@DIR@" are replaced as in args);
              under an emulator (--emulator-env), the LD_ variables are set
              through the emulator's option rather than its environment
  stdout-to   pipe (default), full (/dev/full), closed; closed is skipped
              under a wrapper, whose own files may take the descriptor,
              but not under an emulator (--emulator-env), which opens
              nothing in the program's place
  limit-as    address-space limit of the program in bytes (RLIMIT_AS), to
              make its storage run out; such cases are skipped under a
              wrapper, whose own needs the limit would not fit (an emulator
              as much as valgrind), and with
              --no-limit-as (sanitizer builds reserve vast address space)
  after       "cat": after the program, read what is left of the input
              (a pipe or file shared with the program) into "rest"
  rest        expected bytes left on the input for the next reader
  stdout      expected standard output           stdout-py
  stderr      expected standard error            stderr-py
  status      expected exit status (default 0); "signal N" for a signal

In expected texts and args, "@BUILD_DATE@" stands for the build date,
"@FILE@", "@FIFO@" and "@DIR@" for the temporary paths. An expected key that
is absent means "empty" for stdout and stderr.
"""

import argparse
import difflib
import os
import pty
import re
import resource
import shlex
import stat
import subprocess
import sys
import tempfile
import threading
import time

ESCAPE = re.compile(rb"\\(x[0-9A-Fa-f]{2}|n|t|r|\\|0)")


def unescape(text: str) -> bytes:
    raw = text.encode("utf-8", "surrogateescape")

    def repl(m):
        code = m.group(1)
        if code.startswith(b"x"):
            return bytes([int(code[1:], 16)])
        return {b"n": b"\n", b"t": b"\t", b"r": b"\r", b"\\": b"\\", b"0": b"\0"}[code]

    return ESCAPE.sub(repl, raw)


def parse(path):
    defaults, cases, current = {}, [], None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line.startswith("[") and line.endswith("]"):
                current = {"name": line[1:-1], "line": number}
                cases.append(current)
                continue
            key, sep, value = line.partition(":")
            if not sep:
                sys.exit(f"{path}:{number}: expected 'key: value'")
            value = value[1:] if value.startswith(" ") else value
            target = current if current is not None else defaults
            if key in target:
                sys.exit(f"{path}:{number}: key '{key}' given twice")
            target[key] = value
    return [dict(defaults, **c) for c in cases]


def value_of(case, key, subst):
    if key + "-py" in case:
        return eval(case[key + "-py"], {})  # noqa: S307 - test data of our own
    if key in case:
        data = unescape(case[key])
        for token, replacement in subst.items():
            data = data.replace(token.encode(), replacement)
        return data
    return None


def feed_chunks(pipe, chunks):
    try:
        for i, chunk in enumerate(chunks):
            if i:
                time.sleep(0.3)
            os.write(pipe, chunk)
    except OSError:
        pass
    finally:
        os.close(pipe)


def substitutions(opts, workdir):
    return {
        "@BUILD_DATE@": opts.build_date.encode(),
        "@FILE@": os.path.join(workdir, "operand").encode(),
        "@FILE2@": os.path.join(workdir, "operand2").encode(),
        "@FIFO@": os.path.join(workdir, "fifo").encode(),
        "@DIR@": workdir.encode(),
    }


def arguments(case, subst):
    if "args-py" in case:
        args = eval(case["args-py"], {})  # noqa: S307 - test data of our own
    else:
        args = [unescape(a) for a in shlex.split(case.get("args", ""))]
    for token, replacement in subst.items():
        args = [a.replace(token.encode(), replacement) for a in args]
    return args


def make_operands(case, subst):
    """Writes the file operand and makes the FIFO; returns the descriptors to
    close after the run (the FIFO's writer)."""
    keep_open = []
    if "file" in case or "file-py" in case:
        with open(subst["@FILE@"], "wb") as f:
            f.write(value_of(case, "file", subst))
    if "file2" in case:
        with open(subst["@FILE2@"], "wb") as f:
            f.write(value_of(case, "file2", subst))
    if case.get("fifo") in ("yes", "no writer"):
        os.mkfifo(subst["@FIFO@"])
    if case.get("fifo") == "yes":
        keep_open.append(os.open(subst["@FIFO@"], os.O_RDWR | os.O_NONBLOCK))
    return keep_open


def environment(case, opts, subst):
    env = dict(os.environ)
    for k in ("LANG", "LANGUAGE") + tuple(k for k in env if k.startswith("LC_")):
        env.pop(k, None)
    env["LC_ALL"] = "C"
    if opts.locpath:
        env["LOCPATH"] = opts.locpath
    for pair in case.get("env", "").replace("@FAILREAD@", opts.failread).split():
        name, _, val = pair.partition("=")
        for token in ("@FILE@", "@FILE2@", "@FIFO@", "@DIR@"):
            val = val.replace(token, subst[token].decode())
        if name == "LANG" or name.startswith("LC_"):
            env.pop("LC_ALL", None)  # the case chooses the locale itself
        env[name] = val
    return env


# Standard input, one opener per stdin-mode: each returns the descriptor the
# program reads (None: closed in the child) and the thread that feeds it, if any.
def stdin_pipe(case, workdir, data, chunks=None):
    read_end, write_end = os.pipe()
    return read_end, threading.Thread(target=feed_chunks, args=(write_end, [data] if chunks is None else chunks))


def stdin_chunks(case, workdir, data):
    return stdin_pipe(case, workdir, data, eval(case["stdin-chunks-py"], {}))  # noqa: S307


def stdin_file(case, workdir, data):
    path = os.path.join(workdir, "stdin")
    with open(path, "wb") as f:
        f.write(data)
    return os.open(path, os.O_RDONLY), None


# The master sides of the terminals of stdin-mode tty, open until the case
# has run: a terminal whose master is closed is hung up, its input lost.
terminals = []


def stdin_tty(case, workdir, data):
    master, slave = pty.openpty()
    os.write(master, data)
    terminals.append(master)
    return slave, None


STDIN_MODES = {
    "pipe": stdin_pipe,
    "tty": stdin_tty,
    "chunks": stdin_chunks,
    "file": stdin_file,
    "dir": lambda case, workdir, data: (os.open(workdir, os.O_RDONLY | os.O_DIRECTORY), None),
    "devnull": lambda case, workdir, data: (os.open(os.devnull, os.O_RDONLY), None),
    "closed": lambda case, workdir, data: (None, None),
}

# Standard output, one opener per stdout-to: the file the program writes
# (None: closed in the child). Only "pipe" keeps what was written.
STDOUT_TARGETS = {
    "pipe": lambda workdir: open(os.path.join(workdir, "stdout"), "wb"),
    "full": lambda workdir: open("/dev/full", "wb"),
    "closed": lambda workdir: None,
}


def child_setup(case):
    """What the child does before it runs the program, if anything: closed
    descriptors, the address-space limit. (Popen gives it the default
    SIGPIPE itself; with nothing to do, the child is started by vfork, which
    takes a sixth of the time of a fork here.)"""
    closed = [fd for fd, key, value in ((0, "stdin-mode", "closed"), (1, "stdout-to", "closed"))
              if case.get(key) == value]
    limit = int(case["limit-as"]) if "limit-as" in case else None
    if not closed and limit is None:
        return None

    def preexec():
        for fd in closed:
            os.close(fd)
        if limit is not None:
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    return preexec


def run_program(argv, stdin, stdout, stderr, env, preexec, feeder, timeout):
    """Runs the program to its end; its status, or "timeout"."""
    proc = subprocess.Popen(
        argv,
        stdin=stdin if stdin is not None else subprocess.DEVNULL,
        stdout=stdout if stdout is not None else subprocess.DEVNULL,
        stderr=stderr,
        env=env,
        preexec_fn=preexec,
        close_fds=True,
    )
    if feeder:
        feeder.start()
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return "timeout"


def read_rest(fd):
    """What the program left on its input is what the next reader sees."""
    rest = b""
    while True:
        chunk = os.read(fd, 1 << 16)
        if not chunk:
            return rest
        rest += chunk


def emulator_options(case, opts, env):
    """The emulator's options that set the case's LD_ variables for the
    program alone, taken out of env: they are not for the emulator (whose
    loader would try to preload a library built for another processor, and
    say so on standard error)."""
    options = []
    if opts.wrapper and opts.emulator_env:
        for pair in case.get("env", "").split():
            name = pair.partition("=")[0]
            if name.startswith("LD_"):
                options += [opts.emulator_env.encode(), f"{name}={env.pop(name)}".encode()]
    return options


def run_case(case, opts, workdir):
    subst = substitutions(opts, workdir)
    keep_open = make_operands(case, subst)
    env = environment(case, opts, subst)
    argv = ([w.encode() for w in shlex.split(opts.wrapper)] + emulator_options(case, opts, env)
            + [os.path.join(opts.bin_dir, case["prog"]).encode()] + arguments(case, subst))
    mode = case.get("stdin-mode", "pipe")
    stdout_to = case.get("stdout-to", "pipe")
    if mode not in STDIN_MODES:
        sys.exit(f"unknown stdin-mode {mode}")
    if stdout_to not in STDOUT_TARGETS:
        sys.exit(f"unknown stdout-to {stdout_to}")
    stdin, feeder = STDIN_MODES[mode](case, workdir, value_of(case, "stdin", subst) or b"")
    if "stdin-taken" in case:
        if mode != "file":
            sys.exit("stdin-taken needs stdin-mode file")
        os.read(stdin, int(case["stdin-taken"]))
    stdout = STDOUT_TARGETS[stdout_to](workdir)
    err_file = os.path.join(workdir, "stderr")
    with open(err_file, "wb") as stderr:
        rc = run_program(argv, stdin, stdout, stderr, env, child_setup(case), feeder, opts.timeout)
    rest = None
    if case.get("after") == "cat" and stdin is not None and mode != "dir":
        rest = read_rest(stdin)
    if stdin is not None:
        os.close(stdin)
    if feeder:
        feeder.join()
    if stdout is not None:
        stdout.close()
    for fd in keep_open + terminals:
        os.close(fd)
    terminals.clear()

    got = {
        "stdout": open(os.path.join(workdir, "stdout"), "rb").read() if stdout_to == "pipe" else b"",
        "stderr": open(err_file, "rb").read(),
        "status": (f"signal {-rc}" if isinstance(rc, int) and rc < 0 else str(rc)).encode(),
        "rest": rest if rest is not None else b"",
    }
    want = expected(case, subst)
    return {k: got[k] for k in want}, want


def expected(case, subst):
    want = {
        "stdout": value_of(case, "stdout", subst) or b"",
        "stderr": value_of(case, "stderr", subst) or b"",
        "status": case.get("status", "0").encode(),
    }
    if "rest" in case or "rest-py" in case:
        want["rest"] = value_of(case, "rest", subst)
    return want


def show(data: bytes):
    return [repr(line) for line in data.splitlines(keepends=True)] or ["(empty)"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("--build-date", required=True)
    ap.add_argument("--locpath", default="")
    ap.add_argument("--timeout", type=float, default=60.0)
    ap.add_argument("--wrapper", default="", help="command to run each program under")
    ap.add_argument("--emulator-env", default="", metavar="OPTION",
                    help="the wrapper is a user-mode emulator, and OPTION NAME=VALUE sets a variable for "
                         "the emulated program alone (qemu-user: -E)")
    ap.add_argument("--failread", default="", help="path of the read-failure shim (LD_PRELOAD)")
    ap.add_argument("--no-limit-as", action="store_true", help="skip the cases that limit the address space")
    ap.add_argument("files", nargs="+")
    opts = ap.parse_args()

    passed = failed = 0
    for path in opts.files:
        for case in parse(path):
            label = f"{os.path.basename(path)}:{case['line']} [{case['name']}]"
            if opts.wrapper and "limit-as" in case:
                what = "an emulator" if opts.emulator_env else "a wrapper"
                print(f"SKIP {label} (limit-as under {what}, which needs more address space itself)")
                continue
            if opts.wrapper and not opts.emulator_env and case.get("stdout-to") == "closed":
                print(f"SKIP {label} (closed standard output under a wrapper)")
                continue
            if opts.no_limit_as and "limit-as" in case:
                print(f"SKIP {label} (limit-as not wanted)")
                continue
            if not opts.failread and "@FAILREAD@" in case.get("env", ""):
                print(f"SKIP {label} (no --failread shim)")
                continue
            with tempfile.TemporaryDirectory(prefix="runekit-cli-") as workdir:
                got, want = run_case(case, opts, workdir)
            bad = [k for k in want if got[k] != want[k]]
            if not bad:
                passed += 1
                continue
            failed += 1
            print(f"FAIL {label}")
            for k in bad:
                print(f"  {k} differs:")
                for line in difflib.unified_diff(show(want[k]), show(got[k]), "expected", "got", lineterm="", n=2):
                    print("    " + line[:400])
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
