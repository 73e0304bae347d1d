"""A private PulseAudio server with a null sink, as a desktop's sound server
stands in front of its sound card, and a recorder of what the sink plays."""
import array
import math
import os
import shutil
import signal
import subprocess
import tempfile
import time

RATE = 44100


def available():
    return all(shutil.which(tool) for tool in ('pulseaudio', 'pactl', 'parecord'))


class PulseServer:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='sonarel-pulse-')
        # Its own runtime folder and home: the server, its socket and its
        # cookie are private to this test, and no D-Bus is needed.
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.dir, HOME=self.dir)
        self.env.pop('PULSE_SERVER', None)
        self.proc = None
        self.start()

    def start(self):
        self.proc = subprocess.Popen(
            ['pulseaudio', '-n', '--daemonize=no', '--exit-idle-time=-1', '--disable-shm=no',
             '--load=module-null-sink sink_name=out', '--load=module-native-protocol-unix'],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while self.pactl('info').returncode != 0:
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError('the PulseAudio server did not start')
            time.sleep(0.05)

    def pactl(self, *args):
        return subprocess.run(['pactl', *args], env=self.env, capture_output=True, text=True)

    def sink_inputs(self):
        """(corked, application name) of every stream playing into the server."""
        out = self.pactl('list', 'sink-inputs').stdout
        streams = []
        for block in out.split('Sink Input #')[1:]:
            corked = 'Corked: yes' in block
            name = ''
            for line in block.splitlines():
                if 'application.name = ' in line:
                    name = line.split('=', 1)[1].strip().strip('"')
            streams.append((corked, name))
        return streams

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.pactl('exit')
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


class Recorder:
    """What the null sink plays, as 16-bit mono samples."""

    def __init__(self, server, sink='out'):
        self.path = os.path.join(server.dir, '%s-monitor.raw' % sink)
        self.proc = subprocess.Popen(
            ['parecord', '--device=%s.monitor' % sink, '--raw', '--format=s16le', '--rate=%d' % RATE, '--channels=1',
             '--latency-msec=20', self.path], env=server.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def recorded_seconds(self):
        try:
            return os.path.getsize(self.path) / 2 / RATE
        except OSError:
            return 0.0

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        samples = array.array('h')
        with open(self.path, 'rb') as f:
            samples.frombytes(f.read())
        return samples


def onset(samples, threshold=300):
    """Index of the first sample louder than threshold, or -1."""
    for i, v in enumerate(samples):
        if abs(v) > threshold:
            return i
    return -1


def rms(samples, start_s, end_s):
    part = samples[int(start_s * RATE):int(end_s * RATE)]
    if not part:
        return 0.0
    return math.sqrt(sum(v * v for v in part) / len(part))
