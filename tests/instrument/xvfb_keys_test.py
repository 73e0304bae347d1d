#!/usr/bin/env python3
"""Real key presses on a lower keyboard, through an X server.

Starts Xvfb on a free display, runs the keyboard harness there, focuses its
window and holds Z for two seconds with xdotool. Checks, from the harness's
MIDI trace and its printed colour changes, that the held key struck exactly
once (auto-repeat never strikes again), that the countdown ended the note
about a second after the strike while the key was still held, and that the
key was shown released when it was let go.

Usage: xvfb_keys_test.py HARNESS
Exit status 77 (skipped) when Xvfb or xdotool is not installed.
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77


def now_ms():
    return time.monotonic() * 1000.0


def start_xvfb():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-noreset", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        ready, _, _ = select.select([read_fd], [], [], 0.2)
        if ready:
            chunk = os.read(read_fd, 64)
            if not chunk:
                break
            number += chunk
            if number.endswith(b"\n"):
                break
    os.close(read_fd)
    if not number.strip():
        xvfb.kill()
        raise RuntimeError("Xvfb did not report a display")
    return xvfb, ":" + number.decode().strip()


class Harness:
    def __init__(self, path, trace, env):
        self.proc = subprocess.Popen([path, trace, "15"], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.lines = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.lines.append(line.split())

    def wait_for(self, word, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                for fields in self.lines:
                    if fields and fields[0] == word:
                        return fields
            if self.proc.poll() is not None:
                break
            time.sleep(0.02)
        return None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def read_trace(path):
    messages = []
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) == 4:
                messages.append((int(fields[0]), fields[1], fields[2], fields[3]))
    return messages


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is not installed")
            return SKIP

    failures = []
    xvfb, display = start_xvfb()
    harness = None
    try:
        with tempfile.TemporaryDirectory() as tmp:
            trace = os.path.join(tmp, "trace.txt")
            env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
            env.pop("WAYLAND_DISPLAY", None)
            harness = Harness(sys.argv[1], trace, env)
            ready = harness.wait_for("ready", 15)
            if not ready:
                print("FAIL: the harness never became ready")
                return 1
            window = ready[1]
            subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, timeout=10, check=False)

            down_at = now_ms()
            subprocess.run(["xdotool", "keydown", "z"], env=env, timeout=10, check=True)
            time.sleep(2.0)
            up_before = now_ms()
            subprocess.run(["xdotool", "keyup", "z"], env=env, timeout=10, check=True)
            up_after = now_ms()
            # The countdown's note-off, a second after the note-on, is in the trace.
            # The trace is written in order: what follows the note-on's line
            # came after it, whatever its millisecond says (an idle key's
            # note-off can share the note-on's millisecond, before it).
            def after_note_on(messages):
                on = [i for i, m in enumerate(messages) if m[1:] == ("90", "30", "7F")]
                return messages[on[0] + 1:] if on else []

            def ended():
                return any(m[1:] == ("80", "30", "00") for m in after_note_on(read_trace(trace)))
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and not ended():
                time.sleep(0.02)
            harness.stop()

            messages = read_trace(trace)
            ons = [m for m in messages if m[1:] == ("90", "30", "7F")]
            if len(ons) != 1:
                failures.append(f"expected one note-on 90 30 7F, got {len(ons)}")
            else:
                on_ms = ons[0][0]
                offs = [m for m in after_note_on(messages) if m[1:] == ("80", "30", "00")]
                if not offs:
                    failures.append("no note-off 80 30 00 after the note-on")
                else:
                    gap = offs[0][0] - on_ms
                    print(f"note-off {gap} ms after the note-on")
                    if not 900 <= gap <= 1300:
                        failures.append(f"note-off came {gap} ms after the note-on, not 900..1300")
                # Key 0 never sounded, so the silencer has nothing to end.
                if any(m[1:] == ("80", "24", "00") for m in messages):
                    failures.append("a note-off for key 0, which never sounded")

            colours = [f for f in harness.lines if f and f[0] == "colour" and f[2] == "12"]
            struck = [float(f[1]) for f in colours if f[3] == "struck"]
            rest = [float(f[1]) for f in colours if f[3] == "rest"]
            autorepeat = [f for f in harness.lines if f and f[0] == "autorepeat"]
            presses = [f for f in harness.lines if f and f[0] == "key" and f[2] == "press" and f[3] == "52"]
            print(f"detectable auto-repeat granted: {autorepeat[0][1] if autorepeat else '?'}; "
                  f"Z press events seen by the window: {len(presses)}")
            if len(struck) != 1:
                failures.append(f"key 12 was shown struck {len(struck)} times, expected once")
            elif not down_at <= struck[0] <= down_at + 500:
                failures.append(f"key 12 lit {struck[0] - down_at:.0f} ms after the key went down")
            if len(rest) != 1:
                failures.append(f"key 12 was shown released {len(rest)} times, expected once")
            elif not up_before <= rest[0] <= up_after + 300:
                failures.append(f"key 12 released {rest[0] - up_before:.0f} ms after the key-up began")
    finally:
        if harness:
            harness.stop()
        xvfb.terminate()
        try:
            xvfb.wait(timeout=5)
        except subprocess.TimeoutExpired:
            xvfb.kill()

    for f in failures:
        print("FAIL:", f)
    if not failures:
        print("PASS")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
