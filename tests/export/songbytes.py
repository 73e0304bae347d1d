"""Builds song files byte by byte, the way the format lays them out, and
gives the song tools' tests a folder of their own."""
import os
import struct
import tempfile
import unittest


def record(tag, value):
    tag = str(tag).encode('ascii')[:5].ljust(5, b' ')
    value = str(value).encode('ascii')[:5].ljust(5, b' ')
    return struct.pack('<H', 10) + tag + value


HEADER_RECORDS = [('@TonD', 2), ('@DiaZ', 0), ('@YinL', 127), ('@YueQ', 12), ('@YinG', 36),
                  ('@XiaY', 'True'), ('@YinC', 100), ('@TonD', 1), ('@DiaZ', 0), ('@YinL', 127),
                  ('@YueQ', 0), ('@YinG', 36), ('@XiaY', 'True'), ('@YinC', 100)]


def song(records, title='测试', author='佚名', header=True):
    line = ('"%s","%s"\r\n' % (title, author)).encode('gbk')
    data = bytearray(line.ljust(108, b'\0'))
    for tag, value in (HEADER_RECORDS if header else []) + list(records):
        data += record(tag, value)
    return bytes(data)


class InFolder(unittest.TestCase):
    """A test with a temporary folder for its files."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        p = self.path(name)
        with open(p, 'wb') as f:
            f.write(data)
        return p
