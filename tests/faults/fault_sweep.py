#!/usr/bin/env python3
"""Fault-injection sweep: runs vlxinstall under strace, failing or killing it at
every system call of a run, and checks that no installation is ever left
worse than it was found.

For each scenario, a clean run is traced first to learn its system calls.
Then, for each call N of that run (start-up and memory management excepted)
and each error of the call's list, a fresh copy of the scenario is run with
call N failing with that error (strace -e inject=SYSCALL:error=ERRNO:when=K),
and separately with the process killed on entering call N. After each
faulted run and after a clean rerun the invariants of docs/faults.md are
checked.

Then the in-place path is driven into its failure: for each temporary file a
clean run of an earlier installation creates, a run in which the directory
refuses it (EACCES), so that the target is written in place, is traced, and
each call that writes that target is failed in a run of its own: two faults
in one run. The target may then be incomplete, and the run must say so.

usage: fault_sweep.py [--full] [--jobs N] [--scenario NAME] TOOL
  --full   every error of each call's list (default: the first only), the
           kill at every call in every scenario (default: in two scenarios)
           and the two-fault runs in every scenario (default: in one)"""

import argparse
import concurrent.futures
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile

LAUNCHERS = ["vlx.exe", "vlxwin.exe", "vlxcomp.exe", "lintvet.exe", "sigscan.exe", "vlxrun.exe",
             "testdrv.exe"]
BOOT_FILES = ["start_minimal.boot", "start_tavrel.boot", "no_dot_vorlax.boot"]
PROMPT = "Do you want a minimal startup instead of tavrel [No]: "
CONTINUING = "Continuing installation anyway..."
INCOMPLETE = "  %s is now incomplete: its directory allows no new file, so it was written in place"
BAILING_OUT = "Cannot continue installation, bailing out."
OLD_CONFIG = "[vorlax]\nBindir=old\nProgname=vlx\nRootdir=old\n"
# An earlier installation's files belong to another user, with their own
# permission bits and an extended attribute: a replacement keeps all three.
OLD_OWNER = 65534
OLD_MODE = 0o600
OLD_ATTRIBUTE = ("user.origin", b"earlier installation")
UMASK = os.umask(0o022)
os.umask(UMASK)

# System calls of process start-up and memory management: a failure there is
# the C library's, not the tool's.
NOT_INJECTED = {"execve", "brk", "mmap", "munmap", "mremap", "mprotect", "madvise", "arch_prctl",
                "set_tid_address", "set_robust_list", "rseq", "prlimit64", "getrandom",
                "exit_group"}

# Realistic errors for each call, the most likely first.
ERRORS = {
    "openat": ["EACCES", "EIO", "ENOSPC", "EMFILE", "EINTR"],
    "read": ["EIO", "EINTR"],
    "write": ["ENOSPC", "EIO", "EDQUOT", "EINTR"],
    "close": ["EIO", "ENOSPC", "EINTR"],
    "copy_file_range": ["EIO", "ENOSPC", "EXDEV", "ENOSYS", "EOPNOTSUPP", "EINTR"],
    "fsync": ["EIO", "ENOSPC", "EINVAL", "EINTR"],
    "renameat": ["EACCES", "EIO", "ENOSPC", "EPERM", "EINTR"],
    "linkat": ["EIO", "EPERM", "EMLINK", "ENOSPC", "EINTR"],
    "mkdir": ["EACCES", "ENOSPC", "EIO", "EINTR"],
    "newfstatat": ["EACCES", "EIO", "EINTR"],
    "readlink": ["EIO", "EACCES", "EINTR"],
    "unlink": ["EIO", "EACCES", "EBUSY", "EINTR"],
    "unlinkat": ["EIO", "EACCES", "EBUSY", "EINTR"],
    "getdents64": ["EIO", "EINTR"],
    "fchmod": ["EPERM", "EINTR"],
    "fchown": ["EPERM", "EINTR"],
    "utimensat": ["EPERM", "EINTR"],
    "fcntl": ["ENOLCK", "EIO", "EINTR"],
    "listxattr": ["EIO", "EACCES"],
    "getxattr": ["EIO", "EACCES"],
    "fsetxattr": ["EPERM", "ENOSPC", "EIO"],
}
DEFAULT_ERRORS = ["EIO", "EINTR"]
# What read_calls adds to the look at a file whose identity a new file carries.
CARRIED = "  # carried"


