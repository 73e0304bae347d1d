"""sonarel --import-midi: MIDI files written by tools nobody here wrote
(abc2midi, mido) and by the program's own export become songs whose playback
plays their notes, in order and on time; bad files are refused in one line."""
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest

import mido

from songbytes import InFolder, song

SONAREL = sys.argv.pop(1)
TICK_MS = 10

# The memory a long import may take; AddressSanitizer's shadow memory and
# quarantine add their own (make sanitize), so there only the far larger
# reading of the whole file is told apart.
MOST_MB = 200 if os.environ.get('SONAREL_SANITIZED') else 50


def run(*args, cwd=None):
    return subprocess.run([SONAREL, *args], capture_output=True, text=True, timeout=120, cwd=cwd)


def note_ons(path):
    """(ms, channel, note) of every note-on, all tracks merged, tempo applied."""
    t = 0.0
    out = []
    for m in mido.MidiFile(path):
        t += m.time
        if m.type == 'note_on' and m.velocity > 0:
            out.append((t * 1000.0, m.channel, m.note))
    return out


def note_lengths(path):
    """(ms, note, length in ms) of every note, in the order of their note-ons."""
    t = 0.0
    out, sounding = [], {}
    for m in mido.MidiFile(path):
        t += m.time
        if m.type == 'note_on' and m.velocity > 0:
            sounding.setdefault((m.channel, m.note), []).append(len(out))
            out.append([t * 1000.0, m.note, None])
        elif m.type in ('note_off', 'note_on') and sounding.get((m.channel, m.note)):
            i = sounding[(m.channel, m.note)].pop(0)
            out[i][2] = t * 1000.0 - out[i][0]
    return out


def relative(ons):
    t0 = ons[0][0]
    return [(ms - t0, c, n) for ms, c, n in ons]


