#!/usr/bin/env python3
"""Hostile runs of vorla, checked by invariants rather than by expected outputs.

Usage: run_hostile.py VORLA MODULE [--keep]

Every case builds a fresh scratch tree (the program and the module file in bin/, the user's files
in home/, a folder outside/ that links may point into), plants hostile files, links and FIFOs,
runs vorla once (or twice at the same time, or stops it with a signal) and checks, for every run:
  (a) no file outside the outputs the case names changed (names, types, sizes, modes, contents,
      link targets: before and after);
  (b) no temporary file (*.part) is left anywhere;
  (c) exit 0 only with every output complete; 1 or 2 only with a "vorla:" message; 128 + N only
      when the case stops the run with signal N, and with a "vorla:" message;
  (d) peak memory under 100 MB and the run within its time;
  (e) nothing reaches standard output or standard error unescaped: valid UTF-8 without C0 or C1
      controls (line ends and tabs aside), DEL or ESC.
Runs with many inputs and outputs are held to the same: every output checked against every input
and every other output (links included), a file that appears during the run kept, standard
descriptors closed at start, streams opened at an offset or for appending. A cost check times
list expansion and output naming at two sizes: the time must grow linearly.
Cases in EXPECTED_TO_FAIL belong to work not merged yet; they are run and reported, and their
failures do not fail the harness.
"""
import hashlib
import os
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time

MAX_RSS_KB = 100 * 1024
TIME_LIMIT = 10.0
ADDRESS_LIMIT = 1 << 30   # a runaway run fails here rather than taking the machine

# Classes handled by the work on escaping, bounded work, settings and pipe input (other branches):
# empty this list once that work is merged.
EXPECTED_TO_FAIL = set()


# ---- hostile files ---------------------------------------------------------------------------

def vgm(commands, ym2151=4000000, ay=0, gd3=None, loop_at=None, loop_samples=0, samples=0):
    data = bytes(commands) + b"\x66"
    header = bytearray(0x100)
    header[0:4] = b"Vgm "
    struct.pack_into("<I", header, 0x08, 0x171)
    struct.pack_into("<I", header, 0x18, samples)
    struct.pack_into("<I", header, 0x30, ym2151)
    struct.pack_into("<I", header, 0x34, 0x100 - 0x34)
    struct.pack_into("<I", header, 0x74, ay)
    if loop_at is not None:
        struct.pack_into("<I", header, 0x1C, 0x100 + loop_at - 0x1C)
        struct.pack_into("<I", header, 0x20, loop_samples)
    body = bytes(header) + data
    if gd3 is not None:
        strings = b"".join(s.encode("utf-16-le") + b"\0\0" for s in gd3)
        struct.pack_into("<I", header, 0x14, len(body) - 0x14)
        body = bytes(header) + data + b"Gd3 " + struct.pack("<II", 0x100, len(strings)) + strings
    body = bytearray(body)
    struct.pack_into("<I", body, 0x04, len(body) - 4)
    return bytes(body)


def wait(samples):
    out = []
    while samples > 0:
        n = min(samples, 65535)
        out += [0x61, n & 255, n >> 8]
        samples -= n
    return out


SONG = vgm([0x54, 0x20, 0xC7, 0x54, 0x28, 0x4A, 0x54, 0x08, 0x78] + wait(44100), samples=44100)


LOOP_SONG = vgm([0x54, 0x20, 0xC7, 0x54, 0x28, 0x4A, 0x54, 0x08, 0x78] + wait(44100), loop_at=0,
                loop_samples=44100, samples=44100)


def s98_with_tag(tag):
    devices = struct.pack("<IIII", 5, 4000000, 0, 0)   # one YM2151
    dump = bytes([0x00, 0x08, 0x78, 0xFE, 0x80, 0x01, 0xFD])
    header_size = 0x20 + len(devices)
    tag_at = header_size + len(dump)
    header = b"S983" + struct.pack("<IIIIIII", 1, 1000, 0, tag_at, header_size, 0, 1)
    return header + devices + dump + b"[S98]" + tag + b"\0"


