"""A MIDI controller playing the program: a test client on a private JACK
server (its dummy driver stands in for the hardware) sends into the
program's input port; the MIDI trace and a recording show what was struck."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from x11session import Session, die_with_parent, note_ons, records, wait_for

BINARY = sys.argv.pop(1)
HEADER = 14
SKIP = 77

try:
    import rtmidi
except ImportError:
    rtmidi = None


class Jack:
    def __init__(self):
        self.name = 'sonarel-midi-in-%d' % os.getpid()
        self.log = tempfile.NamedTemporaryFile(prefix='sonarel-jackd-', suffix='.log', delete=False)
        os.environ['JACK_DEFAULT_SERVER'] = self.name
        os.environ['JACK_NO_START_SERVER'] = '1'
        self.proc = subprocess.Popen(['jackd', '-n', self.name, '--no-realtime', '-t', '10000', '-d', 'dummy',
                                      '-r', '44100', '-p', '256'], stdout=self.log, stderr=self.log,
                                     preexec_fn=die_with_parent)
        # Asked with jack_wait: a JACK client made before the server is up
        # crashes inside libjack.
        r = subprocess.run(['jack_wait', '-w', '-t', '15'], capture_output=True, text=True)
        if r.returncode != 0 or self.proc.poll() is not None:
            raise RuntimeError('jackd did not start: ' + r.stdout + r.stderr)

    def close(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        os.unlink(self.log.name)


# The controller lives in a process of its own: it is unplugged by killing
# it, and RtMidi's JACK back end is not fond of clients that end politely.
CONTROLLER = r"""
import sys, rtmidi
out = rtmidi.MidiOut(rtapi=rtmidi.API_UNIX_JACK, name='controller')
out.open_virtual_port('keys')
print('ready', flush=True)
for line in sys.stdin:
    out.send_message([int(b, 16) for b in line.split()])
    print('sent', flush=True)
"""


class Controller:
    def __init__(self):
        self.proc = subprocess.Popen([sys.executable, '-c', CONTROLLER], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
        if self.proc.stdout.readline().strip() != 'ready':
            raise RuntimeError('the test controller did not start')

    def send(self, *messages):
        for m in messages:
            self.proc.stdin.write(' '.join('%02x' % b for b in m) + '\n')
            self.proc.stdin.flush()
            self.proc.stdout.readline()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()  # as pulling the cable
            self.proc.wait()


class MidiIn(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.jack = Jack()

    @classmethod
    def tearDownClass(cls):
        cls.jack.close()

    def setUp(self):
        self.keys = Controller()
        self.s = Session(BINARY)
        self.s.start('--midi-in', 'controller')

    def tearDown(self):
        self.s.close()
        self.keys.close()

    def stderr(self):
        self.s.log.flush()
        with open(self.s.log.name) as f:
            return f.read()

    def struck(self, mark):
        return [(st, n) for _, st, n in note_ons(self.s.read_trace()[mark:])]

    def test_channels_choose_the_keyboards_and_a_recording_keeps_the_switches(self):
        s = self.s
        s.record()
        mark = len(s.read_trace())
        self.keys.send((0x90, 60, 100))             # channel 1: the lower keyboard, key 24
        self.assertTrue(wait_for(lambda: self.struck(mark) == [(0x90, 60)], 30), self.stderr())
        time.sleep(0.3)  # the pause is part of the performance
        self.keys.send((0x91, 55, 80), (0x81, 55, 0))  # channel 2: the upper keyboard
        self.assertTrue(wait_for(lambda: len(self.struck(mark)) == 2, 30))
        time.sleep(0.2)
        self.keys.send((0x95, 62, 90))              # another channel: the one played last
        self.assertTrue(wait_for(lambda: len(self.struck(mark)) == 3, 30))
        self.keys.send((0x90, 10, 90))              # off the keys: nothing
        s.click_com(7)  # Stop
        self.assertTrue(wait_for(lambda: records(s.scratch())[-1][0] == '@END ', 30))
        self.assertEqual(self.struck(mark), [(0x90, 60), (0x91, 55), (0x91, 62)])
        body = records(s.scratch())[HEADER:]
        self.assertEqual([t for t, _ in body], ['@TonD', '@YueQ', '24   ', '@TonD', '@YueQ', '19   ', '26   ', '@END '])
        self.assertEqual([v for t, v in body if t == '@TonD'], ['1    ', '2    '])

    def test_list_ports_numbers_the_inputs_and_the_outputs(self):
        r = subprocess.run([BINARY, '--list-ports'], capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        outputs, inputs = r.stdout.split('MIDI input ports (--midi-in):')
        self.assertIn('MIDI output ports (--midi-out):', outputs)
        self.assertRegex(inputs, r'\n  \d+  controller:keys')
        # The running program's own input is no output to choose: it would
        # play every note back into itself.
        self.assertNotIn('Sonarel in', outputs)

    def test_running_status_sysex_and_a_clock_flood_strike_each_key_once(self):
        mark = len(self.s.read_trace())
        clock = [(0xF8,)] * 100
        self.keys.send(*clock)
        self.keys.send((0x90, 60, 100), (64, 100))  # the second under the first one's running status
        self.keys.send((0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7), *clock)
        self.keys.send((0x90, 67, 100), (0x90, 60, 0), (0x80, 64, 0))  # velocity 0 is a note-off
        self.keys.send((0xFE,), (0x90, 72, 90))
        self.assertTrue(wait_for(lambda: len(self.struck(mark)) >= 4, 30), self.stderr())
        time.sleep(0.3)  # anything struck twice would be in by now
        self.assertEqual(self.struck(mark), [(0x90, 60), (0x90, 64), (0x90, 67), (0x90, 72)])

    def test_the_controller_going_away_leaves_the_keyboard_playing(self):
        mark = len(self.s.read_trace())
        self.keys.send((0x90, 48, 100))
        self.assertTrue(wait_for(lambda: len(self.struck(mark)) >= 1, 30))
        for note in range(49, 60):
            self.keys.send((0x90, note, 100))
        self.keys.close()  # unplugged while its notes arrive
        time.sleep(0.5)  # whatever was on its way has arrived or is lost
        self.assertIsNone(self.s.proc.poll())
        mark = len(self.s.read_trace())
        self.s.focus()
        self.s.key('z')
        self.assertTrue(wait_for(lambda: (0x90, 48) in self.struck(mark), 30))
        self.assertIsNone(self.s.proc.poll())


if __name__ == '__main__':
    if rtmidi is None or not shutil.which('jackd'):
        print('skipped: python3-rtmidi or jackd is not installed')
        sys.exit(SKIP)
    unittest.main()
