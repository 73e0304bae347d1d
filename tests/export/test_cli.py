"""sonarel --export-midi / --render / --dump / --help / --version, end to end."""
import os
import resource
import stat
import subprocess
import sys
import tempfile
import unittest

import mido

from songbytes import HEADER_RECORDS, InFolder, song

SONAREL = sys.argv.pop(1)


def run(*args):
    return subprocess.run([SONAREL, *args], capture_output=True, text=True, timeout=120)


def sox_stat(path, trim=None):
    cmd = ['sox', path, '-n']
    if trim:
        cmd += ['trim', str(trim[0]), str(trim[1])]
    out = subprocess.run(cmd + ['stat'], capture_output=True, text=True).stderr
    stats = {}
    for line in out.splitlines():
        if ':' in line:
            k, v = line.split(':', 1)
            try:
                stats[k.strip()] = float(v.split()[0])
            except ValueError:
                pass
    return stats


class SongTools(InFolder):
    def two_handed(self):
        # Lower keyboard: keys 24 and 28 together, 50 ticks later key 31;
        # then the upper keyboard (instrument 12): key 19, 30 ticks later.
        return self.write('two.hbk', song([
            ('24', 0), ('28', 50), ('31', 30),
            ('@TonD', 2), ('19', 10), ('@END', 0)], title='两只手'))

    def test_midi_export_matches_the_playback(self):
        src = self.two_handed()
        out = self.path('two.mid')
        r = run('--export-midi', src, out)
        self.assertEqual(r.returncode, 0, r.stderr)
        mid = mido.MidiFile(out)
        self.assertEqual(mid.type, 1)
        self.assertEqual(mid.ticks_per_beat, 50)
        # The title is stored as UTF-8; mido hands meta texts back as latin-1.
        names = [m.name.encode('latin-1').decode('utf-8') for t in mid.tracks for m in t if m.type == 'track_name']
        self.assertIn('两只手', names)
        ons = []
        programs = set()
        for track in mid.tracks:
            t = 0
            for m in track:
                t += m.time
                if m.type == 'note_on' and m.velocity > 0:
                    ons.append((t, m.channel, m.note, m.velocity))
                if m.type == 'program_change':
                    programs.add((m.channel, m.program))
        ons.sort()
        # Times in 10 ms ticks from the first key group; the switch to the
        # upper keyboard takes a tick of its own.
        t0 = ons[0][0]
        self.assertEqual([(t - t0, c, n) for t, c, n, _ in ons],
                         [(0, 0, 60), (0, 0, 64), (50, 0, 67), (81, 1, 55)])
        self.assertTrue(all(v == 127 for *_, v in ons))
        self.assertIn((0, 0), programs)
        self.assertIn((1, 12), programs)
        # Every note ends about a second after its strike, once.
        offs = []
        for track in mid.tracks:
            t = 0
            for m in track:
                t += m.time
                if m.type == 'note_off' or (m.type == 'note_on' and m.velocity == 0):
                    offs.append((m.channel, m.note, t))
        self.assertEqual(len(offs), 4)
        # timidity, a player nobody here wrote, makes sound of it.
        wav = self.path('timidity.wav')
        subprocess.run(['timidity', '-Ow', '-o', wav, out], capture_output=True, timeout=60)
        self.assertGreater(sox_stat(wav).get('RMS     amplitude', 0), 0.001)

    def test_a_song_keeps_its_tempo_meter_and_key_and_plays_as_without_them(self):
        # In D, at 120 in 3/4: quarters are 50 ticks.
        header = [r if i != 8 else ('@DiaZ', 2) for i, r in enumerate(HEADER_RECORDS)]
        body = [('@TonD', 1), ('24', 50), ('26', 50), ('28', 50), ('24', 25), ('26', 25), ('28', 10), ('@END', 0)]
        timed = self.write('timed.hbk', song(header + [('@SuDu', 120), ('@PaiH', '3/4')] + body,
                                             title='圆舞', author='佚名', header=False))
        plain = self.write('plain.hbk', song(header + body, title='圆舞', author='佚名', header=False))

        def exported(src):
            out = src[:-4] + '.mid'
            r = run('--export-midi', src, out)
            self.assertEqual(r.returncode, 0, r.stderr)
            mid = mido.MidiFile(out)
            t, ons = 0.0, []
            for m in mid:  # times in seconds, through the file's own tempo
                t += m.time
                if m.type == 'note_on' and m.velocity > 0:
                    ons.append((round(t, 3), m.note))
            return mid, ons

        mid, ons = exported(timed)
        metas = {m.type: m for m in mid.tracks[0] if m.is_meta}
        self.assertEqual(metas['set_tempo'].tempo, 500000)
        self.assertEqual((metas['time_signature'].numerator, metas['time_signature'].denominator), (3, 4))
        self.assertEqual(metas['key_signature'].key, 'D')
        self.assertEqual(metas['track_name'].name.encode('latin-1').decode('utf-8'), '圆舞')
        self.assertEqual(metas['copyright'].text.encode('latin-1').decode('utf-8'), '佚名')
        # The records change nothing of what plays: every note where it was.
        _, plain_ons = exported(plain)
        self.assertEqual(ons, plain_ons)
        self.assertEqual(len(ons), 6)
        self.assertIn('played at 120 quarter notes a minute', run('--dump', timed).stdout)

        def written(src):
            text = src[:-4] + '.txt'
            r = run('--jianpu', src, text)
            self.assertEqual(r.returncode, 0, r.stderr)
            return r.stderr, open(text, encoding='utf-8').read().splitlines()

        err, lines = written(timed)
        self.assertIn('tempo 120 from the song', err)
        for line in ('拍号: 3/4', '速度: 120', '调: 1=D'):
            self.assertIn(line, lines)
        err, lines = written(plain)  # an older song is written down as before: its tempo guessed
        self.assertIn('estimated', err)
        self.assertIn('拍号: 4/4', lines)
        # A text made into a song keeps them too, where a guess would say 90.
        tune = self.write('tune.txt', '1=C 3/4 \u2669=120\n上: 1 2 3 | 5 - - | 3 2 1 | 1 - - ||\n'.encode())
        made = self.path('tune.hbk')
        self.assertEqual(run('--import-jianpu', tune, made).returncode, 0)
        _, lines = written(made)
        for line in ('拍号: 3/4', '速度: 120'):
            self.assertIn(line, lines)

    def test_render_is_audible_during_notes_and_silent_after_the_tail(self):
        src = self.two_handed()
        out = self.path('two.wav')
        r = run('--render', src, out)
        self.assertEqual(r.returncode, 0, r.stderr)
        info = subprocess.run(['soxi', out], capture_output=True, text=True).stdout
        self.assertIn('44100', info)
        self.assertIn('16-bit', info)
        self.assertIn('Channels       : 2', info)
        length = float(subprocess.run(['soxi', '-D', out], capture_output=True, text=True).stdout)
        self.assertGreater(length, 2.0)
        self.assertLess(length, 6.0)
        self.assertGreater(sox_stat(out, (0.0, 0.5))['Maximum amplitude'], 0.05)
        self.assertLess(sox_stat(out, (length - 0.3, 0.3))['Maximum amplitude'], 0.01)

    def test_dump_lists_each_record(self):
        src = self.two_handed()
        r = run('--dump', src)
        self.assertEqual(r.returncode, 0, r.stderr)
        dashed = self.write('-two.hbk', open(src, 'rb').read())
        r2 = subprocess.run([SONAREL, '--dump', '--', '-two.hbk'], cwd=self.dir, capture_output=True, text=True)
        self.assertEqual(r2.returncode, 0, r2.stderr)  # "--" ends the options
        self.assertEqual(r2.stdout.replace(dashed, src), r.stdout)
        self.assertNotEqual(run('--dump', dashed.replace(self.dir + '/', '')).returncode, 0)
        self.assertIn('两只手', r.stdout)
        self.assertIn('立奏木琴', r.stdout)
        self.assertGreaterEqual(len(r.stdout.splitlines()), 20)

    def test_errors_say_one_line_and_fail(self):
        src = self.two_handed()
        empty = self.write('empty.hbk', b'')
        junk = self.write('junk.hbk', b'not a song at all')
        cases = [
            ('--export-midi', self.path('missing.hbk'), self.path('x.mid')),
            ('--export-midi', empty, self.path('x.mid')),
            ('--render', junk, self.path('x.wav')),
            ('--export-midi', src, self.path('no/such/dir/x.mid')),
            ('--render', src, self.path('no/such/dir/x.wav')),
            ('--dump', self.path('missing.hbk')),
            ('--export-midi', src),
            ('--bogus',),
        ]
        for args in cases:
            r = run(*args)
            self.assertNotEqual(r.returncode, 0, args)
            self.assertEqual(len(r.stderr.strip().splitlines()), 1, (args, r.stderr))
        self.assertFalse(os.path.exists(self.path('x.mid')))

    def test_an_existing_output_is_replaced_only_by_a_complete_one(self):
        out = self.write('keep.mid', b'old contents')
        r = run('--export-midi', self.path('missing.hbk'), out)
        self.assertNotEqual(r.returncode, 0)
        with open(out, 'rb') as f:
            self.assertEqual(f.read(), b'old contents')
        r = run('--export-midi', self.two_handed(), out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(mido.MidiFile(out).type, 1)

    def test_a_song_the_user_may_not_write_is_exported_and_rendered(self):
        # Songs are only read: one that is shared or in a system folder works.
        src = self.two_handed()
        os.chmod(src, 0o444)
        os.chmod(self.dir, 0o755)
        out = tempfile.TemporaryDirectory()
        self.addCleanup(out.cleanup)
        os.chmod(out.name, 0o777)
        # Root may write any file: the program then runs as nobody.
        user = 65534 if os.geteuid() == 0 else None
        env = dict(os.environ, HOME=out.name)
        env.pop('XDG_RUNTIME_DIR', None)

        def as_user(*args):
            return subprocess.run([SONAREL, *args], capture_output=True, text=True, timeout=120, user=user, env=env)

        if as_user('--version').returncode != 0:
            self.skipTest('the build folder cannot be run by another user')
        self.assertNotEqual(subprocess.run(['sh', '-c', 'echo >> "$0"', src], user=user,
                                           capture_output=True).returncode, 0, 'the song is writable')
        r = as_user('--export-midi', src, os.path.join(out.name, 'x.mid'))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sum(1 for m in mido.MidiFile(os.path.join(out.name, 'x.mid')) if m.type == 'note_on'
                             and m.velocity > 0), 4)
        r = as_user('--render', src, os.path.join(out.name, 'x.wav'))
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_no_tool_writes_over_its_input_nor_over_what_is_not_a_file(self):
        src = self.two_handed()
        link = self.path('link.hbk')
        os.symlink(src, link)
        mid = self.path('in.mid')
        self.assertEqual(run('--export-midi', src, mid).returncode, 0)
        fifo = self.path('pipe.mid')
        os.mkfifo(fifo)
        kept = {p: open(p, 'rb').read() for p in (src, mid)}
        cases = [
            (('--export-midi', src, src), 'it is the input file'),
            (('--render', src, link), 'it is the input file'),
            (('--import-midi', mid, mid), 'it is the input file'),
            (('--export-midi', src, fifo), 'is not a regular file'),
            (('--export-midi', self.dir, self.path('x.mid')), 'is a folder'),
            (('--export-midi', fifo, self.path('x.mid')), 'is not a regular file'),
            (('--dump', self.path('missing.hbk')), 'No such file or directory'),
        ]
        for args, reason in cases:
            r = run(*args)
            self.assertEqual(r.returncode, 1, args)
            # One line that says what is wrong, and nothing after it.
            self.assertRegex(r.stderr, '^sonarel: [^\\n]*' + reason + '\\n$', args)
        for path, data in kept.items():
            self.assertEqual(open(path, 'rb').read(), data, path)
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))

    @unittest.skipIf(os.environ.get('SONAREL_SANITIZED'), 'AddressSanitizer reserves more address space than the limit')
    def test_a_huge_dump_ends_soon_in_flat_memory(self):
        ended = self.write('ended.hbk', song([('24', 5), ('@END', 0)]))
        zeros = self.path('zeros.hbk')
        for path in (ended, zeros):
            with open(path, 'ab') as f:
                f.truncate(2 << 30)  # 2 GB, sparse

        def limited():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        for path, last in ((ended, r'^playback: ends at slot 25 \(end marker\)$'),
                           (zeros, r'^playback: stops at slot 10: tag is neither a setting nor a key number$')):
            r = subprocess.run([SONAREL, '--dump', path], capture_output=True, text=True, timeout=20,
                               preexec_fn=limited)
            self.assertEqual(r.returncode, 0, r.stderr)
            lines = r.stdout.splitlines()
            self.assertRegex(lines[-1], last)
            self.assertRegex(lines[-2], r'more slots, not listed$')
            self.assertLess(len(lines), 40)

    def test_help_and_version(self):
        r = run('--help')
        self.assertEqual(r.returncode, 0)
        self.assertIn('--export-midi', r.stdout)
        self.assertIn('--soundfont', r.stdout)
        r = run('--version')
        self.assertEqual(r.returncode, 0)
        self.assertRegex(r.stdout, r'^sonarel \d+\.\d+')


if __name__ == '__main__':
    unittest.main()