class Import(InFolder):
    def played(self, midi):
        """What the imported song plays: imported, then exported from its playback."""
        song_path = self.path('imported.hbk')
        r = run('--import-midi', midi, song_path)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn('note lengths are not kept', r.stderr)  # they are, as records the song plays
        out = self.path('played.mid')
        r = run('--export-midi', song_path, out)
        self.assertEqual(r.returncode, 0, r.stderr)
        return note_ons(out)

    def assertSameNotes(self, expected, got, channels):
        self.assertEqual(len(got), len(expected))
        expected, got = relative(expected), relative(got)
        for (ems, ec, en), (gms, gc, gn) in zip(expected, got):
            self.assertEqual((channels[ec], en), (gc, gn), (expected, got))
            self.assertLessEqual(abs(ems - gms), TICK_MS, (ems, gms))

    def test_an_exported_song_comes_back_the_same(self):
        src = self.path('two.hbk')
        with open(src, 'wb') as f:
            f.write(song([('24', 0), ('@P1D', 0), ('28', 50), ('@P1U', 20), ('31', 30), ('@TonD', 2), ('19', 10),
                          ('@END', 0)], title='两只手'))
        first = self.path('first.mid')
        self.assertEqual(run('--export-midi', src, first).returncode, 0)
        again = self.played(first)
        # The same note-ons on the same channels at the same ticks.
        self.assertEqual([(round(ms / TICK_MS), c, n) for ms, c, n in relative(again)],
                         [(round(ms / TICK_MS), c, n) for ms, c, n in relative(note_ons(first))])
        r = run('--dump', self.path('imported.hbk'))
        self.assertIn('两只手', r.stdout)
        # The pedal goes out as control change 64 and comes back as the song's records.
        pedal = [m.value for m in mido.MidiFile(first) if m.type == 'control_change' and m.control == 64]
        self.assertEqual(pedal, [127, 0])
        self.assertIn('lower keyboard pedal down', r.stdout)
        self.assertIn('lower keyboard pedal up', r.stdout)

    def test_a_mido_file_with_drums_tempo_changes_and_a_third_part(self):
        mid = mido.MidiFile(type=1, ticks_per_beat=480)
        conductor = mido.MidiTrack([mido.MetaMessage('track_name', name='Duet', time=0),
                                    mido.MetaMessage('set_tempo', tempo=500000, time=0),
                                    mido.MetaMessage('set_tempo', tempo=300000, time=1920),
                                    mido.MetaMessage('set_tempo', tempo=750000, time=1920)])
        mid.tracks.append(conductor)

        def part(channel, program, notes, step, offset=0):
            track = mido.MidiTrack([mido.Message('program_change', channel=channel, program=program, time=0)])
            t = 0
            for i, n in enumerate(notes):
                at = offset + i * step
                track.append(mido.Message('note_on', channel=channel, note=n, velocity=90, time=at - t))
                track.append(mido.Message('note_off', channel=channel, note=n, velocity=0, time=step // 2))
                t = at + step // 2
            return track
        melody = [60, 62, 64, 65, 67, 69, 71, 72, 74, 76, 77, 79, 81, 83, 84, 86, 88]
        bass = [36, 43, 40, 47, 41, 48, 43, 50, 45]
        mid.tracks.append(part(0, 0, melody, 480))
        mid.tracks.append(part(3, 32, bass, 960, offset=240))  # between the melody's notes
        mid.tracks.append(part(9, 0, [36, 38, 42, 46] * 10, 240))  # drums: more notes than any part
        mid.tracks.append(part(5, 40, [70, 72], 3000))  # a third melodic part, left out
        src = self.path('duet.mid')
        mid.save(src)

        expected = [e for e in note_ons(src) if e[1] in (0, 3)]
        got = self.played(src)
        self.assertSameNotes(expected, got, {0: 0, 3: 1})
        r = run('--import-midi', src, self.path('x.hbk'))
        self.assertIn('drums', r.stderr)
        self.assertIn('1 more part', r.stderr)
        dump = run('--dump', self.path('x.hbk')).stdout
        self.assertIn('"Duet"', dump)
        self.assertIn('instrument 32', dump)  # the bass keeps its program on the upper keyboard

    def test_a_tune_written_by_abc2midi(self):
        if not shutil.which('abc2midi'):
            self.skipTest('abc2midi is not installed')
        abc = self.path('tune.abc')
        with open(abc, 'w') as f:
            f.write('X:1\nT:Scale Tune\nM:4/4\nL:1/8\nQ:1/4=100\nK:C\n'
                    'CDEF GABc|c2B2 A2G2|[CEG]4 z2 G2|FEDC C4|]\n')
        src = self.path('tune.mid')
        r = subprocess.run(['abc2midi', abc, '-o', src], capture_output=True, text=True)
        self.assertTrue(os.path.exists(src), r.stdout + r.stderr)
        expected = note_ons(src)
        self.assertGreaterEqual(len(expected), 20)
        got = self.played(src)
        channel = expected[0][1]
        # A chord is one group: its notes may come in another order.
        self.assertEqual(sorted((round(ms / TICK_MS), n) for ms, _, n in relative(got)),
                         sorted((round(ms / TICK_MS), n) for ms, _, n in relative(expected)))
        self.assertTrue(all(c == 0 for _, c, _ in got))  # one part: the lower keyboard
        self.assertEqual(channel, expected[-1][1])
        # Every note as long as in the file, to a tick or two (its start and end each round to one).
        want = sorted((round(ms / TICK_MS), n, length) for ms, n, length in note_lengths(src))
        have = sorted((round(ms / TICK_MS), n, length) for ms, n, length in note_lengths(self.path('played.mid')))
        for (_, n, wl), (_, hn, hl) in zip(want, have):
            self.assertEqual(n, hn)
            self.assertLessEqual(abs(wl - hl), 2 * TICK_MS, (want, have))

    def test_bad_files_are_refused_in_one_line(self):
        def chunk(kind, body):
            return kind + struct.pack('>I', len(body)) + body
        header = chunk(b'MThd', struct.pack('>HHH', 1, 1, 96))
        note = b'\x00\x90\x3c\x40\x60\x80\x3c\x00\x00\xff\x2f\x00'
        cases = {
            'empty.mid': b'',
            'text.mid': b'not a MIDI file at all',
            'truncated.mid': header + b'MTrk' + struct.pack('>I', 1000) + note,
            'wrong-length.mid': header + chunk(b'MTrk', b'\x00\xff\x03\x7fname' + note),
            'division-zero.mid': chunk(b'MThd', struct.pack('>HHH', 1, 1, 0)) + chunk(b'MTrk', note),
            'smpte-absurd.mid': chunk(b'MThd', struct.pack('>HHH', 1, 1, 0xC050)) + chunk(b'MTrk', note),
            'running-status.mid': header + chunk(b'MTrk', b'\x00\x3c\x40' + note),
            'drums-only.mid': header + chunk(b'MTrk', b'\x00\x99\x24\x40\x00\xff\x2f\x00'),
        }
        for name, data in cases.items():
            with open(self.path(name), 'wb') as f:
                f.write(data)
            out = self.path(name + '.hbk')
            r = run('--import-midi', self.path(name), out)
            self.assertNotEqual(r.returncode, 0, name)
            self.assertEqual(len(r.stderr.strip().splitlines()), 1, (name, r.stderr))
            self.assertFalse(os.path.exists(out), name)
            self.assertEqual([f for f in os.listdir(self.dir) if f.endswith('.importing')], [])

        # Ten thousand tracks: read in a moment, the one note kept.
        many = chunk(b'MThd', struct.pack('>HHH', 1, 10000, 96)) + chunk(b'MTrk', note) + \
            chunk(b'MTrk', b'\x00\xff\x2f\x00') * 9999
        with open(self.path('many.mid'), 'wb') as f:
            f.write(many)
        start = time.monotonic()
        r = run('--import-midi', self.path('many.mid'), self.path('many.hbk'))
        self.assertLess(time.monotonic() - start, 10)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('key 24', run('--dump', self.path('many.hbk')).stdout)

        # A song that already exists is replaced only by a complete new one.
        keep = self.path('keep.hbk')
        with open(keep, 'wb') as f:
            f.write(b'old song')
        self.assertNotEqual(run('--import-midi', self.path('truncated.mid'), keep).returncode, 0)
        with open(keep, 'rb') as f:
            self.assertEqual(f.read(), b'old song')

    def test_a_file_longer_than_a_song_gives_its_start_and_says_so_in_little_memory(self):
        def chunk(kind, body):
            return kind + struct.pack('>I', len(body)) + body

        def track(channel, notes):
            # Each note struck and released 10 ticks later, 24 keys in turn.
            turn = b''.join(bytes([10, 0x90 | channel, 48 + k, 90, 10, 0x80 | channel, 48 + k, 0]) for k in range(24))
            return chunk(b'MTrk', turn * (notes // 24) + b'\x00\xff\x2f\x00')

        def peak(*args):
            """Exit status, stderr and the peak memory in MB of one run."""
            with open(self.path('err'), 'w+') as err:
                p = subprocess.Popen([SONAREL, *args], stdout=subprocess.DEVNULL, stderr=err)
                _, status, usage = os.wait4(p.pid, 0)  # this run's own peak, not the largest of all so far
                p.returncode = os.waitstatus_to_exitcode(status)
                err.seek(0)
                return p.returncode, err.read(), usage.ru_maxrss / 1024

        def notes(song_path):
            with open(song_path, 'rb') as f:
                data = f.read()[108:]
            return sum(1 for i in range(0, len(data), 12) if data[i + 2:i + 7].strip().isdigit())

        # A million notes in one track, and in sixteen (one part each).
        files = {'one.mid': chunk(b'MThd', struct.pack('>HHH', 0, 1, 96)) + track(0, 1000008),
                 'sixteen.mid': chunk(b'MThd', struct.pack('>HHH', 1, 16, 96)) +
                 b''.join(track(c, 62496) for c in range(16))}
        for name, data in files.items():
            out = self.path(name + '.hbk')
            status, err, mb = peak('--import-midi', self.write(name, data), out)
            self.assertEqual(status, 2, (name, err))
            kept = notes(out)
            self.assertIn('the song holds the first %d notes' % kept, err)
            self.assertGreater(kept, 16000, name)  # two parts take turns: a switch record between
            self.assertLess(mb, MOST_MB, name)
            if name == 'one.mid':
                self.assertEqual(kept, 32743)
        # A jianpu text of more notes than a song holds, the same way.
        text = self.write('long.txt', ('上: ' + '1 ' * 40000 + '||').encode())
        status, err, _ = peak('--import-jianpu', text, self.path('long.hbk'))
        self.assertEqual(status, 2, err)
        # Its tempo and meter take the room of two notes, the switch to the
        # upper keyboard (the header selects the lower) of one.
        self.assertIn('the song holds the first 32740 notes', err)
        self.assertEqual(notes(self.path('long.hbk')), 32740)


class Jianpu(InFolder):
    def test_a_midi_file_from_an_independent_tool_is_written_down_with_its_key_meter_and_lengths(self):
        if not shutil.which('abc2midi'):
            self.skipTest('abc2midi is not installed')
        abc = self.path('tune.abc')
        with open(abc, 'w') as f:
            f.write('X:1\nT:Jianpu Tune\nM:3/4\nL:1/8\nQ:1/4=100\nK:D\nD2 EF G2|A4 d>c|B2 z2 D2|]\n')
        src = self.path('tune.mid')
        subprocess.run(['abc2midi', abc, '-o', src], capture_output=True, text=True)
        text = self.path('tune.txt')
        r = run('--jianpu', src, text)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('tempo 100 from the MIDI file', r.stderr)
        with open(text, encoding='utf-8') as f:
            lines = f.read().splitlines()
        for header in ('调: 1=D', '拍号: 3/4', '速度: 100'):
            self.assertIn(header, lines)
        # Dotted eighth and sixteenth, rests, an octave up: each as the file has it.
        self.assertIn("下: 1 2_ 3_ 4 | 5 - 1'_. 7__ | 6 0 1 ||", lines)
        # And the text plays the same notes as the file, a tick from their times.
        song = self.path('again.hbk')
        self.assertEqual(run('--import-jianpu', text, song).returncode, 0)
        self.assertEqual(run('--export-midi', song, self.path('again.mid')).returncode, 0)
        self.assertEqual([n for _, _, n in note_ons(self.path('again.mid'))], [n for _, _, n in note_ons(src)])


if __name__ == '__main__':
    unittest.main()
