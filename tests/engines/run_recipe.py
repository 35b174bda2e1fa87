#!/usr/bin/env python3
"""The README's recipes for large corpora, run on real engines.

  run_recipe.py parallel|ssh|slurm --bin-dir DIR --readme README.md

The sh block of the README's section "Large corpora" that the engine takes
runs as printed, under bash, in a scratch folder that holds a generated tree
corpus/ (a few hundred files in nested folders, names with blanks, newlines,
quotes and leading dots, some files not valid UTF-8):

- parallel: the block that runs GNU parallel with -j, on this machine;
- ssh: the block that runs parallel with --sshlogin; node1 and node2 are an
  sshd on 127.0.0.1 started for the test in a private mount namespace (a
  tmpfs on its /run), reached through an ssh configuration ($PARALLEL_SSH)
  that names its keys and known hosts, all in the scratch folder;
- slurm: the block that runs sbatch, on a one-node cluster started for the
  test (munged, slurmctld, slurmd) whose configuration, key, sockets, state
  and logs are in the scratch folder ($SLURM_CONF).

What is checked:
- the run's corpus.tab is byte for byte the table of one runetally -k over
  all the files; it came from as many tables of status 0 or 1 as lists, some
  of status 1, and each invalid file was reported once;
- run again with a runetally that is killed on one list, kills its task on
  another and ends with status 3 on a third, the merge fails, says that 3 of
  the shards did not run to their end, and writes no corpus.tab;
- every sh block of the section is one that an engine runs;
- the places where these daemons keep their files by default (/run/sshd,
  /etc/munge, /var/lib/slurm, ...) are as they were, and every daemon the
  test started is stopped by its pid, also when the test fails. HOME and
  PARALLEL_HOME point into the scratch folder.

Where the machine cannot run the engine (not root, no unshare, a program
missing) it prints SKIP and the reason and ends with status 77, which ctest
counts as skipped, or 1 when RUNEKIT_REQUIRE_ENGINES=1 (as .ci/run sets it).
"""

import argparse
import ctypes
import os
import pwd
import random
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
PLANTED = {"017": "its task killed", "042": "runetally killed", "063": "status 3"}
SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
failures = []
daemons = []  # (name, Popen), stopped in reverse order
slurm_env = {}  # the environment of the cluster's commands, once it runs


def fail(message):
    failures.append(message)
    print("FAIL: " + message, flush=True)


def which(program):
    return shutil.which(program, path=os.environ.get("PATH", "") + os.pathsep + SYSTEM_PATH)


def why_not(engine):
    """Why this machine cannot run the engine, or None."""
    programs = {"parallel": ["parallel"], "ssh": ["parallel", "sshd", "ssh-keygen", "ssh", "unshare"],
                "slurm": ["munged", "slurmctld", "slurmd", "sbatch", "sinfo", "squeue", "scontrol", "scancel"]}
    for program in programs[engine]:
        if not which(program):
            return f"{program} is not installed"
    if engine == "parallel":
        return None
    if os.geteuid() != 0:
        return f"{engine} needs root (its daemons run as root here)"
    if engine == "ssh":
        probe = subprocess.run(["unshare", "-m", "sh", "-c", "mount -n -t tmpfs tmpfs /run"], capture_output=True)
        if probe.returncode != 0:
            return f"unshare -m cannot mount a tmpfs on /run here: {probe.stderr.decode(errors='replace').strip()}"
    return None


# ---------------------------------------------------------------- the README

def recipes(readme):
    """The sh blocks of "Large corpora", by engine; every block must be one."""
    text = open(readme, encoding="utf-8").read()
    section = re.search(r"^## Large corpora\n(.*?)(?=^## |\Z)", text, re.M | re.S)
    blocks = re.findall(r"^```sh\n(.*?)^```", section.group(1) if section else "", re.M | re.S)
    found = {}
    for block in blocks:
        if "sbatch" in block:
            engine = "slurm"
        elif "--sshlogin" in block:
            engine = "ssh"
        elif "parallel" in block and " -j " in block:
            engine = "parallel"
        else:
            fail("README: a block of Large corpora that no engine test runs:\n" + block)
            continue
        if engine in found:
            fail(f"README: two blocks of Large corpora for {engine}")
        found[engine] = block
    return found


