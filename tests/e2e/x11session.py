"""A private X server with the program running in it, driven like a user would."""
import ctypes
import os
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time

# Where the controls sit on the 785 x 334 window, in pixels.
COM = {0: (10, 272, 28, 24), 1: (48, 159, 28, 18), 2: (88, 159, 28, 18), 3: (168, 159, 28, 18),
       4: (208, 159, 28, 18), 5: (248, 159, 28, 18), 6: (288, 159, 28, 18), 7: (128, 159, 28, 18),
       8: (328, 159, 28, 18), 9: (10, 208, 28, 24)}
OK_BUTTON = (256 + 104 + 28, 96 + 88 + 12)

# A wait's deadline is only how late the program's signal may be before the
# test gives up: a loaded machine, and more so a sanitized build, answers
# several times slower than an idle one.
PATIENCE = 8 if os.environ.get('SONAREL_SANITIZED') else 3


def start_xvfb():
    """A private X server and its display, once it takes clients. It picks a
    free display itself and writes its number when ready (-displayfd); with
    -noreset it does not restart when its first client leaves."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(['Xvfb', '-noreset', '-displayfd', str(write_fd), '-screen', '0', '1024x768x24',
                             '-nolisten', 'tcp'], pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    os.close(write_fd)
    number = b''
    deadline = time.time() + 10 * PATIENCE
    while not number.endswith(b'\n') and time.time() < deadline:
        if select.select([read_fd], [], [], 0.2)[0]:
            chunk = os.read(read_fd, 64)
            if not chunk:
                break
            number += chunk
    os.close(read_fd)
    if not number.endswith(b'\n'):
        xvfb.kill()
        raise RuntimeError('Xvfb did not start')
    return xvfb, ':' + number.decode().strip()


def die_with_parent():
    """In the child before exec: a test that crashes takes its servers and
    program with it (a SIGTERM, which the program takes as its close button)."""
    ctypes.CDLL('libc.so.6', use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Session:
    """Xvfb + a copy of the program in a folder of its own (so Music is private)."""

    def __init__(self, binary, env=None, copy=True):
        self.dir = tempfile.mkdtemp(prefix='sonarel-e2e-')
        # A copy keeps Music private to the test; an installed program runs
        # where it was installed and keeps Music in the user's data folder.
        self.app = os.path.join(self.dir, 'sonarel') if copy else binary
        if copy:
            shutil.copy(binary, self.app)
        self.xvfb, self.display = start_xvfb()
        self.env = dict(env or os.environ, DISPLAY=self.display)
        # The choices a run keeps stay with the test.
        self.env.setdefault('XDG_CONFIG_HOME', os.path.join(self.dir, 'config'))
        self.env.pop('QT_QPA_PLATFORM', None)
        self.proc = None
        self.trace = os.path.join(self.dir, 'trace.txt')
        self.log = open(os.path.join(self.dir, 'stderr.txt'), 'w')

    def start(self, *args):
        if os.path.exists(self.trace):
            os.remove(self.trace)
        self.proc = subprocess.Popen([self.app, '--midi-trace', self.trace, *args], env=self.env, cwd=self.dir,
                                     stdout=subprocess.DEVNULL, stderr=self.log, preexec_fn=die_with_parent)
        deadline = time.time() + 15 * PATIENCE
        while True:
            r = self.xdo('search', '--onlyvisible', '--name', '^Sonarel$', check=False)
            if r.returncode == 0 and r.stdout.strip():
                self.wid = r.stdout.split()[0]
                break
            if time.time() > deadline or self.proc.poll() is not None:
                self.log.flush()
                with open(self.log.name) as log:
                    raise RuntimeError('the window did not appear: ' + log.read())
            time.sleep(0.05)
        self.xdo('windowfocus', '--sync', self.wid, check=False)
        # Ready for keys once both keyboards have started (each sends its program).
        started = lambda: {(0xC0, 0), (0xC1, 12)} <= {(st, d1) for _, st, d1, _ in self.read_trace()}
        if not wait_for(started, 10):
            raise RuntimeError('the keyboards did not start')

    def xdo(self, *args, check=True):
        return subprocess.run(['xdotool', *args], env=self.env, capture_output=True, text=True, check=check)

    def geometry(self):
        out = self.xdo('getwindowgeometry', '--shell', self.wid).stdout
        g = dict(line.split('=') for line in out.split())
        return int(g['X']), int(g['Y']), int(g['WIDTH']), int(g['HEIGHT'])

    def click(self, x, y):
        wx, wy, _, _ = self.geometry()
        self.xdo('mousemove', '--sync', str(wx + x), str(wy + y))
        self.xdo('click', '1')

    def record(self):
        """Record, and OK on the title panel: the recording has begun once its
        header and starting settings are in the scratch file."""
        self.click_com(1)
        self.click(*OK_BUTTON)
        if not wait_for(lambda: os.path.exists(self.scratch()) and len(records(self.scratch())) >= 14, 10):
            raise RuntimeError('the recording did not start')
        self.focus()

    def popups(self):
        """How many windows of the program show beside its main one: an open
        list, a menu or a dialog is a window of its own; a tooltip does not count."""
        shown = self.xdo('search', '--onlyvisible', '--pid', str(self.proc.pid), check=False).stdout.split()
        kinds = [subprocess.run(['xprop', '-id', w, '_NET_WM_WINDOW_TYPE'], env=self.env, capture_output=True,
                                text=True).stdout for w in shown if w != self.wid]
        return sum('_NET_WM_WINDOW_TYPE_TOOLTIP' not in k for k in kinds)

    def click_com(self, index):
        x, y, w, h = COM[index]
        self.click(x + w // 2, y + h // 2)

    def focus(self):
        self.xdo('windowfocus', '--sync', self.wid, check=False)

    def key(self, name, hold=0.05):
        self.xdo('keydown', name)
        time.sleep(hold)
        self.xdo('keyup', name)

    def lamp(self):
        """What the lamp at the right of the panel shows: 'skin' (the skin's
        green lamp: sound), 'red' (no sound) or 'dim' (starting)."""
        x, y, _, _ = self.geometry()
        out = subprocess.run(['import', '-display', self.display, '-window', 'root', '-crop', '1x1+%d+%d' % (x + 749, y + 165),
                              '-depth', '8', 'txt:-'], capture_output=True, text=True).stdout
        r, g, b = [int(v) for v in out.splitlines()[-1].split('(')[1].split(')')[0].split(',')[:3]]
        if r > 150 and g < 100:
            return 'red'
        return 'skin' if g > r + 40 else 'dim'

    def screenshot(self, path):
        subprocess.run(['import', '-display', self.display, '-window', self.wid, path], check=True)

    def stop(self, kill=False):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL if kill else signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.proc = None

    def close(self):
        self.stop()
        self.xvfb.terminate()
        self.xvfb.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    # What the program left behind.
    def read_trace(self):
        out = []
        if os.path.exists(self.trace):
            with open(self.trace) as f:
                for line in f:
                    if not line.endswith('\n'):
                        break  # still being written
                    ms, s, d1, d2 = line.split()
                    out.append((int(ms), int(s, 16), int(d1, 16), int(d2, 16)))
        return out

    def scratch(self):
        return os.path.join(self.dir, 'Music', '~Mid.Dat')


def wait_for(predicate, timeout):
    """Waits for a condition (a trace line, a file, a window property) rather than a time."""
    deadline = time.time() + timeout * PATIENCE
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def note_ons(trace):
    return [(ms, s, d1) for ms, s, d1, d2 in trace if s & 0xF0 == 0x90 and d2 > 0]


def struck_and_ended(trace, channel, note):
    """The first note-on of `note` on `channel` and the first note-off of it
    after that line, or None while either is missing. The trace's order
    says what came after: an idle key's note-off, sent every countdown tick,
    can share the note-on's millisecond and stand before it."""
    on = next((i for i, t in enumerate(trace) if t[1:3] == (0x90 | channel, note) and t[3] > 0), None)
    off = None if on is None else next((t for t in trace[on + 1:] if t[1:3] == (0x80 | channel, note)), None)
    return (trace[on], off) if off else None


def records(path):
    with open(path, 'rb') as f:
        data = f.read()
    out = []
    for off in range(108, len(data) - 11, 12):
        rec = data[off:off + 12]
        out.append((rec[2:7].decode('latin-1'), rec[7:12].decode('latin-1')))
    return out


def number(field):
    digits = ''
    for c in field.strip():
        if c.isdigit() or (c == '-' and not digits):
            digits += c
        else:
            break
    return int(digits) if digits not in ('', '-') else 0
