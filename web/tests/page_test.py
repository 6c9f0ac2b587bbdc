#!/usr/bin/python3
"""The page in Debian's headless Chromium, driven through its DevTools protocol.

    page_test.py CASE PAGE_DIR NATIVE_BUILD TESTDATA OUT_DIR

CASE is one of:
  same-sound  files opened through the page's own file input, rendered on the page (through the
              worklet in an OfflineAudioContext at 48000 Hz, and "Save as WAV" at 44100 Hz),
              compared sample by sample with `vorla render` of the native build
  bad-file    a damaged file, one too large and one that inflates too far show their messages,
              as vorla words them
  playing     two files dropped on the page: the time from the drop to the first sound, the
              keys, a busy tab, the page's weight, and a screenshot (OUT_DIR/page-playing.png)

Exits 77 (skipped) when the shared test files are missing, unless CI is set.
"""
import base64
import functools
import gzip
import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import websocket  # Debian's python3-websocket

PAGE_LIMIT = 2 * 1024 * 1024


class Page:
    """One Chromium with one tab on the page, and the page served on 127.0.0.1."""

    def __init__(self, page_dir, scratch):
        handler = functools.partial(Quiet, directory=page_dir)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        profile = os.path.join(scratch, "profile")
        self.browser = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0",
             "--window-size=1100,760", "--user-data-dir=" + profile, "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        deadline = time.time() + 30
        while not os.path.exists(port_file) or os.path.getsize(port_file) == 0:
            if time.time() > deadline:
                raise RuntimeError("chromium did not open its DevTools port")
            time.sleep(0.1)
        port = open(port_file).read().split()[0]
        tabs = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
        tab = next(t for t in tabs if t["type"] == "page")
        self.ws = websocket.create_connection(tab["webSocketDebuggerUrl"], timeout=300)
        self.next_id = 0
        self.console = []  # the page's exceptions and console lines, told when a case fails
        self.call("Page.enable")
        self.call("Runtime.enable")
        url = f"http://127.0.0.1:{self.server.server_address[1]}/index.html"
        self.call("Page.navigate", url=url)
        self.wait("window.vorlaPage && window.vorlaPage.ready", 30)

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("method") == "Runtime.exceptionThrown":
                self.console.append(str(reply["params"]["exceptionDetails"]))
            elif reply.get("method") == "Runtime.consoleAPICalled":
                self.console.append(" ".join(str(a.get("value", a.get("description")))
                                             for a in reply["params"]["args"]))
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait(self, expression, seconds):
        deadline = time.time() + seconds
        while time.time() < deadline:
            try:
                value = self.eval(expression)
                if value:
                    return value
            except RuntimeError:
                pass
            time.sleep(0.05)
        raise AssertionError(f"not within {seconds} s: {expression}\n" + "\n".join(self.console))

    def open_files(self, paths):
        """Gives the files to the page's own file input, as a person choosing them would."""
        document = self.call("DOM.getDocument")
        node = self.call("DOM.querySelector", nodeId=document["root"]["nodeId"], selector="#files")
        self.call("DOM.setFileInputFiles", files=[os.path.realpath(p) for p in paths],
                  nodeId=node["nodeId"])

    def drop_files(self, paths):
        """Drags the files onto the middle of the page and drops them there."""
        data = {"items": [], "files": [os.path.realpath(p) for p in paths],
                "dragOperationsMask": 1}
        for kind in ("dragEnter", "dragOver", "drop"):
            self.call("Input.dispatchDragEvent", type=kind, x=400, y=300, data=data)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        self.ws.close()
        self.browser.terminate()
        self.browser.wait(10)
        self.server.shutdown()


class Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


def wav_samples(data):
    """The 16-bit samples of a WAV file's data chunk."""
    at = 12
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if kind == b"data":
            return struct.unpack_from(f"<{size // 2}h", data, at + 8)
        at += 8 + size + (size & 1)
    raise AssertionError("no data chunk")


def flac_md5(data):
    """The MD5 sum of the decoded samples that a FLAC file's STREAMINFO block carries."""
    assert data[:4] == b"fLaC" and data[4] & 0x7F == 0, "no STREAMINFO first"
    return data[8 + 18:8 + 34]


