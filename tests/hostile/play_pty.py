#!/usr/bin/env python3
"""`vorla play` on a pseudo-terminal: how soon it answers, whatever it is doing.

Usage: play_pty.py VORLA

Each run plays songs built here (SDL's disk driver writing into a scratch folder) with the pty as
its controlling terminal, and measures:
  - the time from q, and from Ctrl-C (0x03 through the pty: the kernel sends SIGINT), to the
    exit, while it plays, is paused, seeks after a burst of keys, starts far in, loops forever;
  - how soon queued Left presses at a far point are done with (20, then 200), and 200 n and b
    presses and q typed ahead on a list of two songs;
  - the status line on a 40-column terminal: narrower than that, and no newline as it is redrawn;
  - the bytes left in the terminal's input queue after it ended (none reach the shell).
One line per check with its figure; exit status 1 when any fails.
"""
import fcntl
import os
import select
import signal
import struct
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_hostile import vgm as hostile_vgm, wait  # noqa: E402  (the same songs' building blocks)

ANSWER_LIMIT = 0.3   # seconds from q or Ctrl-C to the exit
GIVE_UP = 4.0        # a run that has not ended by then is killed and counted as this long
MERGE_LIMIT = 2.0    # queued seeks, done with
HZ = 44100


def vgm(commands, samples, loop_at=None, loop_samples=0):
    return hostile_vgm(commands, ym2151=3579545, loop_at=loop_at, loop_samples=loop_samples,
                       samples=samples)


