"""A private PipeWire server serving the PulseAudio protocol, with a null sink,
as desktops that replaced PulseAudio with PipeWire have it. It answers pactl
and parecord as PulseServer does, so the same tests run against both.

A desktop's session manager connects every new stream to the sink; none runs
here (it would want D-Bus and would take over real devices), so a small
linker in this file does that part of its work: it gives each stream its
ports and links playing streams into the sink and recording streams to the
sink's monitor."""
import glob
import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from soundserver import PulseServer

CONFIG = """
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 48000
    default.clock.quantum = 512
    default.clock.min-quantum = 32
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-protocol-pulse args = { server.address = [ "unix:native" ] } }
]
context.objects = [
    { factory = metadata args = { metadata.name = default } }
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver priority.driver = 20000 } }
    { factory = adapter
      args = {
          factory.name = support.null-audio-sink
          node.name = out
          node.description = out
          media.class = Audio/Sink
          audio.position = [ FL FR ]
          adapter.auto-port-config = { mode = dsp monitor = true position = preserve }
      } }
]
"""

PORT_CONFIG = ('{ "direction": "%s", "mode": "dsp", "format": { "mediaType": "audio", "mediaSubtype": "raw", '
               '"format": "F32P", "rate": 48000, "channels": 2, "position": ["FL", "FR"] } }')


def available():
    tools = all(shutil.which(tool) for tool in ('pipewire', 'pw-dump', 'pw-cli', 'pw-link', 'pactl', 'parecord'))
    return tools and bool(glob.glob('/usr/lib/*/pipewire-0.3/libpipewire-module-protocol-pulse.so'))


class PipeWireServer(PulseServer):
    def __init__(self):
        self.linker = None
        super().__init__()

    def start(self):
        self.dir = getattr(self, 'dir', None) or tempfile.mkdtemp(prefix='sonarel-pipewire-')
        config = os.path.join(self.dir, 'server.conf')
        with open(config, 'w') as f:
            f.write(CONFIG)
        # On a loaded machine PipeWire now and then gives up while it starts
        # (its sockets or its own clients time out): it is started again.
        for attempt in range(3):
            self.proc = subprocess.Popen(['pipewire', '-c', config], env=self.env,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + 10
            while self.pactl('info').returncode != 0 and time.time() < deadline and self.proc.poll() is None:
                time.sleep(0.05)
            if self.proc.poll() is None and self.pactl('info').returncode == 0:
                break
            if self.proc.poll() is None:
                self.proc.kill()
            self.proc.wait()
            time.sleep(0.5)
        else:
            raise RuntimeError('the PipeWire server did not start')
        self.linker = Linker(self.env)

    def kill(self):
        if self.linker:
            self.linker.stop()
        super().kill()

    def close(self):
        if self.linker:
            self.linker.stop()
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class Linker(threading.Thread):
    """Gives new streams their ports and links them to the sink, every 50 ms."""

    def __init__(self, env):
        super().__init__(daemon=True)
        self.env = env
        self.configured = set()
        self.done = threading.Event()
        self.start()

    def stop(self):
        self.done.set()
        self.join(timeout=5)

    def run(self):
        while not self.done.wait(0.05):
            try:
                self.step()
            except (OSError, ValueError, subprocess.SubprocessError):
                pass  # the server is going away or was killed: nothing to link

    def step(self):
        dump = subprocess.run(['pw-dump'], env=self.env, capture_output=True, text=True, timeout=5)
        objects = json.loads(dump.stdout or '[]')
        nodes, ports, links = {}, [], set()
        for o in objects:
            info = o.get('info') or {}
            props = info.get('props') or {}
            kind = o.get('type', '')
            if kind.endswith(':Node'):
                nodes[o['id']] = props.get('media.class', '')
            elif kind.endswith(':Port'):
                ports.append((o['id'], props.get('node.id'), info.get('direction'), props.get('port.name', '')))
            elif kind.endswith(':Link'):
                links.add((info.get('output-port-id'), info.get('input-port-id')))
        sink = [n for n, c in nodes.items() if c == 'Audio/Sink']
        if not sink:
            return
        sink = sink[0]
        with_ports = {node for _, node, _, _ in ports}
        for node, media in nodes.items():
            direction = {'Stream/Output/Audio': 'Output', 'Stream/Input/Audio': 'Input'}.get(media)
            if direction and node not in with_ports and node not in self.configured:
                self.configured.add(node)
                subprocess.run(['pw-cli', 'set-param', str(node), 'PortConfig', PORT_CONFIG % direction],
                               env=self.env, capture_output=True, timeout=5)

        def port(node, direction, suffix):
            for pid, n, d, name in ports:
                if n == node and d == direction and name.endswith(suffix):
                    return pid
            return None

        for node, media in nodes.items():
            for channel in ('FL', 'FR'):
                if media == 'Stream/Output/Audio':
                    pair = (port(node, 'output', channel), port(sink, 'input', 'playback_' + channel))
                elif media == 'Stream/Input/Audio':
                    pair = (port(sink, 'output', 'monitor_' + channel), port(node, 'input', channel))
                else:
                    continue
                if None not in pair and pair not in links:
                    subprocess.run(['pw-link', str(pair[0]), str(pair[1])], env=self.env,
                                   capture_output=True, timeout=5)