SCRIPT = b"out 0x88 0x28\nout 0x89 0x4a\nout 0x88 0x08\nout 0x89 0x78\nwait 22050\n"
LONG_SCRIPT = b"out 0x88 0x08\nout 0x89 0x78\nwait 882000000\n"
MID_SCRIPT = b"out 0x88 0x08\nout 0x89 0x78\nwait 44100000\n"


# ---- the scratch tree -------------------------------------------------------------------------

class Tree:
    def __init__(self, vorla, module):
        self.root = tempfile.mkdtemp(prefix="vorla-hostile-")
        self.bin = os.path.join(self.root, "bin")
        self.home = os.path.join(self.root, "home")
        os.makedirs(self.bin)
        os.makedirs(self.home)
        os.makedirs(os.path.join(self.root, "outside"))
        shutil.copy2(vorla, os.path.join(self.bin, "vorla"))
        shutil.copy2(module, os.path.join(self.bin, "Vorla.vyx"))
        self.put("song.vgm", SONG)
        self.put("s.board", SCRIPT)
        self.put("long.board", LONG_SCRIPT)
        self.put("mid.board", MID_SCRIPT)
        self.put("old.txt", b"the user's own notes\n")

    def path(self, name):
        return os.path.join(self.home, name)

    def put(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def snapshot(self):
        seen = {}
        for top, dirs, files in os.walk(self.root):
            for name in dirs + files:
                full = os.path.join(top, name)
                st = os.lstat(full)
                entry = [stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode)]
                if stat.S_ISLNK(st.st_mode):
                    entry.append(os.readlink(full))
                elif stat.S_ISREG(st.st_mode):
                    with open(full, "rb") as f:
                        data = f.read()
                    entry += [st.st_size, hashlib.sha1(data).hexdigest()]
                    if name == "VYX.INI":
                        seen[os.path.relpath(full, self.root) + " lines"] = data.splitlines()
                seen[os.path.relpath(full, self.root)] = entry
        return seen


# ---- running and checking ---------------------------------------------------------------------

class Case:
    def __init__(self, name, args, outputs=(), new_in=(), env=None, setup=None, stop=None,
                 file_limit=None, stdout_to=None, twice=False, pass_fds=None, expect=None,
                 check=None, during=None, stdout_mode="w", one_wins=True):
        self.name = name
        self.expect = expect             # the exit status the case is about, when there is one
        self.args = args
        self.outputs = list(outputs)     # files (under home/) that may change or appear
        self.new_in = list(new_in)       # folders where new files may appear
        self.env = env or {}
        self.setup = setup
        self.stop = stop                 # a signal sent after a moment
        self.file_limit = file_limit     # RLIMIT_FSIZE in bytes
        self.stdout_to = stdout_to       # a file under home/ that standard output goes to
        self.twice = twice               # two runs at the same time
        self.pass_fds = pass_fds         # a callable giving (fds, args) for a pipe as input
        self.check = check               # check(tree, out): a fault of the case's own, or None
        self.during = during             # called with the tree while the run goes on
        # How standard output reaches stdout_to: "w" afresh, "offset" after what the file holds,
        # "append" in append mode, "closed": not open at all.
        self.stdout_mode = stdout_mode
        self.one_wins = one_wins         # twice: one run done, the other refused


def start(tree, case, args):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}
    if "VORLA_SYSFS" in os.environ:
        env["VORLA_SYSFS"] = os.environ["VORLA_SYSFS"]  # no real ROMEO card probed
    env.update(case.env)
    out = subprocess.PIPE
    if case.stdout_to:
        path = tree.path(case.stdout_to)
        if case.stdout_mode == "offset":
            out = open(path, "r+b")
            out.seek(0, os.SEEK_END)
        else:
            out = open(path, "ab" if case.stdout_mode == "append" else "wb")

    def limits():
        if case.stdout_mode == "closed":
            os.close(1)
        resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_LIMIT, ADDRESS_LIMIT))
        if case.file_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (case.file_limit, case.file_limit))
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)

    fds = ()
    if case.pass_fds is not None:
        fds, extra = case.pass_fds()
        args = args + extra
    proc = subprocess.Popen([os.path.join(tree.bin, "vorla")] + args, cwd=tree.home, env=env,
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.PIPE,
                            preexec_fn=limits, pass_fds=fds)
    for fd in fds:
        os.close(fd)
    if case.stdout_to:
        out.close()
    return proc


