"""The default sound path as every user has it: the program in a real window,
its built-in synthesizer playing into a real sound server (PulseAudio, and
PipeWire serving the same protocol), and what the server's sink plays
recorded from its monitor."""
import os
import subprocess
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

    def test_the_server_going_away_leaves_the_keyboard_playing(self):
        self.s.start()
        self.assertTrue(wait_for(lambda: self.ours() == [True], 5))
        self.server.kill()
        mark = len(self.s.read_trace())
        self.s.key('z')
        self.s.key('x')
        self.assertTrue(wait_for(lambda: len(note_ons(self.s.read_trace()[mark:])) >= 2, 3))
        self.assertIsNone(self.s.proc.poll(), 'the program ended with the server')
        self.s.stop()

        # The server is back: the next start sounds again.
        self.server.start()
        self.s.start()
        rec = Recorder(self.server)
        self.assertTrue(wait_for(lambda: rec.recorded_seconds() > 0.3, 5))
        self.s.key('c')
        self.assertTrue(wait_for(lambda: rec.recorded_seconds() > 1.5, 5))
        samples = rec.stop()
        self.assertGreater(onset(samples), 0)

    def test_no_server_is_silent_and_says_so_once(self):
        self.server.close()
        self.s.start()
        mark = len(self.s.read_trace())
        self.s.key('z')
        self.assertTrue(wait_for(lambda: note_ons(self.s.read_trace()[mark:]), 3))
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


if __name__ == '__main__':
    unittest.main()
