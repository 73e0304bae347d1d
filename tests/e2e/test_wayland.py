"""The program on a Wayland compositor (headless sway): its keys play, and a
drag on its background moves the window, which only the compositor can do."""
import glob
import os
import shutil
import sys
import unittest

from waylandsession import Session  # noqa: E402
from x11session import note_ons, wait_for  # noqa: E402

BINARY = sys.argv.pop(1)
KEY_Z, KEY_KP1 = 44, 79  # Linux key codes


def missing():
    if not shutil.which('sway') or not shutil.which('swaymsg'):
        return 'sway is not installed'
    if not glob.glob('/usr/lib/*/qt6/plugins/platforms/libqwayland-*.so'):
        return "Qt's Wayland plugin (qt6-wayland) is not installed"
    return None


class OnWayland(unittest.TestCase):
    def setUp(self):
        self.s = Session(BINARY)
        started = lambda: {(0xC0, 0), (0xC1, 12)} <= {(st, d1) for _, st, d1, _ in self.s.read_trace()}
        self.assertTrue(wait_for(lambda: self.s.window() and started(), 30), 'the window did not start')

    def tearDown(self):
        self.s.close()

    def test_keys_play_and_a_drag_moves_the_window(self):
        s = self.s
        played = lambda: [(st, n) for _, st, n in note_ons(s.read_trace())]

        # A key is held until its note sounds, as a finger is: a press and
        # release that reach the program together are one event batch, which
        # the poll sees as no change. The window has the keys a moment after
        # it shows: Z is pressed again until it sounds, the lower keyboard's
        # C3; the pad's 1 then sounds the upper keyboard's C4.
        def strike(code, note, wait=1):
            s.input.key(code, True)
            sounded = wait_for(lambda: note in played(), wait)
            s.input.key(code, False)
            return sounded
        self.assertTrue(wait_for(lambda: strike(KEY_Z, (0x90, 48)), 20), played())
        self.assertTrue(strike(KEY_KP1, (0x91, 60), 10), played())

        before = s.window()
        # A press on the background, away from the controls. The compositor
        # takes the drag over once the program asks it to: until then the
        # pointer is nudged on. From there the window follows it exactly.
        x, y = before['x'] + 20, before['y'] + 20
        s.input.pointer_to(x, y)
        s.input.button(True)

        def follows():
            nonlocal x
            x += 1
            s.input.pointer_to(x, y)
            return s.window()['x'] != before['x']
        self.assertTrue(wait_for(follows, 10), 'the window never followed the pointer')
        taken = s.window()
        for step in range(1, 6):
            s.input.pointer_to(x + 20 * step, y + 10 * step)
        s.input.button(False)
        moved = lambda: (s.window()['x'] - taken['x'], s.window()['y'] - taken['y'])
        self.assertTrue(wait_for(lambda: moved() == (100, 50), 10), (taken, s.window()))

if __name__ == '__main__':
    why = missing()
    if why:
        print('skipped:', why)
        sys.exit(77)
    sys.exit(0 if unittest.main(exit=False).result.wasSuccessful() else 1)
