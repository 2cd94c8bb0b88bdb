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

usage: fault_sweep.py [--full] [--jobs N] [--scenario NAME] TOOL
  --full   every error of each call's list (default: the first only) and the
           kill at every call in every scenario (default: in two scenarios)"""

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
    "rename": ["EACCES", "EIO", "ENOSPC", "EPERM", "EINTR"],
    "mkdir": ["EACCES", "ENOSPC", "EIO", "EINTR"],
    "newfstatat": ["EACCES", "EIO", "EINTR"],
    "readlink": ["EIO", "EACCES", "EINTR"],
    "unlink": ["EIO", "EACCES", "EBUSY", "EINTR"],
    "unlinkat": ["EIO", "EACCES", "EBUSY", "EINTR"],
    "getdents64": ["EIO", "EINTR"],
    "fchmod": ["EPERM", "EINTR"],
    "fchown": ["EPERM", "EINTR"],
    "utimensat": ["EPERM", "EINTR"],
    "flock": ["ENOLCK", "EINTR"],
    "listxattr": ["EIO", "EACCES"],
    "getxattr": ["EIO", "EACCES"],
    "fsetxattr": ["EPERM", "ENOSPC", "EIO"],
}
DEFAULT_ERRORS = ["EIO", "EINTR"]


class Scenario:
    """A distribution in a given state and how the tool is run on it."""

    def __init__(self, name, installed=False, answer=None, tool_in_root=False, no_offload=False,
                 kills=False):
        self.name = name
        self.installed = installed        # an older installation is in place
        self.answer = answer              # the answer line; None for a silent run
        self.tool_in_root = tool_in_root  # the tool finds the root from its own location
        self.no_offload = no_offload      # copy_file_range always fails with EXDEV
        self.kills = kills                # killed at every call in the short form too

    def tavrel_start(self):
        return self.answer is not None and self.answer.strip().lower() not in ("y", "yes")


SCENARIOS = [
    Scenario("fresh", kills=True),
    Scenario("rerun", installed=True, kills=True),
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
    """Standard error without the reason lines under failures, and the
    failures that lack one."""
    lines, kept, bare = err.split("\n"), [], []
    i = 0
    while i < len(lines):
        kept.append(lines[i])
        if lines[i].startswith(REASONED):
            if i + 1 < len(lines) and lines[i + 1].startswith("  ") and lines[i + 1].strip():
                i += 1
            else:
                bare.append(lines[i])
        i += 1
    return "\n".join(kept), bare


def parse_errors(installation, status, err):
    """The launchers that were warned about and the first target a fatal
    message leaves unchanged (None when the run ended well), or a problem."""
    err, bare = strip_reasons(err)
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


def without_mode(states):
    return {path: None if state is None else state[:1] + state[2:] for path, state in states.items()}


def check_outcome(installation, status, out, err, killed, after_rename=False, mode_refused=False):
    """Problems with a faulted run's messages, status and files. after_rename:
    the fault came after the rename of the target it failed (the flush of its
    directory), which may then be complete. mode_refused: the file system
    refused permission bits, which are then not compared."""
    problems = []
    interactive = installation.scenario.answer is not None  # silent otherwise
    success = PROMPT + "Vorlax 2.4.1 installed successfully\n" if interactive else ""
    targets = installation.targets()
    now = Installation.snapshot(targets)
    if mode_refused:
        now = without_mode(now)
        installation.before = without_mode(installation.before)
        installation.after = without_mode(installation.after)
    changed = [now[t] != installation.before[t] for t in targets]
    for t in targets:
        if now[t] not in (installation.before[t], installation.after[t]):
            problems.append("%s is neither as before nor complete: %r" % (t, str(now[t])[:120]))
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
    warned, unchanged_from = parsed
    if status == 0 and out != success:
        problems.append("standard output %r after success" % out)
    if status == 1 and out != (PROMPT if interactive else ""):
        problems.append("standard output %r after a failure" % out)
    end = len(targets) if unchanged_from is None else unchanged_from
    for i, t in enumerate(targets):
        if after_rename and i == end and now[t] == installation.after[t]:
            continue
        if i >= end or i in warned:
            if now[t] != installation.before[t]:
                problems.append("%s changed although the run did not get to it" % t)
        elif now[t] != installation.after[t]:
            problems.append("%s is not complete although the run went past it" % t)
    return problems


def is_directory_flush(name, line, written_fds):
    fd = re.match(r"fsync\((\d+)\)", line)
    return name == "fsync" and fd is not None and int(fd.group(1)) not in written_fds


def must_report(name, line, error, written_fds):
    """Faults that lose what the tool writes: the run must say so."""
    if error == "EINTR" or must_complete(name, line, error):
        return False
    if name in ("rename", "copy_file_range") or is_directory_flush(name, line, written_fds):
        return True
    fd = re.match(r"[a-z0-9_]+\((\d+)[,)]", line)
    return name in ("write", "fsync", "close") and fd is not None and int(fd.group(1)) in written_fds


def must_complete(name, line, error):
    """Faults the tool absorbs: the run must end as a clean one does."""
    if error == "EINTR":
        return not line.startswith("read(0,")  # the C library's line input gives up
    if name in ("fchmod", "utimensat", "getdents64", "unlinkat", "flock"):
        # Kept metadata, the clearing of leftovers and the lock on the root
        # (which only a second run at the same time needs) are best effort.
        return True
    if name in ("fchown", "listxattr", "getxattr", "fsetxattr"):
        return True  # what a new file cannot be given, the old one keeps: written in place
    if name == "copy_file_range":
        return error in ("EXDEV", "ENOSYS", "EOPNOTSUPP")
    if name == "fsync":
        return error == "EINVAL"
    if name == "openat":
        return "O_DIRECTORY" in line
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
        calls, seen, written = [], {}, set()
        with open(trace, encoding="utf-8", errors="replace") as f:
            for line in f:
                match = re.match(r"([a-z_0-9]+)\(", line)
                if not match:
                    continue
                name = match.group(1)
                seen[name] = seen.get(name, 0) + 1
                if not (name in NOT_INJECTED or line.startswith(("write(1,", "write(2,")) or
                        (scenario.no_offload and name == "copy_file_range")):
                    # Console output that fails cannot be reported anywhere.
                    calls.append((name, seen[name], line.strip(), frozenset(written)))
                opened = re.match(r"openat\(.*O_(WRONLY|RDWR).*\) += (\d+)$", line.strip())
                if opened:
                    written.add(int(opened.group(2)))
                closed = re.match(r"close\((\d+)\)", line)
                if closed:
                    written.discard(int(closed.group(1)))
        check_durable(installation, trace)
        return calls
    finally:
        shutil.rmtree(base, ignore_errors=True)


def check_durable(installation, trace):
    """A clean run flushes bin and the runtime's bin after the last rename
    into each, before it reports success."""
    with open(trace, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    for directory in (installation.bin, installation.runtime_bin):
        renamed = [i for i, line in enumerate(lines)
                   if line.startswith("rename(") and '", "%s/' % directory in line]
        opened = {}
        flushed = False
        for line in lines[renamed[-1] + 1 if renamed else 0:]:
            match = re.match(r'openat\(AT_FDCWD, "%s/?", .*O_DIRECTORY.*\) = (\d+)$' % re.escape(directory), line)
            if match:
                opened[match.group(1)] = True
            match = re.match(r"fsync\((\d+)\) += 0$", line)
            flushed = flushed or (match is not None and match.group(1) in opened)
        if not renamed or not flushed:
            raise SystemExit("%s: %s is not flushed after its last rename" % (installation.scenario.name, directory))


def offload_injection(scenario):
    return ["-e", "inject=copy_file_range:error=EXDEV"] if scenario.no_offload else []


def run_point(scenario, tool, call, fault):
    """Runs one faulted run and its clean rerun; returns the problems found."""
    name, occurrence, line, written_fds = call
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
        mode_refused = name == "fchmod" and not killed  # bits refused once stay as they were
        problems = check_outcome(installation, status, out, err, killed,
                                 is_directory_flush(name, line, written_fds), mode_refused)
        if not killed:
            left = [p for p in installation.temporaries() if p not in installation.stale]
            if left:
                problems.append("temporary files left by a run that was not killed: %s" % left)
            if must_complete(name, line, fault) and (status, err) != (0, ""):
                problems.append("this fault must not fail the run: status %s, %r" % (status, err))
            if must_report(name, line, fault, written_fds) and not err:
                problems.append("a failure to write was not reported: status %s" % status)
        status, out, err = installation.run()
        if status != 0 or err:
            problems.append("the clean rerun failed: status %s, %r" % (status, err))
        now = Installation.snapshot(installation.targets())
        if (without_mode(now) if mode_refused else now) != installation.after:
            problems.append("the clean rerun left an incomplete installation")
        if installation.temporaries():
            problems.append("temporary files after the clean rerun: %s" % installation.temporaries())
        if Installation.snapshot(installation.source_paths()) != installation.sources:
            problems.append("the distribution itself changed")
        return ["%s, %s #%d (%s) %s: %s" % (scenario.name, name, occurrence, line[:100], fault, p)
                for p in problems]
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

    work = []
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

    problems = []
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        futures = [pool.submit(run_point, scenario, tool, call, fault) for scenario, call, fault in work]
        for future in concurrent.futures.as_completed(futures):
            problems += future.result()
    for problem in sorted(problems):
        print(problem)
    print("%d faulted runs, each with a clean rerun: %s" % (
        len(work), "%d problems" % len(problems) if problems else "nothing unsound"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