class Native:
    """`vorla render` of the native build, from a copy beside a settings file of its own."""

    def __init__(self, build, scratch):
        self.home = os.path.join(scratch, "native")
        os.makedirs(self.home)
        for name in ("vorla", "Vorla.vyx"):
            shutil.copy2(os.path.join(build, name), self.home)
        self.env = dict(os.environ, VORLA_SYSFS=os.path.join(scratch, "no-sysfs"))
        os.makedirs(self.env["VORLA_SYSFS"])

    def run(self, *args):
        return subprocess.run([os.path.join(self.home, "vorla"), *args], env=self.env,
                              capture_output=True, text=True)

    def render(self, path, rate, *options, kind="wav"):
        out = os.path.join(self.home, "out." + kind)
        done = self.run("render", path, "--rate", str(rate), "-y", "-o", out, *options)
        assert done.returncode == 0, done.stderr
        with open(out, "rb") as f:
            return f.read()


def max_difference(page, native):
    assert len(page) == len(native), f"{len(page)} samples on the page, {len(native)} native"
    return max((abs(a - b) for a, b in zip(page, native)), default=0)


def choose(page, path):
    """Opens one file, picks it in the playlist and waits until it is read."""
    count = page.eval("document.querySelectorAll('#playlist li').length")
    page.open_files([path])
    page.wait(f"document.querySelectorAll('#playlist li').length > {count}", 10)
    page.eval(f"document.querySelectorAll('#playlist li')[{count}].click(); true")
    page.wait(f"window.vorlaPage.song === {count}", 30)


def click_mute(page, voice):
    page.eval(f"document.querySelector('#voices input[title=\"mute {voice}\"]').click(); true")


def set_mode(page, mode, resampler):
    page.eval(f"document.getElementById('mode').value = '{mode}';"
              f"document.getElementById('resampler').value = '{resampler}'; true")


def same_sound(page, native, data, out_dir):
    cases = [  # file, mode, resampler, voices muted on the page, the largest difference allowed
        ("vgm/ym2151/DeckTheHalls.vgm", "chips", "none", [], 0),
        ("vgm/ym2151/DeckTheHalls.vgm", "chips", "soxr", [], 1),
        ("vgm/ym2151/DeckTheHalls.vgm", "board", "soxr", ["fm2", "fm5"], 0),
        ("vgm/ay/02_StartingPoint.vgz", "chips", "soxr", ["psg1b"], 1),
        ("synthetic/opm_psg_v3.s98", "chips", "none", [], 0),
        ("synthetic/opm_psg_v3.s98", "board", "soxr", [], 0),
    ]
    for relative, mode, resampler, muted, allowed in cases:
        path = os.path.join(data, relative)
        choose(page, path)
        set_mode(page, mode, resampler)
        for voice in muted:
            click_mute(page, voice)
        options = (["--board"] if mode == "board" else []) + ["--resampler", resampler]
        if muted:
            options += ["--mute", ",".join(muted)]
        # Through the worklet, at a rate of a device.
        t = time.time()
        page_samples = page.eval("window.vorlaPage.renderOffline(48000)"
                                 ".then(s => Array.from(s))")
        seconds = time.time() - t
        worklet = max_difference(page_samples, wav_samples(native.render(path, 48000, *options)))
        # "Save as WAV": the whole song rendered on the page, at 44100 Hz.
        page.eval("window.vorlaPage.saved = null; "
                  "document.getElementById('save-wav').click(); true")
        page.wait("window.vorlaPage.saved !== null", 120)
        saved = bytes(page.eval("Array.from(window.vorlaPage.saved)"))
        wav = max_difference(wav_samples(saved), wav_samples(native.render(path, 44100, *options)))
        print(f"{relative} {' '.join(options)}: {len(page_samples) // 2} frames through the "
              f"worklet at 48000 Hz in {seconds:.1f} s, max difference {worklet}; "
              f"Save as WAV at 44100 Hz: max difference {wav}")
        assert worklet <= allowed and wav <= allowed, f"more than {allowed} apart"
        if allowed == 0 and not muted:
            # "Save as FLAC": the same samples, as the MD5 sum in the stream's header says.
            page.eval("window.vorlaPage.saved = null; "
                      "document.getElementById('save-flac').click(); true")
            page.wait("window.vorlaPage.saved !== null", 120)
            flac = bytes(page.eval("Array.from(window.vorlaPage.saved)"))
            md5 = flac_md5(native.render(path, 44100, *options, kind="flac"))
            assert md5 != bytes(16) and flac_md5(flac) == md5, "other samples in the FLAC file"
        for voice in muted:
            click_mute(page, voice)