def finish(proc, case, tree):
    """Waits for the run; its status, peak memory (KB), seconds, stdout and stderr."""
    chunks = {"out": b"", "err": b""}

    def drain(stream, key, limit=None):
        while True:
            block = stream.read(65536)
            if not block:
                break
            if limit is None or len(chunks[key]) < limit:
                chunks[key] += block
            elif key == "out" and case.name == "sigpipe":
                break  # the reader goes away
        stream.close()

    readers = [threading.Thread(target=drain, args=(proc.stderr, "err"))]
    if proc.stdout is not None:
        readers.append(threading.Thread(target=drain, args=(proc.stdout, "out", 1 << 16)))
    for r in readers:
        r.start()
    began = time.monotonic()
    if case.during is not None:
        time.sleep(0.4)
        case.during(tree)
    if case.stop is not None:
        time.sleep(0.7)
        os.kill(proc.pid, case.stop)  # the child is not reaped before wait4 below
    status, rusage = None, None
    while time.monotonic() - began < TIME_LIMIT:
        pid, st, ru = os.wait4(proc.pid, os.WNOHANG)
        if pid != 0:
            status, rusage = st, ru
            break
        time.sleep(0.01)
    if status is None:
        # Too long: stopped as a user would, then for good.
        os.kill(proc.pid, signal.SIGTERM)
        time.sleep(1.0)
        os.kill(proc.pid, signal.SIGKILL)
        _, status, rusage = os.wait4(proc.pid, 0)
        began -= TIME_LIMIT
    proc.returncode = 0
    for r in readers:
        r.join()
    code = os.waitstatus_to_exitcode(status)
    return code, rusage.ru_maxrss, time.monotonic() - began, chunks["out"], chunks["err"]


def unescaped(text):
    try:
        s = text.decode("utf-8")
    except UnicodeDecodeError:
        return "invalid UTF-8"
    for ch in s:
        o = ord(ch)
        if (o < 0x20 and ch not in "\n\t") or 0x7F <= o <= 0x9F:
            return "control character U+%04X" % o
    return None


def complete(path):
    """Why the output is not a complete file of its kind, or None."""
    if not os.path.exists(path):
        return "missing"
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith(".wav"):
        if data[:4] != b"RIFF" or struct.unpack_from("<I", data, 4)[0] != len(data) - 8:
            return "a WAV file whose sizes are not its own"
    elif path.endswith(".s98") and data[:3] != b"S98":
        return "no S98 file"
    elif path.endswith(".vgm") and data[:4] != b"Vgm ":
        return "no VGM file"
    elif path.endswith(".s32") and len(data) % 8 != 0:
        return "a raw file cut mid-frame"
    return None


def settings_kept(tree, before):
    """The board saves its settings file beside the program; what it held must still be there."""
    name = os.path.join("bin", "VYX.INI")
    if name not in before:
        return True
    after = open(os.path.join(tree.root, name), "rb").read().splitlines()
    kept = [l for l in before[name + " lines"] if l.startswith(b"[") or l.startswith(b"LOG=")]
    return all(l in after for l in kept)


