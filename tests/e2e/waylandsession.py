"""A private headless sway with the program in it, and a keyboard and a mouse
of its own: virtual input devices that the compositor takes as real ones, so
the program gets the keys' real codes (Linux key code + 8 as native scan code)."""
import ctypes
import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time

import x11session
from x11session import die_with_parent, wait_for

BTN_LEFT = 0x110


class Wayland:
    """The client end of the Wayland wire protocol, enough for the
    wlroots virtual keyboard and pointer (the protocol's own names below)."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buf = b''
        self.next_id = 2
        self.globals = {}
        registry = self.new_id()
        self.send(1, 1, struct.pack('<I', registry))  # wl_display.get_registry
        self.roundtrip()
        seat = self.bind('wl_seat', 1)
        keyboards, pointers = self.bind('zwp_virtual_keyboard_manager_v1', 1), self.bind('zwlr_virtual_pointer_manager_v1', 1)
        self.keyboard, self.pointer = self.new_id(), self.new_id()
        self.send(keyboards, 0, struct.pack('<II', seat, self.keyboard))
        self.send(pointers, 0, struct.pack('<II', seat, self.pointer))
        # The layout the compositor's own keyboard would have (evdev codes).
        xkb = ctypes.CDLL('libxkbcommon.so.0')
        for f in (xkb.xkb_context_new, xkb.xkb_keymap_new_from_names, xkb.xkb_keymap_get_as_string):
            f.restype = ctypes.c_void_p
        xkb.xkb_keymap_new_from_names.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
        xkb.xkb_keymap_get_as_string.argtypes = [ctypes.c_void_p, ctypes.c_int]
        text = ctypes.string_at(xkb.xkb_keymap_get_as_string(xkb.xkb_keymap_new_from_names(xkb.xkb_context_new(0), None, 0), 1)) + b'\0'
        fd = os.memfd_create('keymap')
        os.write(fd, text)
        self.send(self.keyboard, 0, struct.pack('<II', 1, len(text)), fd)  # keymap: xkb v1
        os.close(fd)
        self.roundtrip()
        self.ms = 0

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, args=b'', fd=None):
        message = struct.pack('<II', obj, (8 + len(args)) << 16 | opcode) + args
        ancillary = [(socket.SOL_SOCKET, socket.SCM_RIGHTS, struct.pack('i', fd))] if fd is not None else []
        self.sock.sendmsg([message], ancillary)

    def bind(self, interface, version):
        name = self.globals[interface]
        iface = interface.encode() + b'\0'
        iface += b'\0' * (-len(iface) % 4)
        obj = self.new_id()
        self.send(2, 0, struct.pack('<II', name, len(interface) + 1) + iface + struct.pack('<II', version, obj))
        return obj

    def roundtrip(self):
        callback = self.new_id()
        self.send(1, 0, struct.pack('<I', callback))  # wl_display.sync
        while True:
            while len(self.buf) < 8 or len(self.buf) < struct.unpack('<II', self.buf[:8])[1] >> 16:
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise RuntimeError('the compositor hung up')
                self.buf += chunk
            obj, word = struct.unpack('<II', self.buf[:8])
            body, self.buf = self.buf[8:word >> 16], self.buf[word >> 16:]
            if obj == callback:
                return
            if obj == 1 and word & 0xFFFF == 0:  # wl_display.error
                raise RuntimeError('protocol error: %r' % body)
            if obj == 2 and word & 0xFFFF == 0:  # wl_registry.global
                name, length = struct.unpack('<II', body[:8])
                self.globals[body[8:8 + length - 1].decode()] = name

    def key(self, code, down):
        self.ms += 10
        self.send(self.keyboard, 1, struct.pack('<III', self.ms, code, 1 if down else 0))
        self.roundtrip()

    def pointer_to(self, x, y, extent=(1024, 768)):
        self.ms += 10
        self.send(self.pointer, 1, struct.pack('<IIIII', self.ms, x, y, *extent))  # motion_absolute
        self.send(self.pointer, 4, struct.pack('<I', self.ms))  # frame
        self.roundtrip()

    def button(self, down, code=BTN_LEFT):
        self.ms += 10
        self.send(self.pointer, 2, struct.pack('<III', self.ms, code, 1 if down else 0))
        self.send(self.pointer, 4, struct.pack('<I', self.ms))
        self.roundtrip()


class Session:
    """sway on its headless output of 1024 x 768, run (like the program) as
    an ordinary user: sway refuses root, and a test runs as root in CI."""

    def __init__(self, binary):
        self.dir = tempfile.mkdtemp(prefix='sonarel-wayland-')
        self.app = os.path.join(self.dir, 'sonarel')
        shutil.copy(binary, self.app)
        run = os.path.join(self.dir, 'run')
        os.mkdir(run, 0o700)
        with open(os.path.join(self.dir, 'config'), 'w') as f:
            f.write('output HEADLESS-1 resolution 1024x768 position 0 0\n')
        self.user = []
        if os.getuid() == 0:
            for path in (self.dir, run):
                os.chown(path, 65534, 65534)
            self.user = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
        self.env = {'PATH': os.environ.get('PATH', '/usr/bin:/bin'), 'HOME': self.dir, 'XDG_RUNTIME_DIR': run,
                    'XDG_CONFIG_HOME': os.path.join(self.dir, 'config.d'), 'XDG_DATA_HOME': os.path.join(self.dir, 'data'),
                    'WLR_BACKENDS': 'headless', 'WLR_LIBINPUT_NO_DEVICES': '1', 'WLR_RENDERER': 'pixman'}
        self.log = open(os.path.join(self.dir, 'stderr.txt'), 'w')
        self.sway = subprocess.Popen(self.user + ['sway', '-c', os.path.join(self.dir, 'config')], env=self.env,
                                     stdout=self.log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        sockets = lambda kind: [os.path.join(run, n) for n in os.listdir(run) if n.startswith(kind) and not n.endswith('.lock')]
        if not wait_for(lambda: sockets('wayland-') and sockets('sway-ipc'), 15):
            raise RuntimeError('sway did not start')
        self.ipc = sockets('sway-ipc')[0]
        self.env.update(WAYLAND_DISPLAY=os.path.basename(sockets('wayland-')[0]), QT_QPA_PLATFORM='wayland')
        self.input = Wayland(sockets('wayland-')[0])
        self.trace = os.path.join(self.dir, 'trace.txt')
        self.proc = subprocess.Popen(self.user + [self.app, '--midi-trace', self.trace], env=self.env, cwd=self.dir,
                                     stdout=subprocess.DEVNULL, stderr=self.log, preexec_fn=die_with_parent)

    read_trace = x11session.Session.read_trace

    def window(self):
        """The program's window in sway's tree: its rectangle on the output."""
        out = subprocess.run(['swaymsg', '-s', self.ipc, '-t', 'get_tree'], capture_output=True, text=True).stdout
        nodes = [json.loads(out)] if out else []
        while nodes:
            node = nodes.pop()
            if node.get('name') == 'Sonarel' and node.get('pid'):
                return node['rect']
            nodes += node.get('nodes', []) + node.get('floating_nodes', [])
        return None

    def close(self):
        self.input.sock.close()
        for proc in (self.proc, self.sway):
            proc.terminate()
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)
