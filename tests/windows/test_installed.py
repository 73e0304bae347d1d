"""The Windows program as a Windows user meets it, under Wine on a private X
server: the installer run silently, the installed program's window, real
keys through XTest, a recording, a song in a Chinese folder, a double-click
on a song while the keyboard is open, and the uninstaller. What the program
plays is compared with what the Linux build plays for the same keys.

Usage: test_installed.py WINDOWS_BUILD HOST_BUILD
At the end it prints how long the window takes to show under Wine beside a
bare Qt window built with the same Qt, and the installer's and the
installation's sizes.
"""
import ctypes
import glob
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))
sys.path.insert(0, os.path.join(HERE, '..', 'export'))
from songbytes import song  # noqa: E402
from x11session import COM, OK_BUTTON, PATIENCE, Session, die_with_parent, start_xvfb, note_ons, records, wait_for  # noqa: E402

OUT = os.path.abspath(sys.argv.pop(1))
HOST = os.path.abspath(sys.argv.pop(1))
ARTEFACTS = os.path.join(OUT, 'test-windows')
HEADER = 14

# X key codes of Xvfb's keymap: Z, the pad's 0 (Insert with NumLock off),
# Up and NumLock.
KEY_Z, KEY_PAD0, KEY_UP, KEY_NUMLOCK = 52, 90, 111, 77


def windows_path(path):
    return 'Z:' + os.path.realpath(path).replace('/', '\\')


class XTest:
    """Key presses as the X server's own, so that both programs get the same
    key codes whatever the keysyms say (xdotool would toggle NumLock to type
    a pad key)."""

    def __init__(self, display):
        self.x = ctypes.CDLL('libX11.so.6')
        self.xtst = ctypes.CDLL('libXtst.so.6')
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError('cannot open ' + display)

    def key(self, code, hold=0.05):
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 1, 0)
        self.x.XSync(self.dpy, 0)
        time.sleep(hold)
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 0, 0)
        self.x.XSync(self.dpy, 0)

    def close(self):
        self.x.XCloseDisplay(self.dpy)