class Scenario:
    """A distribution in a given state and how the tool is run on it."""

    def __init__(self, name, installed=False, answer=None, tool_in_root=False, no_offload=False,
                 kills=False, in_place=False):
        self.name = name
        self.installed = installed        # an older installation is in place
        self.answer = answer              # the answer line; None for a silent run
        self.tool_in_root = tool_in_root  # the tool finds the root from its own location
        self.no_offload = no_offload      # copy_file_range always fails with EXDEV
        self.kills = kills                # killed at every call in the short form too
        self.in_place = in_place          # two-fault runs in the short form too

    def tavrel_start(self):
        return self.answer is not None and self.answer.strip().lower() not in ("y", "yes")


SCENARIOS = [
    Scenario("fresh", kills=True),
    Scenario("rerun", installed=True, kills=True, in_place=True),
    Scenario("interactive-yes", installed=True, answer="y\n"),
    Scenario("interactive-enter", answer="\n"),
    Scenario("tool-in-root"),
    Scenario("no-offload", installed=True, no_offload=True),
]


def descriptor():
    """An Install.ini whose SYSTEM_VSN line is cut by the 1024-byte block:
    "SYSTEM_VSN=1" ends the first block and "0" starts the second."""
    head = "[Install]\nVSN=2.4.1\n"
    padding = 1024 - len(head) - len("SYSTEM_VSN=1")
    comment = "; " + "padding " * 20 + "\n"
    lines = ""
    while padding - len(lines) > len(comment):
        lines += comment
    lines += ";" + " " * (padding - len(lines) - 2) + "\n"
    text = lines + head + "SYSTEM_VSN=10\n"
    assert text.index("SYSTEM_VSN=10") + len("SYSTEM_VSN=1") == 1024
    return text


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def read(path):
    try:
        with open(path, encoding="utf-8", errors="surrogateescape", newline="") as f:
            return f.read()
    except FileNotFoundError:
        return None


# What a target is: (contents, permission bits, owner), and which of these a
# fault may leave unequal to what a complete run gives.
FIELDS = ("contents", "mode", "owner")


def state(path):
    """What a target is: its contents, permission bits and owner; None when
    it is not there."""
    contents = read(path)
    if contents is None:
        return None
    info = os.stat(path)
    return contents, stat.S_IMODE(info.st_mode), info.st_uid


def escape(text):
    return text.replace("\\", "\\\\").replace(";", "\\;")