def check_run(tree, case, code, rss, seconds, out, err, before):
    faults = []
    after = tree.snapshot()
    named = case.outputs + ([case.stdout_to] if case.stdout_to else [])
    allowed = {os.path.normpath(os.path.join("home", o)) for o in named}
    allowed.add(os.path.join("bin", "VYX.INI"))
    if not settings_kept(tree, before):
        faults.append("(a) the settings file lost its sections or its LOG key")
    folders = [os.path.join("home", d) for d in case.new_in]
    for name in sorted(set(before) | set(after)):
        if name.endswith(" lines"):
            continue
        if before.get(name) == after.get(name) or name in allowed:
            continue
        if name not in before and any(name.startswith(d.rstrip("/") + "/") for d in folders):
            continue
        faults.append("(a) %s changed: %s -> %s" % (name, before.get(name), after.get(name)))
    for name in after:
        if name.endswith(".part"):
            faults.append("(b) temporary file left: " + name)
    lines = [l for l in err.decode("utf-8", "replace").splitlines() if l]
    said = any(l.startswith("vorla: ") for l in lines)
    if case.expect is not None and code != case.expect and not case.twice:
        faults.append("exit %d where the case wants %d: %s" % (code, case.expect, err[-300:]))
    if b"out of memory" in err:
        faults.append("(d) out of memory")
    if code == 0:
        for o in case.outputs:
            why = complete(tree.path(o))
            if why:
                faults.append("(c) exit 0 with %s %s" % (o, why))
    elif code in (1, 2) or (case.stop is not None and code == 128 + case.stop) or \
            (case.file_limit is not None and code == 128 + signal.SIGXFSZ) or \
            (case.name == "sigpipe" and code == 128 + signal.SIGPIPE):
        if not said:
            faults.append("(c) exit %d without a vorla: message" % code)
    else:
        faults.append("(c) exit %d (%s)" % (code, err[-200:]))
    if case.check is not None:
        fault = case.check(tree, out)
        if fault:
            faults.append(fault)
    if rss > MAX_RSS_KB:
        faults.append("(d) peak memory %d MB" % (rss // 1024))
    if seconds >= TIME_LIMIT:
        faults.append("(d) still running after %.0f s" % TIME_LIMIT)
    for label, text in (("standard error", err), ("standard output", out)):
        if label == "standard output" and (case.stdout_to or "-" in case.args):
            continue  # the output itself
        why = unescaped(text)
        if why:
            faults.append("(e) %s: %s" % (label, why))
    return faults


def run_case(vorla, module, case, keep):
    tree = Tree(vorla, module)
    try:
        if case.setup is not None:
            case.setup(tree)
        before = tree.snapshot()
        if case.twice:
            procs = [start(tree, case, case.args) for _ in range(2)]
            results = [finish(p, case, tree) for p in procs]
        else:
            results = [finish(start(tree, case, case.args), case, tree)]
        faults = []
        for code, rss, seconds, out, err in results:
            faults += check_run(tree, case, code, rss, seconds, out, err, before)
        codes = sorted(r[0] for r in results)
        if case.twice and case.one_wins and codes != [0, 1]:
            faults.append("two runs writing one file: not one done and one refused")
        elif case.twice and codes == [0, 0]:
            faults.append("two runs writing the same outputs both done: one replaced the other's")
        return faults, results
    finally:
        if not keep:
            for top, dirs, _ in os.walk(tree.root):
                for d in dirs:
                    os.chmod(os.path.join(top, d), 0o755)
            shutil.rmtree(tree.root, ignore_errors=True)


# ---- the cases --------------------------------------------------------------------------------

def stamp_links(tree):
    # Every time-stamped name of the next seconds in the log folder is a dangling link outside.
    os.makedirs(tree.path("logs"))
    now = time.time()
    for s in range(0, 6):
        stamp = time.strftime("vorla-%Y%m%d-%H%M%S", time.localtime(now + s))
        for n in [""] + ["-%d" % i for i in range(2, 6)]:
            os.symlink(os.path.join(tree.root, "outside", stamp + n + ".s98"),
                       tree.path("logs/" + stamp + n + ".s98"))


def link(src, dst):
    return lambda tree: os.symlink(src(tree) if callable(src) else src, tree.path(dst))


def resets(tree):
    tree.put("resets.board", b"out 0x108 0\nwait 1\n" * 80000)


def pipe_song():
    r, w = os.pipe()

    def feed():
        with os.fdopen(w, "wb") as f:
            f.write(SONG)
    threading.Thread(target=feed, daemon=True).start()
    return (r,), ["/dev/fd/%d" % r]


def cases():
    ini = lambda text: (lambda tree: open(os.path.join(tree.bin, "VYX.INI"), "w").write(text))
    render = ["render", "s.board"]
    return [
        # The register log as a weapon.
        Case("log-is-module", render + ["--raw", "a.s32", "--log", "../bin/Vorla.vyx"], ["a.s32"],
             expect=1),
        Case("log-env-is-input", ["render", "song.vgm", "--board", "-o", "a.wav"], ["a.wav"],
             env={"VORLA_LOG": "song.vgm"}, expect=1),
        Case("log-env-is-script", render + ["--raw", "a.s32"], ["a.s32"],
             env={"VORLA_LOG": "s.board"}, expect=1),
        Case("log-key-is-settings", render + ["--raw", "a.s32"], ["a.s32"],
             setup=ini("[VORLA]\nLOG=../bin/VYX.INI\n"), expect=1),
        Case("log-folder-dangling-links", render + ["--raw", "a.s32", "--log", "logs/"],
             ["a.s32"], new_in=["logs"], setup=stamp_links, expect=0),
        Case("log-fifo-no-reader", render + ["--raw", "a.s32", "--log", "f.s98"], ["a.s32"],
             setup=lambda t: os.mkfifo(t.path("f.s98")), expect=1),
        Case("log-missing-folder", render + ["--raw", "a.s32", "--log", "no/such/x.s98"],
             ["a.s32"], expect=1),
        Case("log-dev-full", render + ["--raw", "a.s32", "--log", "/dev/full"], ["a.s32"],
             expect=1),
        Case("log-two-at-once", ["render", "mid.board", "--raw", "/dev/null", "--log", "same.s98"],
             ["same.s98"], twice=True),
        Case("log-then-fail", render + ["--log", "old.s98", "-o", "/dev/full"],
             setup=lambda t: t.put("old.s98", b"the user's own log"), expect=1),
        Case("log-many-resets", ["render", "resets.board", "--raw", "a.s32", "--log", "r.s98"],
             ["a.s32", "r.s98"], setup=resets, expect=0),
        # Saved states: read from anywhere, written through the door.
        Case("state-out-is-script", render + ["--raw", "a.s32", "--state-out", "s.board"],
             ["a.s32"], expect=1),
        Case("state-out-is-module", render + ["--state-out", "../bin/Vorla.vyx"], expect=1),
        Case("state-out-dev-full", render + ["--raw", "a.s32", "--state-out", "/dev/full"],
             ["a.s32"], expect=1),
        Case("state-in-dev-zero", render + ["--raw", "a.s32", "--state-in", "/dev/zero"],
             ["a.s32"], expect=1),
        Case("state-in-folder", render + ["--raw", "a.s32", "--state-in", "."], ["a.s32"],
             expect=1),
        # Outputs.
        Case("dangling-part-link", render + ["-o", "out.wav"], ["out.wav"],
             setup=link(lambda t: os.path.join(t.root, "outside", "x"), "out.wav.part0"),
             expect=0),
        # A link named as the output is written through, as the shell writes through one.
        Case("output-link-elsewhere", render + ["-o", "l.wav"], ["l.wav", "../outside/gone.wav"],
             setup=link(lambda t: os.path.join(t.root, "outside", "gone.wav"), "l.wav"),
             expect=0),
        Case("dev-stdout", render + ["-o", "/dev/stdout"], stdout_to="f.wav", expect=0),
        Case("proc-fd-link", render + ["-o", "fd.wav"], stdout_to="f.wav",
             setup=link("/proc/self/fd/1", "fd.wav"), expect=0),
        Case("dash-output", render + ["-o", "-", "--report", "r.txt"], ["r.txt"], expect=0),
        Case("fifo-output-no-reader", render + ["-o", "f.wav"],
             setup=lambda t: os.mkfifo(t.path("f.wav")), expect=1),
        Case("report-then-fail", render + ["--report", "old.txt", "-o", "nodir/x.wav"], expect=1),
        Case("output-is-input", render + ["-o", "s.board"], expect=1),
        Case("output-is-program", render + ["-o", "../bin/vorla"], expect=1),
        Case("outputs-hard-linked", render + ["-o", "a.wav", "--raw", "b.s32"], ["a.wav"],
             setup=lambda t: (t.put("a.wav", b"mine"), os.link(t.path("a.wav"), t.path("b.s32"))),
             expect=1),
        Case("report-is-output", render + ["-o", "x.wav", "--report", "./x.wav"], expect=1),
        Case("output-is-folder", render + ["-o", "."], expect=1),
        Case("output-in-read-only-folder", render + ["-o", "ro/x.wav"], ["ro/x.wav"],
             setup=lambda t: (os.makedirs(t.path("ro")), os.chmod(t.path("ro"), 0o555))),
        Case("log-through-folder-link", render + ["--raw", "a.s32", "--log", "gone/"], ["a.s32"],
             setup=link(lambda t: os.path.join(t.root, "outside", "none"), "gone"), expect=1),
        Case("path-with-controls", render + ["-o", "nodir/\x1b[2J\x07.wav"], expect=1),
        Case("failing-stem", ["render", "song.vgm", "-o", "mix.wav", "--stems", "st"],
             ["mix.wav"], new_in=["st"],
             setup=lambda t: os.makedirs(t.path("st/fm1.wav")), expect=1),
        Case("sigint", ["render", "long.board", "-o", "l.wav", "--raw", "l.s32", "--report",
                        "r.txt", "--log", "l.s98"], ["l.wav", "l.s32", "r.txt", "l.s98"],
             stop=signal.SIGINT),
        Case("sigterm", ["render", "long.board", "-o", "l.wav"], ["l.wav"], stop=signal.SIGTERM),
        Case("sighup", ["render", "long.board", "-o", "l.wav"], ["l.wav"], stop=signal.SIGHUP),
        Case("sigpipe", ["render", "long.board", "-o", "-"]),
        Case("sigxfsz", ["render", "long.board", "-o", "l.wav", "--log", "l.s98"],
             ["l.wav", "l.s98"], file_limit=4 << 20),
        # Text from files (escaping: other work).
        Case("gd3-tag-controls", ["info", "t.vgm"],
             setup=lambda t: t.put("t.vgm", vgm(wait(100), gd3=["\x1b[2J", "\x1b]0;pwned\x07",
                                                               "a\rb", "", "", "", "", "", "",
                                                               "", "\x9b"]))),
        Case("s98-tag-controls", ["info", "t.s98"],
             setup=lambda t: t.put("t.s98", s98_with_tag(b"title=\x1b[2J\x07\ncomment=\r\x1b]0;x\x07\n"))),
        Case("script-c1-token", ["render", "c.board", "-o", "a.wav"], ["a.wav"],
             setup=lambda t: t.put("c.board", b"out \x9b\x1b[2J 0x00\n"), expect=1),
        # Small files asking for huge work (bounded work: other work).
        Case("tiny-ym2151-clock", ["render", "t.vgm", "-o", "a.wav", "--length", "1"], ["a.wav"],
             setup=lambda t: t.put("t.vgm", vgm([0x54, 0x08, 0x78] + wait(44100), ym2151=8,
                                                samples=44100))),
        Case("one-sample-loop", ["render", "t.vgm", "-o", "a.wav", "--length", "1"], ["a.wav"],
             setup=lambda t: t.put("t.vgm", vgm([0x54, 0x20, 0xC7] * 300000 + wait(1),
                                                loop_at=0, loop_samples=1, samples=1))),
        Case("song-through-a-pipe", ["render", "-o", "a.wav"], ["a.wav"], pass_fds=pipe_song,
             expect=0),
        Case("s98-tag-of-many-lines", ["info", "t.s98"],
             setup=lambda t: t.put("t.s98", s98_with_tag(b"k=\n" * 4000000)), expect=0),
        Case("gd3-notes-of-many-breaks", ["info", "t.vgm"],
             setup=lambda t: t.put("t.vgm", vgm(wait(100), gd3=[""] * 10 + ["\n" * 2000000])),
             expect=0),
        # Settings edges: a file at the read limit is not grown past it; CR-only line ends count.
        Case("settings-at-the-limit", render + ["--raw", "a.s32"], ["a.s32"],
             setup=ini("[VORLA]\n;" + "x" * (1048576 - 10) + "\n"), expect=0,
             check=settings_within_limit),
        Case("settings-cr-only", render + ["--raw", "a.s32"], ["a.s32", "cr.s98"],
             setup=ini("[VORLA]\rLOG=cr.s98\r"), expect=0,
             check=lambda t, _: None if os.path.exists(t.path("cr.s98")) else
             "the LOG key of a CR-only settings file was not read"),
        # Many inputs and outputs (a list's songs each to a file of its own).
        # song.vgm's output is song.wav, a song by content given after it.
        Case("later-input-as-output", ["render", "song.vgm", "song.wav", "-y"], ["song-2.wav"],
             setup=lambda t: t.put("song.wav", SONG), expect=1),
        Case("folder-output-links-to-input", ["render", "a.vgm", "b.vgm", "-o", "out/", "-y"],
             ["out/b.wav"], setup=linked_output_folder, expect=1),
        Case("folder-output-hard-link-to-input", ["render", "a.vgm", "b.vgm", "-o", "out/",
                                                  "-y"], ["out/b.wav"],
             setup=hard_linked_output_folder, expect=1),
        Case("file-appears-during-run", ["render", "a.vgm", "b.vgm", "-o", "out/", "--loops",
                                         "forever", "--length", "600", "--format", "flac"],
             ["out", "out/a.flac", "out/b.flac"], setup=two_looping_songs,
             during=lambda t: t.put("out/b.flac", b"made meanwhile"), expect=1,
             check=lambda t, _: None if open(t.path("out/b.flac"), "rb").read() ==
             b"made meanwhile" else "(a) a file that appeared during the run was replaced"),
        Case("two-folder-renders-at-once", ["render", "a.vgm", "b.vgm", "-o", "out/", "--loops",
                                            "forever", "--length", "200", "--format", "flac"],
             ["out", "out/a.flac", "out/b.flac"], setup=two_looping_songs, twice=True, one_wins=False,
             check=lambda t, _: None if all(
                 complete(t.path(o)) is None for o in ("out/a.flac", "out/b.flac"))
             else "two runs at once left an output incomplete"),
        Case("one-song-to-a-folder", ["render", "song.vgm", "-o", "out/"], ["out", "out/song.wav"],
             expect=0),
        Case("stdout-closed-at-start", ["render", "song.vgm", "-o", "c.wav"], ["c.wav"],
             stdout_mode="closed", expect=0),
        Case("flac-to-stdout-at-offset", ["render", "song.vgm", "--format", "flac", "-o", "-"],
             stdout_to="f.flac", stdout_mode="offset",
             setup=lambda t: t.put("f.flac", b"XYZ"), expect=0, check=flac_after_prefix),
        Case("flac-to-stdout-appending", ["render", "song.vgm", "--format", "flac", "-o", "-"],
             stdout_to="f.flac", stdout_mode="append",
             setup=lambda t: t.put("f.flac", b"XYZ"), expect=0, check=flac_after_prefix),
        Case("long-output-name", ["render", "song.vgm", "-o", "a" * 240 + ".wav"],
             ["a" * 240 + ".wav"], expect=0),
        # Work bounded by the input.
        Case("folder-named-100000-times", ["render", "many.m3u", "-o", "out/"],
             setup=folder_many_times, expect=1),
        Case("far-start-of-a-looping-song", ["render", "loop.vgm", "--loops", "forever",
                                             "--start", "1e9", "--length", "1", "-o", "a.wav"],
             setup=lambda t: t.put("loop.vgm", LOOP_SONG), expect=2),
        # Smaller.
        Case("empty-option-value", ["render", "song.vgm", "--gain", "", "-o", "a.wav"], expect=2),
        Case("unreadable-playlist", ["render", "io.m3u", "song.vgm", "-o", "out/"],
             ["out", "out/song.wav"], setup=link(lambda t: "/proc/self/mem", "io.m3u"), expect=1,
             check=lambda t, _: None if os.path.exists(t.path("out/song.wav")) else
             "the song after an unreadable playlist was not rendered"),
        # "s" is a song too: the entry must not be read as it.
        Case("nul-in-playlist-entry", ["render", "n.m3u", "-o", "out/"], ["out", "out/song.wav"],
             setup=lambda t: (t.put("s", SONG), t.put("n.m3u", b"song.vgm\ns\0x.vgm\n")),
             expect=1),
        Case("json-tag-controls", ["info", "--json", "t.vgm"],
             setup=lambda t: t.put("t.vgm", vgm(wait(100), gd3=["a\x7fb\x9b[2J"] + [""] * 10))),
        Case("s98-tag-not-utf8", ["info", "t.s98"], expect=0,
             setup=lambda t: t.put("t.s98", s98_with_tag(b"\xef\xbb\xbftitle=caf\xe9\n")),
             check=lambda t, out: None if "caf\ufffd".encode() in out else
             "a tag byte that is not UTF-8 shown otherwise than as U+FFFD"),
    ]


def two_looping_songs(tree):
    tree.put("a.vgm", LOOP_SONG)
    tree.put("b.vgm", LOOP_SONG)


def linked_output_folder(tree):
    # The first song's output name is a link to the second song.
    two_looping_songs(tree)
    os.makedirs(tree.path("out"))
    os.symlink("../b.vgm", tree.path("out/a.wav"))


def hard_linked_output_folder(tree):
    two_looping_songs(tree)
    os.makedirs(tree.path("out"))
    os.link(tree.path("b.vgm"), tree.path("out/a.wav"))


def folder_many_times(tree):
    # 200 KB of list naming one folder of 100 songs 100,000 times; the first output exists, so
    # the run is refused once its outputs are named.
    os.makedirs(tree.path("d"))
    for i in range(100):
        tree.put("d/s%03d.vgm" % i, SONG)
    tree.put("many.m3u", b"d\n" * 100000)
    os.makedirs(tree.path("out"))
    tree.put("out/s000.wav", b"mine")


def flac_after_prefix(tree, _):
    data = open(tree.path("f.flac"), "rb").read()
    if not data.startswith(b"XYZfLaC"):
        return "the stream's first bytes were overwritten: %r" % data[:8]
    # STREAMINFO: 4 bytes of block header, then the total samples in the low 36 bits of 8 bytes
    # at offset 10 of the block.
    info = data[7:7 + 4 + 34]
    total = int.from_bytes(info[4 + 10:4 + 18], "big") & ((1 << 36) - 1)
    if total != 44100:
        return "STREAMINFO says %d samples, not 44100" % total
    at = 7
    while True:
        header = data[at]
        at += 4 + int.from_bytes(data[at + 1:at + 4], "big")
        if header & 0x80:
            break
    if data[at:at + 2] not in (b"\xff\xf8", b"\xff\xf9"):
        return "no FLAC frame where the metadata ends"
    if data.rfind(b"fLaC") != 3:
        return "a second FLAC start in the stream"
    return None


def settings_within_limit(tree, _):
    size = os.path.getsize(os.path.join(tree.bin, "VYX.INI"))
    return None if size <= 1048576 else "the settings file grew to %d bytes, past 1 MiB" % size


def cost_check(vorla, module):
    """Seconds to expand a list and name its outputs, at two sizes: a list naming one song N
    times (every output of one stem: the hardest naming), refused once named because the first
    output exists. Linear work takes about four times as long for four times the entries."""
    tree = Tree(vorla, module)
    try:
        os.makedirs(tree.path("out"))
        tree.put("out/song.wav", b"mine")
        times = {}
        for n in (1, 20000, 80000):
            tree.put("l.m3u", b"song.vgm\n" * n)
            best = None
            for _ in range(3):
                began = time.monotonic()
                subprocess.run([os.path.join(tree.bin, "vorla"), "render", "l.m3u", "-o", "out/"],
                               cwd=tree.home, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=60)
                took = time.monotonic() - began
                best = took if best is None else min(best, took)
            times[n] = best
        small, large = times[20000] - times[1], times[80000] - times[1]
        ratio = large / max(small, 1e-3)
        print("cost  list of 20000 entries %.3f s, of 80000 %.3f s (net of a run's start): x%.1f"
              % (small, large, ratio))
        return ratio < 8
    finally:
        shutil.rmtree(tree.root, ignore_errors=True)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    vorla, module = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    keep = "--keep" in sys.argv[3:]
    only = [a for a in sys.argv[3:] if not a.startswith("--")]
    failed = 0
    for case in cases():
        if only and case.name not in only:
            continue
        faults, results = run_case(vorla, module, case, keep)
        detail = ", ".join("exit %d, %d MB, %.1f s" % (r[0], r[1] // 1024, r[2]) for r in results)
        expected = case.name in EXPECTED_TO_FAIL
        if faults and expected:
            print("xfail %-28s %s (%s)" % (case.name, detail, faults[0]))
        elif faults:
            failed += 1
            print("FAIL  %-28s %s" % (case.name, detail))
            for f in faults:
                print("      " + f)
        else:
            note = " (expected to fail: take it off the list)" if expected else ""
            print("ok    %-28s %s%s" % (case.name, detail, note))
    if not only and not cost_check(vorla, module):
        failed += 1
        print("FAIL  the cost of a list grows faster than its length")
    print("%d case(s) failed" % failed if failed else "every invariant holds")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