class Desk:
    """Xvfb, a Wine prefix and a home of their own: nothing of the test
    reaches the caller's Wine or documents."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='sonarel-wine-e2e-')
        self.xvfb, self.display = start_xvfb()
        self.home = os.path.join(self.dir, 'home')
        os.makedirs(self.home)
        self.env = dict(os.environ, DISPLAY=self.display, HOME=self.home, WINEDEBUG='-all',
                        WINEPREFIX=os.path.join(self.dir, 'prefix'),
                        WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d')
        for name in ('QT_QPA_PLATFORM', 'WINEPATH', 'QT_PLUGIN_PATH', 'WAYLAND_DISPLAY'):
            self.env.pop(name, None)
        os.makedirs(self.env['WINEPREFIX'])
        # One Wine server for the whole run, so no program's start pays for it.
        subprocess.run(['wineserver', '-p'], env=self.env, check=True)
        # Wine's services live on after wineboot, holding whatever it was
        # given as its output: a pipe would never end.
        subprocess.run(['wineboot', '-i'], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=300)
        self.keys = XTest(self.display)
        self.proc = None
        self.trace = os.path.join(self.dir, 'trace.txt')
        self.log = open(os.path.join(self.dir, 'stderr.txt'), 'w')
        self.drive_c = os.path.join(self.env['WINEPREFIX'], 'drive_c')
        self.folder = os.path.join(self.drive_c, 'Program Files', 'Sonarel')

    def wine(self, *args, timeout=120, text=False, **kw):
        """Runs a Windows program to its end. Its output goes through files:
        a program of Wine's that it starts may hold a pipe open for good."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            r = subprocess.run(['wine', *args], env=self.env, stdout=out, stderr=err, timeout=timeout, **kw)
            out.seek(0)
            err.seek(0)
            r.stdout, r.stderr = out.read(), err.read()
        if text:
            r.stdout, r.stderr = (v.decode('utf-8', 'replace') for v in (r.stdout, r.stderr))
        return r

    def reg(self, key, value=None):
        """A registry value's data, or None where the key or value is missing."""
        args = ['reg', 'query', key] + (['/ve'] if value is None else ['/v', value])
        r = self.wine(*args, text=True)
        if r.returncode != 0:
            return None
        for line in r.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith('REG_'):
                return parts[2].strip()
        return ''

    def window(self, name='^Sonarel$'):
        r = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', name], env=self.env,
                           capture_output=True, text=True)
        return r.stdout.split()[0] if r.returncode == 0 and r.stdout.strip() else None

    def start(self, *args):
        if os.path.exists(self.trace):
            os.remove(self.trace)
        exe = os.path.join(self.folder, 'sonarel.exe')
        self.proc = subprocess.Popen(['wine', exe, '--midi-trace', windows_path(self.trace), *args], env=self.env,
                                     cwd=self.home, stdout=subprocess.DEVNULL, stderr=self.log,
                                     preexec_fn=die_with_parent)
        if not wait_for(lambda: self.window() or self.proc.poll() is not None, 30):
            raise RuntimeError('the window did not appear')
        self.wid = self.window()
        if not self.wid:
            raise RuntimeError('the program ended before its window showed')
        self.focus()
        started = lambda: {(0xC0, 0), (0xC1, 12)} <= {(st, d1) for _, st, d1, _ in self.read_trace()}
        if not wait_for(started, 10):
            raise RuntimeError('the keyboards did not start')

    def focus(self):
        subprocess.run(['xdotool', 'windowactivate', '--sync', self.wid], env=self.env, capture_output=True)
        subprocess.run(['xdotool', 'windowfocus', '--sync', self.wid], env=self.env, capture_output=True)

    def geometry(self):
        out = subprocess.run(['xdotool', 'getwindowgeometry', '--shell', self.wid], env=self.env,
                             capture_output=True, text=True).stdout
        g = dict(line.split('=') for line in out.split())
        return int(g['X']), int(g['Y']), int(g['WIDTH']), int(g['HEIGHT'])

    def click(self, x, y):
        wx, wy, _, _ = self.geometry()
        subprocess.run(['xdotool', 'mousemove', '--sync', str(wx + x), str(wy + y), 'click', '1'], env=self.env,
                       capture_output=True)

    def click_com(self, index):
        x, y, w, h = COM[index]
        self.click(x + w // 2, y + h // 2)

    read_trace = Session.read_trace

    def quit(self):
        """Closes the window the way the system does when a user logs off:
        a WM_CLOSE, which the program takes as its close button."""
        if self.proc and self.proc.poll() is None:
            self.wine('taskkill', '/IM', 'sonarel.exe')
            try:
                self.proc.wait(timeout=20 * PATIENCE)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.proc = None

    def close(self):
        self.quit()
        self.keys.close()
        subprocess.run(['wineserver', '-k'], env=self.env, capture_output=True)
        subprocess.run(['wineserver', '-w'], env=self.env, capture_output=True)
        self.xvfb.terminate()
        self.xvfb.wait()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def setup_exe():
    found = glob.glob(os.path.join(OUT, 'package', 'sonarel-*-setup.exe'))
    if len(found) != 1:
        raise RuntimeError('expected one installer in %s/package, found %s' % (OUT, found))
    return found[0]


def play_keys(keys, codes):
    """The same keys, with the same pauses, on either program."""
    for code in codes:
        keys.key(code)
        time.sleep(0.25)


# Z, the pad's 0 with NumLock off, Up, then NumLock (a key of its own), the
# pad's 0 with NumLock on, and NumLock again.
KEYS = [KEY_Z, KEY_PAD0, KEY_UP, KEY_NUMLOCK, KEY_PAD0, KEY_NUMLOCK]


class Linux:
    """What the Linux build plays and records for the same keys: the
    reference the Windows program is held to."""
    session = None

    @classmethod
    def run(cls):
        s = Session(os.path.join(HOST, 'sonarel'))
        try:
            s.start()
            keys = XTest(s.display)
            size = s.geometry()[2:]
            mark = len(s.read_trace())
            play_keys(keys, KEYS)
            ons = lambda: note_ons(s.read_trace()[mark:])
            wait_for(lambda: len(ons()) >= 6, 5)
            time.sleep(0.3)  # the last note-ons' stragglers, if any
            played = [(st, n) for _, st, n in note_ons(s.read_trace()[mark:])]
            s.record()
            play_keys(keys, KEYS)
            s.click_com(7)  # Stop
            wait_for(lambda: records(s.scratch())[-1][0] == '@END ', 5)
            recorded = records(s.scratch())
            keys.close()
            return size, played, recorded
        finally:
            s.close()


def shape(recs):
    """A recording without its timing: the settings records whole, each note
    record by its note alone."""
    return [(t, v) if t.startswith('@') else (t, None) for t, v in recs]


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.linux_size, cls.linux_played, cls.linux_recorded = Linux.run()
        cls.d = Desk()
        os.makedirs(ARTEFACTS, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.d.close()

    def test_1_the_installer_installs_silently(self):
        d = self.d
        r = d.wine(setup_exe(), '/S', timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        for name in ('sonarel.exe', 'uninstall.exe', 'Qt6Core.dll', 'Qt6Gui.dll', 'Qt6Widgets.dll',
                     'libstdc++-6.dll', 'libwinpthread-1.dll', 'qt.conf', 'platforms/qwindows.dll',
                     'translations/qtbase_zh_CN.qm'):
            self.assertTrue(os.path.isfile(os.path.join(d.folder, name)), name)
        self.assertTrue(glob.glob(os.path.join(d.drive_c, 'ProgramData', 'Microsoft', 'Windows', 'Start Menu',
                                               'Programs', 'Sonarel.lnk')))
        classes = r'HKLM\Software\Classes'
        self.assertEqual(d.reg(classes + r'\.hbk'), 'Sonarel.Song')
        self.assertIn('sonarel.exe', d.reg(classes + r'\Sonarel.Song\shell\open\command'))
        for ext in ('.mid', '.midi', '.txt'):
            self.assertIsNotNone(d.reg(classes + '\\' + ext + r'\OpenWithProgids', 'Sonarel.Midi'
                                       if ext.startswith('.mid') else 'Sonarel.Jianpu'), ext)
        uninstall = r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Sonarel'
        self.assertIn('uninstall.exe', d.reg(uninstall, 'UninstallString'))
        self.assertEqual(d.reg(uninstall, 'DisplayName'), 'Sonarel')

    def test_2_keys_play_what_they_play_on_linux(self):
        d = self.d
        d.start()
        x, y, w, h = d.geometry()
        self.assertEqual((w, h), tuple(self.linux_size))
        shot = os.path.join(ARTEFACTS, 'window-under-wine.png')
        subprocess.run(['import', '-display', d.display, '-window', d.wid, shot], check=True)
        size = subprocess.run(['identify', '-format', '%w %h', shot], capture_output=True, text=True).stdout
        self.assertEqual(tuple(int(v) for v in size.split()), tuple(self.linux_size))
        mark = len(d.read_trace())
        play_keys(d.keys, KEYS)
        self.assertTrue(wait_for(lambda: len(note_ons(d.read_trace()[mark:])) >= len(self.linux_played), 5))
        time.sleep(0.3)
        trace = d.read_trace()[mark:]
        self.assertEqual([(st, n) for _, st, n in note_ons(trace)], self.linux_played)
        print('\n  played on both:', ' '.join('%02X %02X' % k for k in self.linux_played), end=' ', flush=True)
        self.assertEqual(self.linux_played[0], (0x90, 0x30))
        self.assertEqual(self.linux_played[1], (0x91, 0x37))
        # Z's note-on at full velocity, then the countdown's note-off.
        on = next(i for i, t in enumerate(trace) if t[1:] == (0x90, 0x30, 0x7F))
        self.assertTrue(wait_for(lambda: any(t[1:3] == (0x80, 0x30) for t in d.read_trace()[mark + on + 1:]), 5))

    def test_3_a_recording_holds_what_linux_records(self):
        d = self.d
        d.click_com(1)  # Record
        d.click(*OK_BUTTON)  # on the title panel
        scratch = lambda: (glob.glob(os.path.join(d.home, '**', 'Sonarel', 'Music', '~Mid.Dat'), recursive=True)
                           + glob.glob(os.path.join(d.drive_c, 'users', '**', 'Sonarel', 'Music', '~Mid.Dat'),
                                       recursive=True))
        self.assertTrue(wait_for(lambda: scratch() and len(records(scratch()[0])) >= HEADER, 10),
                        'no scratch file in the documents')
        d.focus()
        play_keys(d.keys, KEYS)
        d.click_com(7)  # Stop
        self.assertTrue(wait_for(lambda: records(scratch()[0])[-1][0] == '@END ', 5))
        self.assertEqual(shape(records(scratch()[0])), shape(self.linux_recorded))

    def test_4_a_song_in_a_chinese_folder_opens_and_plays(self):
        d = self.d
        d.quit()
        folder = os.path.join(d.home, '音乐')
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, '小星星.hbk')
        with open(path, 'wb') as f:
            f.write(song([('24', 5), ('24', 5), ('31', 5), ('31', 5), ('@END', 0)], title='小星星'))
        d.start(windows_path(path))
        self.assertTrue(wait_for(lambda: len(note_ons(d.read_trace())) >= 4, 10))
        self.assertEqual([n for _, _, n in note_ons(d.read_trace())][:4], [60, 60, 67, 67])

    def test_5_a_double_click_hands_the_song_to_the_open_keyboard(self):
        d = self.d
        path = os.path.join(d.home, '音乐', '两只老虎.hbk')
        with open(path, 'wb') as f:
            f.write(song([('24', 5), ('26', 5), ('28', 5), ('@END', 0)], title='两只老虎'))
        mark = len(d.read_trace())
        # What Explorer runs for a double-click: the file type's command.
        r = d.wine('start', '/wait', '/unix', path, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(wait_for(lambda: len(note_ons(d.read_trace()[mark:])) >= 3, 10))
        self.assertEqual([n for _, _, n in note_ons(d.read_trace()[mark:])], [60, 62, 64])
        windows = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^Sonarel$'], env=d.env,
                                 capture_output=True, text=True).stdout.split()
        self.assertEqual(len(windows), 1)

    def test_6_the_song_tools_print_and_end_as_on_linux(self):
        d = self.d
        path = os.path.join(d.home, '音乐', '小星星.hbk')
        broken = os.path.join(d.home, '音乐', '坏.hbk')
        with open(broken, 'wb') as f:
            f.write(b'not a song')
        exe = os.path.join(d.folder, 'sonarel.exe')
        for args in (['--dump', path], ['--dump', broken], ['--help']):
            linux = subprocess.run([os.path.join(HOST, 'sonarel'), *args], capture_output=True,
                                   env=dict(os.environ, QT_QPA_PLATFORM='offscreen'))
            wine = d.wine(exe, *[windows_path(a) if a.startswith('/') else a for a in args])
            self.assertEqual(wine.returncode, linux.returncode, args)
            self.assertEqual(wine.stdout.replace(b'\r\n', b'\n'), linux.stdout, args)
            self.assertEqual(bool(wine.stderr.strip()), bool(linux.stderr.strip()), args)

    def test_7_the_uninstaller_takes_away_what_the_installer_put(self):
        d = self.d
        d.quit()
        r = d.wine(os.path.join(d.folder, 'uninstall.exe'), '/S', timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        # The uninstaller runs on from a copy of itself, so that it can remove
        # its own file.
        self.assertTrue(wait_for(lambda: not os.path.exists(d.folder), 30), os.listdir(d.folder)
                        if os.path.exists(d.folder) else '')
        self.assertFalse(glob.glob(os.path.join(d.drive_c, 'ProgramData', 'Microsoft', 'Windows', 'Start Menu',
                                                'Programs', 'Sonarel.lnk')))
        classes = r'HKLM\Software\Classes'
        self.assertIsNone(d.reg(classes + r'\Sonarel.Song'))
        self.assertNotEqual(d.reg(classes + r'\.hbk'), 'Sonarel.Song')
        self.assertIsNone(d.reg(r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Sonarel', 'DisplayName'))
        # The user's recordings stay.
        music = [m for m in glob.glob(os.path.join(d.home, '**', 'Sonarel', 'Music'), recursive=True)
                 + glob.glob(os.path.join(d.drive_c, 'users', '**', 'Sonarel', 'Music'), recursive=True)]
        kept = [f for m in music for _, _, fs in os.walk(m) for f in fs if f.endswith('.hbk') or f == '~Mid.Dat']
        self.assertTrue(kept, [(r, fs) for m in music for r, _, fs in os.walk(m)])


def figures():
    """exec -> window under Wine, the program beside a bare Qt window of the
    same Qt, from the portable folder; and the sizes."""
    d = Desk()
    try:
        stage = os.path.join(OUT, 'deploy', 'Sonarel')
        bare = os.path.join(d.dir, 'bare')
        shutil.copytree(stage, bare)
        shutil.copy(os.path.join(OUT, 'bench', 'barewindow.exe'), bare)
        programs = [('Sonarel', os.path.join(bare, 'sonarel.exe'), '^Sonarel$'),
                    ('a bare Qt window', os.path.join(bare, 'barewindow.exe'), '^Bare$')]
        times = {name: [] for name, _, _ in programs}
        for _ in range(5):
            for name, exe, title in programs:
                start = time.monotonic()
                p = subprocess.Popen(['wine', exe], env=d.env, cwd=d.home, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
                wait_for(lambda: d.window(title) or p.poll() is not None, 30)
                times[name].append((time.monotonic() - start) * 1000)
                d.wine('taskkill', '/F', '/IM', os.path.basename(exe))
                p.wait(timeout=30)
        ours, floor = statistics.median(times['Sonarel']), statistics.median(times['a bare Qt window'])
        print('exec -> window under Wine, median of 5: Sonarel %.0f ms, a bare Qt window %.0f ms (%.2f x; '
              'target at most 1.5 x)' % (ours, floor, ours / floor))
        size = lambda p: sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(p) for f in fs)
        print('installer %.1f MB, installed %.1f MB, portable zip %.1f MB'
              % (os.path.getsize(setup_exe()) / 1e6, size(stage) / 1e6,
                 os.path.getsize(glob.glob(os.path.join(OUT, 'package', '*-portable.zip'))[0]) / 1e6))
    finally:
        d.close()


if __name__ == '__main__':
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    result = unittest.main(exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    figures()