# ---------------------------------------------------------------- the corpus

POOL = [0x0A, 0x0D, 0x20, 0x09, 0x00, 0xA0, 0xE9, 0x20AC, 0x4E2D, 0xFEFF, 0x1F600, 0x10FFFF] + list(range(0x61, 0x7B))
DEFECTS = [b"\xC3(", b"\xE2\x82", b"\xC0\x80", b"\xED\xA0\x80", b"\xF4\x90\x80\x80", b"\xFF"]
NAMES = ["plain", "with blank", "new\nline", "tab\there", "quote'd", 'dq"x', "back\\slash", "-dash",
         "_init_.py", ".hidden", "star*", "ünï", "crlf", "x.gz", "$HOME", "semi;colon"]


def make_corpus(root, count=300):
    """Writes the tree; returns the number of files that are not valid UTF-8."""
    rng = random.Random(33)
    folders = ["", "a", "a/b b", "a/b b/c\nd", "e.f", "_g", ".h/i"]
    invalid = 0
    for i in range(count):
        folder = os.path.join(root, rng.choice(folders))
        os.makedirs(folder, exist_ok=True)
        chars = [rng.choice(POOL) for _ in range(rng.randrange(0, 300))]
        data = "".join(map(chr, chars)).encode()
        if i % 9 == 0:
            data = data.replace(b"\n", b"\r\n")
        if i % 23 == 5:
            data = b"\x1f\x8b\x08\x00" + data  # the start of a gzip stream, read as it is
        if i % 17 == 3:
            cut = rng.randrange(0, len(data) + 1)
            data = data[:cut] + rng.choice(DEFECTS) + data[cut:]
        if i % 13 == 7:
            data = b""
        try:
            data.decode("utf-8", "surrogatepass")  # runetally counts encoded surrogates
        except UnicodeDecodeError:
            invalid += 1
        with open(os.path.join(folder, f"{NAMES[i % len(NAMES)]} {i}"), "wb") as f:
            f.write(data)
    return invalid


# ---------------------------------------------------------------- daemons

def die_with_parent():
    """In a daemon's process before its program runs: SIGTERM when the test
    ends, however it ends (even killed), so that none is left running."""
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start(name, argv, log, env=None):
    out = open(log, "wb")
    p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, env=env,
                         preexec_fn=die_with_parent)
    out.close()
    daemons.append((name, p))
    return p


def stop_daemons():
    if slurm_env:  # jobs left by a failed run end before the cluster stops
        jobs = subprocess.run(["squeue", "-h", "-o", "%A"], env=slurm_env, capture_output=True, text=True).stdout.split()
        if jobs:
            subprocess.run(["scancel", *jobs], env=slurm_env)
            try:
                slurm_quiet(slurm_env, 30)
            except RuntimeError as e:
                fail(f"slurm: {e} after scancel")
    while daemons:
        name, p = daemons.pop()
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                fail(f"{name} (pid {p.pid}) did not end on SIGTERM within 20 s; killed")


def wait_for(what, ready, seconds, processes=()):
    deadline = time.monotonic() + seconds
    while not ready():
        for name, p in processes:
            if p.poll() is not None:
                raise RuntimeError(f"{name} ended with status {p.returncode} before {what}")
        if time.monotonic() > deadline:
            raise RuntimeError(f"no {what} after {seconds} s")
        time.sleep(0.2)