class Installation:
    """One scenario laid out in a scratch directory, with what every target
    held before the run and must hold after a complete one."""

    def __init__(self, scenario, tool, base):
        self.scenario = scenario
        self.root = os.path.join(base, "root")
        self.runtime_bin = os.path.join(self.root, "vlxcore-2.4.1", "bin")
        self.release = os.path.join(self.root, "releases", "10")
        self.bin = os.path.join(self.root, "bin")
        write(os.path.join(self.root, "Install.ini"), descriptor())
        for name in LAUNCHERS:
            # One large launcher takes several rounds of the read/write copy.
            size = 9000 if name == "vlx.exe" else 1  # 153 kB
            write(os.path.join(self.runtime_bin, name), "launcher %s\n" % name * size)
            os.chmod(os.path.join(self.runtime_bin, name), 0o755)
        for release in ("10", "1"):  # release 1 is what a cut SYSTEM_VSN=10 would name
            for name in BOOT_FILES:
                write(os.path.join(self.root, "releases", release, name),
                      "boot %s of release %s\n" % (name, release))
        if scenario.installed:
            for name in LAUNCHERS + BOOT_FILES + ["start.boot"]:
                write(os.path.join(self.bin, name), "old %s\n" % name)
            write(os.path.join(self.bin, "vlx.ini"), OLD_CONFIG)
            write(os.path.join(self.runtime_bin, "vlx.ini"), OLD_CONFIG)
            for path in self.targets():
                os.chown(path, OLD_OWNER, OLD_OWNER)
                os.chmod(path, OLD_MODE)
                os.setxattr(path, *OLD_ATTRIBUTE)
            # What an earlier killed run left.
            self.stale = [os.path.join(self.bin, ".vlxinstall-STALE1"),
                          os.path.join(self.runtime_bin, ".vlxinstall-STALE2")]
            for path in self.stale:
                write(path, "torn")
        else:
            self.stale = []
        if scenario.tool_in_root:
            self.tool = os.path.join(self.root, os.path.basename(tool))
            shutil.copy2(tool, self.tool)
            self.arguments = ["-s"]
        else:
            self.tool = tool
            self.arguments = [self.root] if scenario.answer is not None else ["-s", self.root]
        self.sources = self.snapshot(self.source_paths())
        self.before = self.snapshot(self.targets())
        self.after = self.complete_state()

    def source_paths(self):
        paths = [os.path.join(self.root, "Install.ini")]
        paths += [os.path.join(self.runtime_bin, name) for name in LAUNCHERS]
        for release in ("10", "1"):
            paths += [os.path.join(self.root, "releases", release, name) for name in BOOT_FILES]
        return paths

    def targets(self):
        """Every file the tool writes, in the order it writes them."""
        return ([os.path.join(self.bin, name) for name in LAUNCHERS + BOOT_FILES]
                + [os.path.join(self.bin, "start.boot"), os.path.join(self.runtime_bin, "vlx.ini"),
                   os.path.join(self.bin, "vlx.ini")])

    @staticmethod
    def snapshot(paths):
        return {path: state(path) for path in paths}

    def complete_state(self):
        """Every target as a complete run leaves it: a copy has its source's
        contents and permission bits, vlx.ini keeps the bits it had, and each
        keeps its owner."""
        owner = OLD_OWNER if self.scenario.installed else os.getuid()
        copied = {}
        for name in LAUNCHERS:
            copied[os.path.join(self.bin, name)] = os.path.join(self.runtime_bin, name)
        for name in BOOT_FILES:
            copied[os.path.join(self.bin, name)] = os.path.join(self.release, name)
        start = "start_tavrel.boot" if self.scenario.tavrel_start() else "start_minimal.boot"
        copied[os.path.join(self.bin, "start.boot")] = os.path.join(self.release, start)
        complete = {target: state(source)[:2] + (owner,) for target, source in copied.items()}
        config = "[vorlax]\nBindir=%s\nProgname=vlx\nRootdir=%s\n" % (escape(self.runtime_bin),
                                                                       escape(self.root))
        mode = OLD_MODE if self.scenario.installed else 0o666 & ~UMASK
        complete[os.path.join(self.runtime_bin, "vlx.ini")] = (config, mode, owner)
        complete[os.path.join(self.bin, "vlx.ini")] = (config, mode, owner)
        return complete

    def attributes_kept(self):
        """The targets of an earlier installation that lost its extended
        attribute."""
        if not self.scenario.installed:
            return []
        return [t for t in self.targets() if OLD_ATTRIBUTE[0] not in os.listxattr(t)]

    def command(self):
        return [self.tool] + self.arguments

    def run(self, prefix=()):
        result = subprocess.run(list(prefix) + self.command(), input=self.scenario.answer or "",
                                capture_output=True, text=True, errors="surrogateescape",
                                cwd=os.path.dirname(self.root), timeout=60)
        return result.returncode, result.stdout, result.stderr

    def temporaries(self):
        found = []
        for directory, _, names in os.walk(self.root):
            found += [os.path.join(directory, n) for n in names if n.startswith(".vlxinstall-")]
        return sorted(found)

    def fatal_messages(self):
        """Each fatal message with the index of the first target that must
        be unchanged after it."""
        ini = os.path.join(self.root, "Install.ini")
        messages = {
            "Could not read answer from user.": 0,
            "Could not GetModuleFileName()": 0,
            "Cannot open init file %s" % ini: 0,
            "No [Install] section in init file %s" % ini: 0,
            "No key VSN in init file %s" % ini: 0,
            "No key SYSTEM_VSN in init file %s" % ini: 0,
        }
        targets = self.targets()
        for i, name in enumerate(LAUNCHERS):
            messages["Could not find file %s" % os.path.join(self.runtime_bin, name)] = i
        for i, name in enumerate(BOOT_FILES, len(LAUNCHERS)):
            source = os.path.join(self.release, name)
            messages["Could not find file %s" % source] = i
            messages["Could not copy file %s to %s\n%s" % (source, targets[i], BAILING_OUT)] = i
        start = "start_tavrel.boot" if self.scenario.tavrel_start() else "start_minimal.boot"
        messages["Could not copy file %s to %s\n%s" % (os.path.join(self.bin, start), targets[10],
                                                       BAILING_OUT)] = 10
        messages["Could not create file %s\n%s" % (targets[11], BAILING_OUT)] = 11
        messages["Could not copy file %s to %s\n%s" % (targets[11], targets[12], BAILING_OUT)] = 12
        return messages

    def warnings(self):
        return {"Could not copy file %s to %s\n%s" % (os.path.join(self.runtime_bin, name),
                                                      os.path.join(self.bin, name), CONTINUING): i
                for i, name in enumerate(LAUNCHERS)}


