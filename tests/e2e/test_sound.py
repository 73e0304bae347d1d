"""The default sound path as every user has it: the program in a real window,
its built-in synthesizer playing into a real sound server (PulseAudio, and
PipeWire serving the same protocol), and what the server's sink plays
recorded from its monitor."""
import os
import signal
import socket
import subprocess
import tempfile
import sys
import time
import unittest

import pipewireserver
import soundserver
from soundserver import Recorder, onset, rms, RATE
from x11session import Session, note_ons, wait_for

BINARY = sys.argv.pop(1)


class Sound:
    """The same behaviour against each kind of sound server."""
    Server = None

    def setUp(self):
        self.server = self.Server()
        self.s = Session(BINARY, env=self.server.env)

    def tearDown(self):
        self.s.close()
        self.server.close()

    def ours(self):
        return [corked for corked, name in self.server.sink_inputs() if name == 'Sonarel']

    def test_a_key_sounds_while_its_note_lasts_then_silence(self):
        self.s.start()
        # One stream for the whole run, resting until there is something to play.
        self.assertTrue(wait_for(lambda: self.ours() == [True], 5), self.server.sink_inputs())
        rec = Recorder(self.server)
        self.assertTrue(wait_for(lambda: rec.recorded_seconds() > 0.3, 5))
        mark = len(self.s.read_trace())
        self.s.key('z', hold=0.1)
        self.assertTrue(wait_for(lambda: note_ons(self.s.read_trace()[mark:]), 3))
        # The countdown ends the note after about a second; then its release
        # dies away and the stream rests again.
        self.assertTrue(wait_for(lambda: self.ours() == [True], 8), self.server.sink_inputs())
        samples = rec.stop()
        start = onset(samples)
        self.assertGreater(start, 0, 'the note was never heard')
        t = start / RATE
        self.assertGreater(rms(samples, t, t + 0.9), 1000)  # sounding
        self.assertLess(rms(samples, t + 2.6, t + 3.0), 30)  # silent after the note
        self.assertLess(rms(samples, 0, t - 0.05), 30)      # and silent before it

    def heard_after(self, wait):
        """A key struck `wait` seconds from now is heard in the sink."""
        rec = Recorder(self.server)
        self.assertTrue(wait_for(lambda: rec.recorded_seconds() > 0.3, 5))
        time.sleep(wait)
        mark = len(self.s.read_trace())
        self.s.key('c')
        self.assertTrue(wait_for(lambda: note_ons(self.s.read_trace()[mark:]), 3))
        time.sleep(1.0)
        samples = rec.stop()
        return onset(samples) > 0

    def test_sound_comes_back_when_the_server_does(self):
        self.s.start()
        self.assertTrue(wait_for(lambda: self.ours() == [True], 5))
        self.server.kill()
        mark = len(self.s.read_trace())
        self.s.key('z')
        self.s.key('x')
        self.assertTrue(wait_for(lambda: len(note_ons(self.s.read_trace()[mark:])) >= 2, 3))
        self.assertIsNone(self.s.proc.poll(), 'the program ended with the server')
        self.assertTrue(wait_for(lambda: self.s.lamp() == 'red', 3))
        # The server is back: the same program finds it by itself.
        self.server.start()
        self.assertTrue(self.heard_after(3))
        self.assertEqual(self.s.lamp(), 'skin')

    def test_no_server_is_silent_says_so_once_and_finds_one_that_starts(self):
        self.server.kill()
        self.s.start()
        mark = len(self.s.read_trace())
        self.s.key('z')
        self.assertTrue(wait_for(lambda: note_ons(self.s.read_trace()[mark:]), 3))
        self.assertTrue(wait_for(lambda: self.s.lamp() == 'red', 3))
        self.server.start()
        self.assertTrue(self.heard_after(3))
        self.s.stop()
        with open(self.s.log.name) as log:
            lines = [line for line in log if 'silent' in line]
        self.assertEqual(len(lines), 1, lines)


@unittest.skipUnless(soundserver.available(), 'PulseAudio is not installed')
class OnPulseAudio(Sound, unittest.TestCase):
    Server = soundserver.PulseServer


@unittest.skipUnless(pipewireserver.available(), 'PipeWire is not installed')
class OnPipeWire(Sound, unittest.TestCase):
    Server = pipewireserver.PipeWireServer


class SilentServer(unittest.TestCase):
    """A sound server that takes the connection and never answers."""

    def test_the_window_does_not_wait_for_it_and_ends_at_once(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, 'native')
            server = socket.socket(socket.AF_UNIX)
            server.bind(path)
            server.listen(16)
            env = dict(os.environ, PULSE_SERVER='unix:' + path, XDG_RUNTIME_DIR=folder)
            s = Session(BINARY, env=env)
            try:
                began = time.time()
                s.start()
                self.assertLess(time.time() - began, 1.5)
                mark = len(s.read_trace())
                s.key('z')
                self.assertTrue(wait_for(lambda: note_ons(s.read_trace()[mark:]), 2))
                self.assertTrue(wait_for(lambda: s.lamp() == 'red', 5))
                began = time.time()
                s.proc.send_signal(signal.SIGTERM)
                s.proc.wait(timeout=5)
                self.assertLess(time.time() - began, 1.0)
            finally:
                s.close()
                server.close()


if __name__ == '__main__':
    unittest.main()