def free_ports(count):
    sockets = [socket.socket() for _ in range(count)]
    for s in sockets:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def start_sshd(scratch, env):
    """An sshd for node1 and node2; returns the extra environment of the recipe."""
    sshd, ssh_keygen = which("sshd"), which("ssh-keygen")
    d = os.path.join(scratch, "ssh")
    os.mkdir(d, 0o700)
    for key in ("host_key", "id"):
        subprocess.run([ssh_keygen, "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(d, key)], check=True)
    shutil.copy(os.path.join(d, "id.pub"), os.path.join(d, "authorized_keys"))
    (port,) = free_ports(1)
    with open(os.path.join(d, "sshd_config"), "w") as f:
        f.write(f"Port {port}\nListenAddress 127.0.0.1\nHostKey {d}/host_key\nAuthorizedKeysFile {d}/authorized_keys\n"
                "PidFile none\nStrictModes no\nUsePAM no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                "PermitRootLogin prohibit-password\nPrintMotd no\nPrintLastLog no\nUseDNS no\nMaxStartups 100\n"
                "LogLevel INFO\n")
    with open(os.path.join(d, "host_key.pub")) as f:
        host_key = f.read().split()
    with open(os.path.join(d, "known_hosts"), "w") as f:
        f.write(f"[127.0.0.1]:{port} {host_key[0]} {host_key[1]}\n")
    with open(os.path.join(d, "ssh_config"), "w") as f:
        f.write(f"Host node1 node2\n  HostName 127.0.0.1\n  Port {port}\n  User {pwd.getpwuid(os.geteuid()).pw_name}\n"
                f"  IdentityFile {d}/id\n  IdentitiesOnly yes\n  UserKnownHostsFile {d}/known_hosts\n"
                "  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n  CheckHostIP no\n  BatchMode yes\n"
                "  ConnectTimeout 20\n  LogLevel ERROR\n")
    # /run/sshd, the privilege separation folder, on a tmpfs that only this
    # sshd sees; mount -n leaves /run/mount alone.
    p = start("sshd", ["unshare", "-m", "sh", "-c",
                       'mount -n -t tmpfs -o mode=0755 tmpfs /run && mkdir -m 0755 /run/sshd && exec "$0" -D -e -f "$1"',
                       sshd, os.path.join(d, "sshd_config")], os.path.join(d, "sshd.log"), env)
    wait_for("sshd listening", lambda: listening(port), 20, [("sshd", p)])
    return {"PARALLEL_SSH": f"ssh -F {d}/ssh_config"}


def start_slurm(scratch, env):
    """munged, slurmctld and slurmd; returns the extra environment of the recipe."""
    munged, slurmctld, slurmd = which("munged"), which("slurmctld"), which("slurmd")
    d = os.path.join(scratch, "slurm")
    for sub in ("", "munge", "state", "spool", "log"):
        os.mkdir(os.path.join(d, sub), 0o755)
    key = os.path.join(d, "munge", "munge.key")
    with open(os.open(key, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as f:
        f.write(os.urandom(128))
    sock = os.path.join(d, "munge", "socket")
    m = start("munged", [munged, "-F", "-f", f"--socket={sock}", f"--key-file={key}",
                         f"--pid-file={d}/munge/munged.pid", f"--log-file={d}/log/munged.log",
                         f"--seed-file={d}/munge/munged.seed"], os.path.join(d, "log", "munged.out"), env)
    wait_for("munge socket", lambda: os.path.exists(sock), 20, [("munged", m)])
    host = socket.gethostname().split(".")[0]
    ctld_port, node_port = free_ports(2)
    conf = os.path.join(d, "slurm.conf")
    with open(conf, "w") as f:
        f.write(f"""ClusterName=runekit
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={ctld_port}
SlurmdPort={node_port}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={sock}
StateSaveLocation={d}/state
SlurmdSpoolDir={d}/spool
SlurmctldPidFile={d}/slurmctld.pid
SlurmdPidFile={d}/slurmd.pid
SlurmctldLogFile={d}/log/slurmctld.log
SlurmdLogFile={d}/log/slurmd.log
MailProg=/bin/true
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
ReturnToService=2
MinJobAge=600
NodeName={host} NodeAddr=127.0.0.1 CPUs=16 State=UNKNOWN
PartitionName=main Nodes={host} Default=YES MaxTime=INFINITE State=UP
""")
    env = dict(env, SLURM_CONF=conf)
    c = start("slurmctld", [slurmctld, "-D", "-f", conf], os.path.join(d, "log", "slurmctld.out"), env)
    n = start("slurmd", [slurmd, "-D", "-f", conf, "-N", host], os.path.join(d, "log", "slurmd.out"), env)
    sinfo = lambda: subprocess.run(["sinfo", "-h", "-o", "%T"], env=env, capture_output=True, text=True).stdout.strip()
    wait_for("idle Slurm node", lambda: sinfo() == "idle", 60, [("munged", m), ("slurmctld", c), ("slurmd", n)])
    slurm_env.update(env)
    return {"SLURM_CONF": conf}


def slurm_quiet(env, seconds):
    """Waits until the cluster has no job left."""
    squeue = lambda: subprocess.run(["squeue", "-h", "-o", "%i"], env=env, capture_output=True, text=True)
    wait_for("empty Slurm queue", lambda: (lambda r: r.returncode == 0 and not r.stdout.strip())(squeue()), seconds)


def slurm_job_state(env, job):
    out = subprocess.run(["scontrol", "show", "job", job], env=env, capture_output=True, text=True).stdout
    state = re.search(r"JobState=(\S+)", out)
    return state.group(1) if state else f"unknown ({out.strip()!r})"


# ---------------------------------------------------------------- the machine

def watched_places():
    home = pwd.getpwuid(os.geteuid()).pw_dir
    return ["/run/sshd", "/run/munge", "/run/mount", "/run/slurm", "/run/slurmctld.pid", "/run/slurmd.pid",
            "/etc/ssh", "/etc/munge", "/etc/slurm", "/var/lib/munge", "/var/log/munge", "/var/lib/slurm",
            "/var/spool/slurmd", "/var/spool/slurmctld", "/var/log/slurm", "/var/log/wtmp", "/var/log/lastlog",
            "/var/log/btmp", os.path.join(home, ".ssh")]


def snapshot():
    """Names, sizes and times of the watched places and what they hold."""
    seen = {}
    for place in watched_places():
        if not os.path.lexists(place):
            seen[place] = None
            continue
        for top, dirs, files in os.walk(place) if os.path.isdir(place) else [(os.path.dirname(place), [], [os.path.basename(place)])]:
            for name in [""] + dirs + files:
                path = os.path.join(top, name) if name else top
                try:
                    st = os.lstat(path)
                    seen[path] = (st.st_mode, st.st_size, st.st_mtime_ns)
                except OSError:
                    seen[path] = None
    return seen


# ---------------------------------------------------------------- the runs

def run_recipe(recipe, work, env, seconds):
    before = set(os.listdir(work))
    r = subprocess.run(["bash", "-c", recipe], cwd=work, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=seconds)
    runs = [n for n in os.listdir(work) if n not in before and n.startswith("run.")]
    if len(runs) != 1:
        raise RuntimeError(f"the recipe made {len(runs)} run folders, not one: status {r.returncode}, "
                           f"{r.stderr[-3000:].decode(errors='replace')}")
    return r, os.path.join(work, runs[0])


def shard_files(run):
    names = os.listdir(run)
    lists = sorted(n for n in names if re.fullmatch(r"list\.\d{3}", n))
    tables = {m.group(1): m.group(2) for m in (re.fullmatch(r"list\.(\d{3})\.(\d+)\.tab", n) for n in names) if m}
    parts = [n for n in names if n.endswith(".part")]
    return lists, tables, parts


def check_good_run(engine, r, run, reports, want, invalid):
    lists, tables, parts = shard_files(run)
    statuses = sorted(set(tables.values()))
    print(f"{engine}: {len(lists)} lists, tables of status {statuses}, {len(parts)} left as .part")
    if len(lists) < 2 or len(tables) != len(lists) or set(statuses) - {"0", "1"} or parts:
        fail(f"{engine}: {len(lists)} lists but {len(tables)} tables (statuses {statuses}) and {parts} left")
    if "1" not in statuses:
        fail(f"{engine}: no shard table of status 1, though {invalid} files are not valid UTF-8")
    got = open(os.path.join(run, "corpus.tab"), "rb").read() if os.path.exists(os.path.join(run, "corpus.tab")) else None
    if got is None:
        fail(f"{engine}: no corpus.tab: status {r.returncode}, {r.stderr[-3000:].decode(errors='replace')}")
    elif got != want:
        fail(f"{engine}: corpus.tab ({len(got)} bytes) is not the table of one run ({len(want)} bytes)")
    else:
        print(f"{engine}: corpus.tab is byte for byte the table of one run ({len(want)} bytes)")
    told = reports.count(b" encountered at line ")
    if told != invalid:
        fail(f"{engine}: {told} files reported, {invalid} are not valid UTF-8")


def check_planted_run(engine, run, merge_report):
    lists, tables, parts = shard_files(run)
    print(f"{engine}, planted failures: tables of status {sorted(set(tables.values()))}, {len(parts)} left as .part")
    expected = {"017": None, "042": str(128 + signal.SIGKILL), "063": "3"}
    for n, status in expected.items():
        if tables.get(n) != status:
            fail(f"{engine}: list.{n} ({PLANTED[n]}) gave a table of status {tables.get(n)}, not {status}")
    message = f"{len(PLANTED)} of {len(lists)} shards did not run to their end"
    if os.path.exists(os.path.join(run, "corpus.tab")):
        fail(f"{engine}: the merge wrote corpus.tab though {message}")
    if message.encode() not in merge_report:
        fail(f"{engine}: the merge did not say {message!r}: {merge_report[-2000:]!r}")
    else:
        print(f"{engine}: the merge failed: {message}")


def planted_runetally(scratch, tally):
    """A runetally that fails on the planted lists, first on the PATH."""
    d = os.path.join(scratch, "planted")
    os.mkdir(d)
    script = os.path.join(d, "runetally")
    with open(script, "w") as f:
        f.write("#!/bin/sh\n"
                'case "$*" in\n'
                "  *list.017*) kill -KILL $PPID; kill -KILL $$ ;;\n"
                "  *list.042*) kill -KILL $$ ;;\n"
                "  *list.063*) exit 3 ;;\n"
                "esac\n"
                f'exec {shlex.quote(tally)} "$@"\n')
    os.chmod(script, 0o755)
    return d


def run_engine(engine, recipe, tally, scratch):
    work = os.path.join(scratch, "work")
    os.mkdir(work)
    home = os.path.join(scratch, "home")
    os.mkdir(home)
    invalid = make_corpus(os.path.join(work, "corpus"))
    base = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "SLURM", "PARALLEL")) and k != "LANG"}
    path = os.path.dirname(tally) + os.pathsep + os.environ.get("PATH", SYSTEM_PATH)
    env = dict(base, LC_ALL="C", HOME=home, PARALLEL_HOME=os.path.join(home, ".parallel"), PATH=path)
    names = subprocess.run(["find", "corpus", "-type", "f", "-print0"], cwd=work, capture_output=True, check=True).stdout
    one = subprocess.run([tally, "-k", "--files0-from=-"], cwd=work, input=names, env=env, capture_output=True)
    if one.returncode != 1 or not one.stdout:
        raise RuntimeError(f"one run over the corpus: status {one.returncode}, {len(one.stdout)} bytes")
    print(f"{engine}: {names.count(0)} files, {invalid} not valid UTF-8")

    started = time.monotonic()
    if engine != "parallel":
        env.update(start_sshd(scratch, env) if engine == "ssh" else start_slurm(scratch, env))
        print(f"{engine}: daemons ready in {time.monotonic() - started:.1f} s", flush=True)
        started = time.monotonic()

    for planted in (False, True):
        run_env = dict(env, PATH=planted_runetally(scratch, tally) + os.pathsep + path) if planted else env
        r, run = run_recipe(recipe, work, run_env, 300)
        if engine == "slurm":
            slurm_quiet(env, 240)
            jobs = re.findall(rb"Submitted batch job (\d+)", r.stdout)
            merge_state = slurm_job_state(env, jobs[-1].decode()) if jobs else "not submitted"
            want_state = "FAILED" if planted else "COMPLETED"
            if merge_state != want_state:
                fail(f"slurm: the merge job ended {merge_state}, not {want_state}")
            outs = sorted(n for n in os.listdir(run) if re.fullmatch(r"\d+\.out", n))
            reports = b"".join(open(os.path.join(run, n), "rb").read() for n in outs)
            merge_out = os.path.join(run, "merge.out")
            merge_report = open(merge_out, "rb").read() if os.path.exists(merge_out) else b""
            strays = [n for n in os.listdir(work) if n.startswith("slurm-")]
            if len(outs) != 100 or strays:
                fail(f"slurm: {len(outs)} task reports in the run's folder, not 100, and {strays} outside it")
        else:
            reports = merge_report = r.stderr
            if (r.returncode != 0) != planted:
                fail(f"{engine}: the recipe ended with status {r.returncode}: {r.stderr[-2000:]!r}")
        if planted:
            check_planted_run(engine, run, merge_report)
        else:
            check_good_run(engine, r, run, reports, one.stdout, invalid)
        print(f"{engine}: {'run with planted failures' if planted else 'run'} in {time.monotonic() - started:.1f} s",
              flush=True)
        started = time.monotonic()
    if engine == "ssh":
        log = open(os.path.join(scratch, "ssh", "sshd.log"), "rb").read()
        print(f"ssh: {log.count(b'Accepted publickey')} ssh sessions")
        if b"Accepted publickey" not in log:
            fail("ssh: no job went through sshd")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("engine", choices=["parallel", "ssh", "slurm"])
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("--readme", required=True)
    a = ap.parse_args()
    required = os.environ.get("RUNEKIT_REQUIRE_ENGINES") == "1"
    reason = why_not(a.engine)
    if reason:
        print(f"SKIP: {a.engine}: {reason}" + (" (RUNEKIT_REQUIRE_ENGINES=1: a failure here)" if required else ""))
        return 1 if required else SKIPPED

    # A SIGTERM (ctest's timeout, an interrupted run) fails the test, which
    # stops the daemons.
    def interrupted(*_):
        raise RuntimeError("interrupted by SIGTERM")
    signal.signal(signal.SIGTERM, interrupted)
    started = time.monotonic()
    before = snapshot()
    scratch = tempfile.mkdtemp(prefix=f"runekit-{a.engine}-")
    try:
        recipe = recipes(a.readme).get(a.engine)
        if recipe is None:
            fail(f"README: no block of Large corpora for {a.engine}")
        else:
            run_engine(a.engine, recipe, os.path.join(os.path.abspath(a.bin_dir), "runetally"), scratch)
    except (RuntimeError, subprocess.SubprocessError, OSError) as e:
        fail(f"{a.engine}: {e}")
    finally:
        stop_daemons()
        after = snapshot()
        for place in sorted(set(before) | set(after)):
            if before.get(place) != after.get(place):
                fail(f"{place} changed during the test: {before.get(place)} -> {after.get(place)}")
        if failures:
            print(f"scratch folder kept: {scratch}")
        else:
            shutil.rmtree(scratch)
    print(f"{a.engine}: {time.monotonic() - started:.1f} s in all; "
          f"{1 if not failures else 0} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