# Failures from a system call have a line under them with the reason.
REASONED = ("Could not copy file ", "Could not create file ", "Cannot open init file ")


def strip_reasons(err):
    """Standard error without the reason lines under failures and the lines
    that say a target was left incomplete; the failures that lack a reason,
    and the targets said to be incomplete."""
    lines, kept, bare, incomplete = err.split("\n"), [], [], []
    i = 0
    while i < len(lines):
        kept.append(lines[i])
        if lines[i].startswith(REASONED):
            if i + 1 < len(lines) and lines[i + 1].startswith("  ") and lines[i + 1].strip():
                i += 1
                said = re.match(r"  (.*) is now incomplete: its directory allows no new file, so it was written in "
                                r"place$", lines[i + 1]) if i + 1 < len(lines) else None
                if said:
                    incomplete.append(said.group(1))
                    i += 1
            else:
                bare.append(lines[i])
        i += 1
    return "\n".join(kept), bare, incomplete


def parse_errors(installation, status, err):
    """The launchers that were warned about and the first target a fatal
    message leaves unchanged (None when the run ended well), or a problem."""
    err, bare, _ = strip_reasons(err)
    if bare:
        return "failures without their reason: %r" % bare
    warnings, fatals = installation.warnings(), installation.fatal_messages()
    warned, rest = [], err
    while rest:
        for text, index in warnings.items():
            if rest.startswith(text + "\n") and (not warned or warned[-1] < index):
                warned.append(index)
                rest = rest[len(text) + 1:]
                break
        else:
            break
    if status == 0:
        return (warned, None) if not rest else "unexpected standard error %r" % rest
    for text, index in fatals.items():
        if rest == text + "\n":
            return warned, index
    return "status 1 without a fatal message of the tables: %r" % rest


def without(states, fields):
    """The states with the given fields left out of each."""
    keep = [i for i, field in enumerate(FIELDS) if field not in fields]
    return {path: None if state is None else tuple(state[i] for i in keep) for path, state in states.items()}


def check_outcome(installation, status, out, err, killed, not_kept=(), may_be_incomplete=None):
    """Problems with a faulted run's messages, status and files. not_kept:
    the fields (and "attribute") of what a replacement carries that the fault
    kept from the new files, which are then not compared. may_be_incomplete:
    the target written in place that the run may leave incomplete, if it
    says so."""
    problems = []
    interactive = installation.scenario.answer is not None  # silent otherwise
    success = PROMPT + "Vorlax 2.4.1 installed successfully\n" if interactive else ""
    targets = installation.targets()
    now = without(Installation.snapshot(targets), not_kept)
    before, after = without(installation.before, not_kept), without(installation.after, not_kept)
    _, _, incomplete = strip_reasons(err)
    for t in incomplete:
        if t != may_be_incomplete:
            problems.append("%s is said to be incomplete" % t)
    # A target whose write in place failed gets its old bytes back; only
    # where that fails too is it incomplete, and a line says so.
    if (may_be_incomplete is not None and not killed and may_be_incomplete not in incomplete
            and now[may_be_incomplete] != before[may_be_incomplete]):
        problems.append("%s was written in place and failed, but is neither as before nor said to be incomplete"
                        % may_be_incomplete)
    damaged = set(incomplete)
    changed = [now[t] != before[t] for t in targets]
    for t in targets:
        if now[t] not in (before[t], after[t]) and t not in damaged:
            problems.append("%s is neither as before nor complete: %r" % (t, str(now[t])[:120]))
    if "attribute" not in not_kept:
        problems += ["%s lost its extended attribute" % t for t in installation.attributes_kept()]
    if killed:
        if status != -9:
            problems.append("expected a kill, got status %s" % status)
        # Files are written in order: nothing changes after one that did not.
        first_unchanged = changed.index(False) if False in changed else len(changed)
        if any(changed[first_unchanged:]):
            problems.append("files changed out of order")
        return problems
    if status not in (0, 1):
        return problems + ["status %s (crash?) with %r" % (status, err)]
    parsed = parse_errors(installation, status, err)
    if isinstance(parsed, str):
        return problems + [parsed]
    warned, _ = parsed
    if status == 0 and out != success:
        problems.append("standard output %r after success" % out)
    if status == 1 and out != (PROMPT if interactive else ""):
        problems.append("standard output %r after a failure" % out)
    # A run that fails leaves every target as it was (but one written in
    # place that it says is incomplete); one that succeeds leaves each
    # complete, but the launchers it warned about, which stay as they were.
    for i, t in enumerate(targets):
        if t in damaged:
            continue
        if status == 1 or i in warned:
            if now[t] != before[t]:
                problems.append("%s changed although the run %s" % (t, "failed" if status == 1 else "warned"))
        elif now[t] != after[t]:
            problems.append("%s is not complete although the run succeeded" % t)
    return problems