def bad_file(page, native, data, out_dir):
    # A file cut off inside its header, and one past the size limit.
    with open(os.path.join(data, "vgm/ym2151/DeckTheHalls.vgm"), "rb") as f:
        song = f.read()
    cut = os.path.join(out_dir, "cut-short.vgm")
    with open(cut, "wb") as f:
        f.write(song[:40])
    large = os.path.join(out_dir, "too-large.vgm")
    with open(large, "wb") as f:
        f.write(song)
        f.truncate(17 << 20)
    # A .vgz that inflates past the same limit.
    bomb = os.path.join(out_dir, "inflates-too-far.vgz")
    with open(bomb, "wb") as f:
        f.write(gzip.compress(b"Vgm " + bytes(17 << 20)))
    for path in (cut, large, bomb):
        expected = native.run("render", path, "-o", os.path.join(out_dir, "x.wav")).stderr
        expected = expected.strip().splitlines()[-1].replace("vorla: ", "", 1)
        expected = expected.replace(path, os.path.basename(path))
        page.open_files([path])
        shown = page.wait("[...document.querySelectorAll('#messages .error')]"
                          ".map(p => p.textContent)"
                          f".find(t => t.startsWith('{os.path.basename(path)}'))", 20)
        print(f"{os.path.basename(path)}: the page says \"{shown}\"")
        assert shown == expected, f"vorla says \"{expected}\""
    # The page still answers, and the song after a bad one plays.
    choose(page, os.path.join(data, "synthetic/opm_psg_v3.s98"))


def playing(page, native, data, out_dir):
    files = [f for f in os.listdir(page.page_dir) if os.path.isfile(os.path.join(page.page_dir, f))
             and not f.endswith(".cmake")]
    weight = sum(os.path.getsize(os.path.join(page.page_dir, f)) for f in files)
    print(f"page weight: {weight} bytes ({', '.join(sorted(files))})")
    assert weight <= PAGE_LIMIT, f"over {PAGE_LIMIT} bytes"
    page.drop_files([os.path.join(data, "vgm/ym2151/JingleBells.vgm"),
                     os.path.join(data, "vgm/ay/02_StartingPoint.vgz")])
    first = page.wait("window.vorlaPage.firstSoundMs >= 0 && window.vorlaPage.firstSoundMs", 30)
    print(f"first sound {first} ms after the files were dropped on the page")
    page.wait("parseFloat(document.getElementById('seek').value) > 1.5", 30)
    # The keys of `vorla play`: Right goes 5 s on.
    for kind in ("keyDown", "keyUp"):
        page.call("Input.dispatchKeyEvent", type=kind, key="ArrowRight", code="ArrowRight",
                  windowsVirtualKeyCode=39)
    page.wait("parseFloat(document.getElementById('seek').value) > 6.5", 10)
    # A tab busy for a second does not starve the worklet: the worker renders ahead of it.
    page.eval("const until = performance.now() + 1000; while (performance.now() < until) {} true")
    time.sleep(0.5)
    starved = page.eval("window.vorlaPage.starved")
    print(f"frames of silence while the song played: {starved}")
    assert starved == 0
    # Space pauses: the position stands still; a second Space resumes.
    for expected in ("play", "pause"):
        for kind in ("keyDown", "keyUp"):
            page.call("Input.dispatchKeyEvent", type=kind, key=" ", code="Space",
                      windowsVirtualKeyCode=32)
        page.wait(f"document.getElementById('play').textContent === '{expected}'", 5)
        if expected == "play":
            time.sleep(0.3)  # the last report of frames played may be on its way
            held = page.eval("document.getElementById('seek').value")
            time.sleep(0.5)
            assert page.eval("document.getElementById('seek').value") == held, "plays on paused"
    # n: the next song of the list.
    for kind in ("keyDown", "keyUp"):
        page.call("Input.dispatchKeyEvent", type=kind, key="n", code="KeyN", text="n",
                  windowsVirtualKeyCode=78)
    page.wait("window.vorlaPage.song === 1 && window.vorlaPage.firstSoundMs >= 0", 10)
    page.wait("parseFloat(document.getElementById('seek').value) > 1", 10)
    shot = os.path.join(out_dir, "page-playing.png")
    page.screenshot(shot)
    print(f"screenshot: {shot}")


def main():
    case, page_dir, native_build, data, out_dir = sys.argv[1:6]
    if not os.path.exists(os.path.join(data, "synthetic/opm_psg_v3.s98")):
        print(f"shared test files not found under {data}")
        return 1 if os.environ.get("CI") else 77
    os.makedirs(out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        native = Native(native_build, scratch)
        page = Page(page_dir, scratch)
        page.page_dir = page_dir
        try:
            {"same-sound": same_sound, "bad-file": bad_file, "playing": playing}[case](
                page, native, data, out_dir)
        finally:
            page.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