# Channel 1 as a plain sine-ish voice, then a note a second: key on, half a second, key off.
VOICE = [0x54, 0x20, 0xC7, 0x54, 0x28, 0x4A, 0x54, 0x60, 0x00, 0x54, 0x80, 0x1F]
NOTE = [0x54, 0x08, 0x78] + wait(HZ // 2) + [0x54, 0x08, 0x00] + wait(HZ // 2)


def long_song(seconds):
    return vgm(VOICE + NOTE * seconds, seconds * HZ)


def loop_song():
    return vgm(VOICE + NOTE * 2, 2 * HZ, loop_at=len(VOICE), loop_samples=2 * HZ)


class Player:
    """vorla play on a fresh pty that is its standard input, output and controlling terminal."""

    def __init__(self, vorla, args, work, columns=80):
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        env = dict(os.environ, SDL_AUDIODRIVER="disk",
                   SDL_DISKAUDIOFILE=os.path.join(work, "played.raw"))
        self.pid = os.fork()
        if self.pid == 0:
            try:
                os.setsid()
                fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
                for fd in (0, 1, 2):
                    os.dup2(self.slave, fd)
                os.execve(vorla, [vorla, "play"] + args, env)
            finally:
                os._exit(127)
        self.screen = b""
        self.status = None

    def drain(self, seconds):
        ready, _, _ = select.select([self.master], [], [], seconds)
        if ready:
            try:
                self.screen += os.read(self.master, 65536)
            except OSError:
                pass

    def wait_for(self, text, seconds=5.0, since=0):
        until = time.monotonic() + seconds
        while text not in self.screen[since:]:
            if time.monotonic() > until or self.ended():
                return False
            self.drain(0.02)
        return True

    def type(self, keys):
        os.write(self.master, keys)

    def ended(self):
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.status = os.waitstatus_to_exitcode(status)
        return self.status is not None

    def wait_end(self, limit=GIVE_UP):
        """Seconds until the run ended; limit, after killing it, when it did not."""
        start = time.monotonic()
        while not self.ended():
            if time.monotonic() - start > limit:
                self.kill()
                return limit
            self.drain(0.002)
        return time.monotonic() - start

    def pending_input(self):
        """Bytes typed on the terminal that nobody read."""
        return struct.unpack("i", fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0"))[0]

    def kill(self):
        if self.status is None:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
            self.status = -signal.SIGKILL

    def close(self):
        self.kill()
        os.close(self.master)
        os.close(self.slave)


class Checks:
    def __init__(self, vorla, work):
        self.vorla = vorla
        self.work = work
        self.failures = 0

    def report(self, name, ok, figure):
        print(f"{'ok  ' if ok else 'FAIL'} {name}: {figure}", flush=True)
        if not ok:
            self.failures += 1

    def started(self, args, columns=80):
        player = Player(self.vorla, args, self.work, columns)
        if not player.wait_for(b"q quit"):
            player.drain(0.2)
            self.report(" ".join(args), False, "no key help: " + repr(player.screen[-200:]))
            player.close()
            return None
        return player

    def answer(self, name, args, before, key, settle=0.4):
        """Plays, types `before`, waits `settle`, then times the key to the exit."""
        player = self.started(args)
        if player is None:
            return
        player.type(before)
        end = time.monotonic() + settle
        while time.monotonic() < end:
            player.drain(0.02)
        player.type(key)
        took = player.wait_end()
        # Ctrl-C between two songs of a list meets the default action: killed by SIGINT.
        expected = [0] if key == b"q" else [128 + signal.SIGINT, -signal.SIGINT]
        ok = took < ANSWER_LIMIT and player.status in expected
        label = "q" if key == b"q" else "Ctrl-C"
        self.report(f"{label} while {name}", ok, f"{took:.3f} s, status {player.status}")
        player.close()

    def seeks_back(self, long_path):
        # At ten minutes in, 20 Lefts go back from a snapshot, and 200 more merge into one seek
        # to the start: each is done with at once, not after a render from the start a press.
        player = self.started([long_path, "--start", "600"])
        if player is None:
            return
        if not player.wait_for(b"\r  10:0", 20.0):
            self.report("seeks back from 10:00", False, "never reached 10:00")
            player.close()
            return
        for presses, there in ((20, b"\r  8:2"), (200, b"\r  0:0")):
            mark = len(player.screen)
            begin = time.monotonic()
            player.type(b"\x1b[D" * presses)
            back = player.wait_for(there, MERGE_LIMIT + 3, mark)
            took = time.monotonic() - begin
            self.report(f"{presses} queued Lefts", back and took < MERGE_LIMIT, f"{took:.3f} s")
        player.type(b"q")
        player.wait_end()
        player.close()

    def songs_passed_over(self, long_path):
        # n, then 199 b presses and q typed ahead: the list is gone along without starting each
        # song's chips and output.
        player = self.started([long_path, long_path])
        if player is None:
            return
        begin = time.monotonic()
        player.type(b"n" + b"b" * 199 + b"q")
        took = player.wait_end(MERGE_LIMIT + 3)
        songs = player.screen.count(b"song 1/2")
        self.report("n, 199 b and q typed ahead", took < MERGE_LIMIT and player.status == 0,
                    f"{took:.3f} s, status {player.status}, song 1 shown {songs} times")
        player.close()

    def narrow(self, long_path):
        # On 40 columns the status line fits and is redrawn where it stands. A terminal wraps a
        # longer one, and each redraw (a carriage return) then starts on a new row.
        player = self.started([long_path], columns=40)
        if player is None:
            return
        mark = len(player.screen)
        end = time.monotonic() + 2.5
        while time.monotonic() < end:
            player.drain(0.02)
        drawn = player.screen[mark:].replace(b"\x1b[K", b"")
        lines = drawn.count(b"\n")
        widest = max(len(row) for row in drawn.replace(b"\n", b"\r").split(b"\r"))
        player.type(b"q")
        player.wait_end()
        self.report("status on 40 columns: newlines, widest row", lines == 0 and widest < 40,
                    f"{lines}, {widest} columns")
        player.close()

    def typed_ahead(self, loop_path):
        # Keys typed after the last one the player read stay out of the shell's way.
        player = self.started([loop_path, "--loops", "forever"])
        if player is None:
            return
        player.type(b"q  ls -l\n")
        player.wait_end()
        left = player.pending_input()
        self.report("bytes left in the input queue after q", left == 0, f"{left}")
        player.close()


def main():
    vorla = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="vorla-pty-") as work:
        long_path = os.path.join(work, "long.vgm")
        loop_path = os.path.join(work, "loop.vgm")
        with open(long_path, "wb") as f:
            f.write(long_song(30 * 60))
        with open(loop_path, "wb") as f:
            f.write(loop_song())
        checks = Checks(vorla, work)
        forever = [loop_path, "--loops", "forever"]
        seek_burst = b"\x1b[A" * 10 + b"\x1b[D" * 20 + b"\x1b[C" * 5
        for key in (b"q", b"\x03"):
            checks.answer("playing", [long_path], b"", key)
            checks.answer("paused", [long_path], b" ", key)
            checks.answer("seeking", [long_path, long_path], seek_burst + b"nbbbb" + seek_burst,
                          key, settle=0.1)
            # The farthest start taken: an hour of the song, played up to before it sounds.
            checks.answer("starting far in", forever + ["--start", "3600"], b"", key)
            checks.answer("starting 25 min in", [long_path, "--start", "1500"], b"", key)
            checks.answer("looping forever", forever, b"", key)
        checks.seeks_back(long_path)
        checks.songs_passed_over(long_path)
        checks.narrow(long_path)
        checks.typed_ahead(loop_path)
    sys.exit(1 if checks.failures else 0)


if __name__ == "__main__":
    main()