def is_directory_flush(name, line, written_fds):
    fd = re.match(r"fsync\((\d+)\)", line)
    return name == "fsync" and fd is not None and int(fd.group(1)) not in written_fds


def is_directory_open(name, line):
    """The open of a directory to lock it or, in the commit, to flush it."""
    return name == "openat" and "O_DIRECTORY" in line and "O_PATH" not in line


def must_report(name, line, error, written_fds, scenario, committing):
    """Faults that lose what the tool writes: the run must say so."""
    if error == "EINTR" or must_complete(name, line, error, scenario, committing):
        return False
    if name in ("renameat", "linkat", "copy_file_range") or is_directory_flush(name, line, written_fds):
        return True
    if is_directory_open(name, line) and committing:
        return True
    fd = re.match(r"[a-z0-9_]+\((\d+)[,)]", line)
    return name in ("write", "pwrite64", "ftruncate", "fsync", "close") and fd is not None and \
        int(fd.group(1)) in written_fds


def is_carried_stat(name, line):
    """The look at the file being replaced, for what its new file carries:
    its own descriptor, opened by name without following a link, and the
    look through it (marked by read_calls)."""
    if name == "openat":
        return re.match(r'openat\(\d+, "[^"]+", [A-Z_|]*O_PATH[A-Z_|]*\)', line) is not None and \
            "O_DIRECTORY" not in line
    return name == "newfstatat" and line.endswith(CARRIED)


def not_kept(name, line, error):
    """What a replacement carries that the fault keeps from the new file:
    fields of a target's state, and "attribute"."""
    if error == "EINTR":
        return ()
    if name == "fchmod":
        return ("mode",)
    if name == "fchown":
        return ("owner", "attribute")  # what the old file carried goes only with its owner
    if name in ("listxattr", "getxattr", "fsetxattr"):
        return ("attribute",)
    if is_carried_stat(name, line):
        return ("owner", "attribute")
    return ()


def must_complete(name, line, error, scenario, committing):
    """Faults the tool absorbs: the run must end as a clean one does."""
    if error == "EINTR":
        return not line.startswith("read(0,")  # the C library's line input gives up
    if name in ("openat", "newfstatat") and ".vlxinstall.lock" in line:
        return True  # a root that cannot be locked is installed without the lock
    if name == "fcntl" and "F_DUPFD" in line:
        return False  # a directory's handle for a replacement: the file fails on its own
    if name in ("fchmod", "utimensat", "getdents64", "unlinkat", "fcntl", "unlink"):
        # Kept metadata, the clearing of leftovers and of the files a commit
        # kept, and the lock on the root (which only a second run at the same
        # time needs) are best effort.
        return True
    if name == "linkat":
        return error in ("EPERM", "EMLINK")  # no link: the old file is moved aside instead
    if name in ("fchown", "listxattr", "getxattr", "fsetxattr") or is_carried_stat(name, line):
        return True  # what the new file cannot be given, it goes without
    if name == "copy_file_range":
        return error in ("EXDEV", "ENOSYS", "EOPNOTSUPP")
    if name == "fsync":
        return error == "EINVAL"
    if name == "openat" and "O_EXCL" in line:
        # A directory that refuses a new file: an earlier file is written in place.
        return scenario.installed and error in ("EACCES", "EPERM")
    if is_directory_open(name, line):
        # The lock is best effort; a directory that may not be read is not
        # flushed, but any other failure to open it for its flush is one.
        return not committing or error in ("EACCES", "EPERM")
    return False


