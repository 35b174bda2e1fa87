"""Runs shell transcripts shown in documentation: a block of lines where each
"$ " line is a command and the lines after it, up to the next "$ " line, are
what it writes on standard output and standard error together."""

import os
import subprocess
import tempfile


def run_block(block, bin_dir, strip_trailing_blanks=False):
    """Runs each command of the block under bash, starting in one empty folder,
    with bin_dir first in PATH and LC_ALL=C.UTF-8; yields (command, expected,
    got). A command that changes the folder (cd "$(mktemp -d)") changes it for
    the ones after it, as in a terminal; mktemp makes its folders in a scratch
    folder that is removed afterwards."""
    env = dict(os.environ, LC_ALL="C.UTF-8",
               PATH=os.path.abspath(bin_dir) + os.pathsep + os.environ.get("PATH", ""))
    with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as scratch:
        env["TMPDIR"] = scratch
        cwd_file = env["TRANSCRIPT_CWD"] = os.path.join(scratch, "cwd")
        cwd = folder
        i = 0
        while i < len(block):
            command, expected = block[i][2:], []
            i += 1
            while i < len(block) and not block[i].startswith("$ "):
                expected.append(block[i])
                i += 1
            r = subprocess.run(["bash", "-c", "{ " + command + '\n} 2>&1; pwd > "$TRANSCRIPT_CWD"'], cwd=cwd, env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=30)
            if os.path.exists(cwd_file):
                cwd = open(cwd_file).read().rstrip("\n")
            got = r.stdout.decode("utf-8", "replace").split("\n")
            if strip_trailing_blanks:
                got = [line.rstrip(" ") for line in got]
            if got and got[-1] == "":
                got.pop()
            yield command, expected, got