# Scratch directories go to a memory file system where there is one: every
# run flushes each file it writes, which costs real disk time elsewhere.
SCRATCH = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None


def trace_calls(scenario, tool):
    """The system calls of a clean run: (name, occurrence of that name, line,
    the descriptors open for writing when it was made)."""
    base = tempfile.mkdtemp(prefix="vlx-faults-", dir=SCRATCH)
    try:
        installation = Installation(scenario, tool, base)
        trace = os.path.join(base, "trace")
        prefix = ["strace", "-qq", "-o", trace] + offload_injection(scenario)
        status, _, err = installation.run(prefix)
        if status != 0:
            raise SystemExit("%s: the clean run failed: %s" % (scenario.name, err))
        calls = [call for call in read_calls(trace, scenario) if is_injectable(call, scenario)]
        check_durable(installation, trace)
        return calls
    finally:
        shutil.rmtree(base, ignore_errors=True)


def read_calls(trace, scenario):
    """The system calls of a trace: (name, occurrence of that name, line, the
    descriptors open for writing when it was made, whether the commit had
    begun: a file had been linked or renamed into place)."""
    calls, seen, written, carried, committing = [], {}, set(), set(), False
    with open(trace, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = re.match(r"([a-z_0-9]+)\(", line)
            if not match:
                continue
            name = match.group(1)
            seen[name] = seen.get(name, 0) + 1
            committing = committing or name in ("linkat", "renameat")
            looked = re.match(r'newfstatat\((\d+), "",', line)
            marked = line.strip() + (CARRIED if looked and int(looked.group(1)) in carried else "")
            calls.append((name, seen[name], marked, frozenset(written), committing))
            result = re.search(r"\) += (\d+)$", line.strip())
            if result and is_carried_stat(name, line.strip()):
                carried.add(int(result.group(1)))
            opened = re.match(r"openat\(.*O_(WRONLY|RDWR).*\) += (\d+)$", line.strip())
            if opened and ".vlxinstall.lock" not in line:  # the lock file is never written
                written.add(int(opened.group(2)))
            closed = re.match(r"close\((\d+)\)", line)
            if closed:
                written.discard(int(closed.group(1)))
                carried.discard(int(closed.group(1)))
    return calls


def is_injectable(call, scenario):
    """Calls of process start-up and memory management are the C library's;
    console output that fails cannot be reported anywhere."""
    name, line = call[0], call[2]
    return not (name in NOT_INJECTED or line.startswith(("write(1,", "write(2,")) or
                (scenario.no_offload and name == "copy_file_range"))


def in_place_points(scenario, tool, calls):
    """For each temporary file the clean run creates: the creation, a run
    with it refused (so that the target is written in place) traced, the
    target, and the calls of that run that write the target (copy offload,
    writes, flush and close)."""
    points = []
    for name, occurrence, line, _, _ in calls:
        if name != "openat" or "O_EXCL" not in line or ".vlxinstall.lock" in line:
            continue
        base = tempfile.mkdtemp(prefix="vlx-faults-", dir=SCRATCH)
        try:
            installation = Installation(scenario, tool, base)
            trace = os.path.join(base, "trace")
            installation.run(["strace", "-qq", "-o", trace] + offload_injection(scenario)
                             + ["-e", "inject=openat:error=EACCES:when=%d" % occurrence])
            traced = read_calls(trace, scenario)
        finally:
            shutil.rmtree(base, ignore_errors=True)
        # The target is written in place at the commit, first of all.
        rest = traced[[c[:2] for c in traced].index((name, occurrence)) + 1:]
        at = next((i for i, c in enumerate(rest) if c[0] == "openat" and "O_WRONLY" in c[2]
                   and "O_EXCL" not in c[2] and ".vlxinstall.lock" not in c[2]), None)
        opened = re.match(r'openat\((\d+), "(.*)", .*O_WRONLY.*\) += (\d+)$', rest[at][2]) if at is not None else None
        if not opened:
            raise SystemExit("%s: a refused temporary file did not lead to writing in place" % scenario.name)
        directories = directory_names(line for _, _, line, _, _ in traced[:traced.index(rest[at])])
        fd = opened.group(3)
        writes = []
        for call in rest[at + 1:]:
            target = {"write": 0, "pwrite64": 0, "ftruncate": 0, "fsync": 0, "close": 0,
                      "copy_file_range": 2}.get(call[0])
            arguments = re.match(r"[a-z_0-9]+\((.*)\)", call[2].split(" = ")[0])
            if target is None or not arguments or arguments.group(1).split(", ")[target] != fd:
                continue
            if is_injectable(call, scenario):
                writes.append(call)
            if call[0] == "close":
                break
        path = os.path.join(directories.get(opened.group(1), ""), opened.group(2))
        points.append(((name, occurrence, line), path.replace(installation.root, "{root}"), writes))
    return points


def directory_names(lines, names=None):
    """The directory that each descriptor names, from the opens and copies of
    descriptors in lines (descriptors of files name the file): {fd: path}."""
    names = {} if names is None else names
    for line in lines:
        line = line.strip()
        match = re.match(r'openat\((AT_FDCWD|\d+), "(.*?)", .*\) += (\d+)$', line)
        if match:
            base = "" if match.group(1) == "AT_FDCWD" else names.get(match.group(1), "")
            path = match.group(2) if match.group(2).startswith("/") else os.path.join(base, match.group(2))
            names[match.group(3)] = os.path.normpath(path)
            continue
        match = re.match(r"fcntl\((\d+), F_DUPFD_CLOEXEC, 0\) += (\d+)$", line)
        if match:
            names[match.group(2)] = names.get(match.group(1), "")
    return names


def check_durable(installation, trace):
    """A clean run flushes bin and the runtime's bin after the last rename
    into each, before it reports success."""
    with open(trace, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    # The replacements name the files relative to a descriptor of their
    # directory, and flush it through a descriptor opened from that one.
    for directory in (installation.bin, installation.runtime_bin):
        names = {}
        renamed, flushed, flushing = False, False, set()
        for line in lines:
            directory_names([line], names)
            match = re.match(r"renameat\((\d+),", line)
            if match and names.get(match.group(1)) == directory:
                renamed, flushed = True, False
            match = re.match(r'openat\((\d+), "\.", .*O_DIRECTORY.*\) += (\d+)$', line)
            if match and "O_PATH" not in line and names.get(match.group(1)) == directory:
                flushing.add(match.group(2))
            match = re.match(r"fsync\((\d+)\) += 0$", line)
            flushed = flushed or (renamed and match is not None and match.group(1) in flushing)
        if not renamed or not flushed:
            raise SystemExit("%s: %s is not flushed after its last rename" % (installation.scenario.name, directory))


def offload_injection(scenario):
    return ["-e", "inject=copy_file_range:error=EXDEV"] if scenario.no_offload else []


def run_point(scenario, tool, call, fault):
    """Runs one faulted run and its clean rerun; returns the problems found."""
    name, occurrence, line, written_fds, committing = call
    base = tempfile.mkdtemp(prefix="vlx-faults-", dir=SCRATCH)
    try:
        installation = Installation(scenario, tool, base)
        killed = fault == "kill"
        tampering = "signal=SIGKILL" if killed else "error=" + fault
        # Only the calls injected into are traced, and for errors seccomp
        # stops the process at those alone, so such a run costs little more
        # than a plain one. strace 6.1 delivers no injected signal that way.
        traced = name + (",copy_file_range" if scenario.no_offload else "")
        seccomp = [] if killed else ["-f", "--seccomp-bpf"]
        prefix = (["strace"] + seccomp + ["-qq", "-o", "/dev/null", "-e", "trace=" + traced]
                  + offload_injection(scenario) + ["-e", "inject=%s:%s:when=%d" % (name, tampering, occurrence)])
        status, out, err = installation.run(prefix)
        kept_from_new = () if killed else not_kept(name, line, fault)  # and from them in the rerun
        problems = check_outcome(installation, status, out, err, killed, kept_from_new)
        if not killed:
            # A kept old file whose removal failed waits for the next sweep.
            kept_removal = name == "unlinkat" and re.search(r'"\.vlxinstall-[A-Za-z0-9]{6}-', line)
            left = [p for p in installation.temporaries() if p not in installation.stale and not kept_removal]
            if left:
                problems.append("temporary files left by a run that was not killed: %s" % left)
            if must_complete(name, line, fault, scenario, committing) and (status, err) != (0, ""):
                problems.append("this fault must not fail the run: status %s, %r" % (status, err))
            if must_report(name, line, fault, written_fds, scenario, committing) and not err:
                problems.append("a failure to write was not reported: status %s" % status)
        problems += check_rerun(installation, kept_from_new)
        return ["%s, %s #%d (%s) %s: %s" % (scenario.name, name, occurrence, line[:100], fault, p)
                for p in problems]
    finally:
        shutil.rmtree(base, ignore_errors=True)


def check_rerun(installation, kept_from_new=()):
    """Runs the scenario again without faults: it must complete and leave
    nothing behind, and the distribution itself must be unchanged."""
    problems = []
    status, _, err = installation.run()
    if status != 0 or err:
        problems.append("the clean rerun failed: status %s, %r" % (status, err))
    now = without(Installation.snapshot(installation.targets()), kept_from_new)
    if now != without(installation.after, kept_from_new):
        problems.append("the clean rerun left an incomplete installation")
    if installation.temporaries():
        problems.append("temporary files after the clean rerun: %s" % installation.temporaries())
    if Installation.snapshot(installation.source_paths()) != installation.sources:
        problems.append("the distribution itself changed")
    return problems


def run_two_faults(scenario, tool, refused, target, write, fault):
    """Runs one run with the temporary file refused and then the write of the
    target in place failing, and its clean rerun; returns the problems."""
    base = tempfile.mkdtemp(prefix="vlx-faults-", dir=SCRATCH)
    try:
        installation = Installation(scenario, tool, base)
        target = target.replace("{root}", installation.root)
        traced = ",".join(sorted({"openat", write[0]} | ({"copy_file_range"} if scenario.no_offload else set())))
        prefix = (["strace", "-f", "--seccomp-bpf", "-qq", "-o", "/dev/null", "-e", "trace=" + traced]
                  + offload_injection(scenario)
                  + ["-e", "inject=openat:error=EACCES:when=%d" % refused[1],
                     "-e", "inject=%s:error=%s:when=%d" % (write[0], fault, write[1])])
        status, out, err = installation.run(prefix)
        problems = check_outcome(installation, status, out, err, False, may_be_incomplete=target)
        left = [p for p in installation.temporaries() if p not in installation.stale]
        if left:
            problems.append("temporary files left by a run that was not killed: %s" % left)
        problems += check_rerun(installation)
        return ["%s, %s refused, then %s #%d (%s) %s: %s" % (scenario.name, refused[2][:60], write[0], write[1],
                                                              write[2][:60], fault, p) for p in problems]
    finally:
        shutil.rmtree(base, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tool")
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--scenario")
    options = parser.parse_args()
    tool = os.path.realpath(options.tool)
    if not shutil.which("strace"):
        raise SystemExit("strace is needed (Debian package strace)")

    work, two_faults = [], []
    for scenario in SCENARIOS:
        if options.scenario and scenario.name != options.scenario:
            continue
        calls = trace_calls(scenario, tool)
        for call in calls:
            errors = ERRORS.get(call[0], DEFAULT_ERRORS)
            if call[2].startswith("read(0,"):
                errors = ["EIO"]
            for fault in errors if options.full else errors[:1]:
                work.append((scenario, call, fault))
            if options.full or scenario.kills:
                work.append((scenario, call, "kill"))
        print("%s: %d system calls" % (scenario.name, len(calls)), flush=True)
        if scenario.installed and (options.full or scenario.in_place):
            points = in_place_points(scenario, tool, calls)
            for refused, target, writes in points:
                for write in writes:
                    errors = ERRORS.get(write[0], DEFAULT_ERRORS)
                    failing = [e for e in errors if e != "EINTR" and not must_complete(write[0], write[2], e, scenario,
                                                                                      write[4])]
                    for fault in failing[:None if options.full else 1]:
                        two_faults.append((scenario, refused, target, write, fault))
            print("%s: %d targets written in place" % (scenario.name, len(points)), flush=True)

    problems = []
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        futures = [pool.submit(run_point, scenario, tool, call, fault) for scenario, call, fault in work]
        futures += [pool.submit(run_two_faults, tool=tool, scenario=scenario, refused=refused, target=target,
                                write=write, fault=fault) for scenario, refused, target, write, fault in two_faults]
        for future in concurrent.futures.as_completed(futures):
            problems += future.result()
    for problem in sorted(problems):
        print(problem)
    print("%d faulted runs and %d with two faults, each with a clean rerun: %s" % (
        len(work), len(two_faults), "%d problems" % len(problems) if problems else "nothing unsound"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
