"""make install into a staging folder and make deb, checked with the desktop's
own tools: the entry, the AppStream description, the song type, the icons,
the manual page; then the installed program plays a song named on its
command line, as a double-click in a file manager does."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))
sys.path.insert(0, os.path.join(HERE, '..', 'export'))
from songbytes import song  # noqa: E402
from x11session import Session, note_ons, wait_for  # noqa: E402

CMAKE, BUILD = sys.argv.pop(1), sys.argv.pop(1)
PREFIX = '/usr'
SKIP = 77


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, **kw)


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dest = tempfile.mkdtemp(prefix='sonarel-install-')
        r = run(CMAKE, '--install', BUILD, '--prefix', PREFIX, env=dict(os.environ, DESTDIR=cls.dest))
        assert r.returncode == 0, r.stdout + r.stderr
        cls.share = os.path.join(cls.dest, PREFIX.lstrip('/'), 'share')

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dest, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.share, *parts)

    def test_entry_description_and_manual_validate(self):
        desktop = self.path('applications', 'org.sonarel.Sonarel.desktop')
        r = run('desktop-file-validate', desktop)
        self.assertEqual((r.returncode, r.stdout), (0, ''), r.stdout)
        entry = open(desktop, encoding='utf-8').read()
        for line in ('Name=Sonarel', 'Name[zh_CN]=Sonarel 电子琴', 'Exec=sonarel %f', 'Icon=sonarel',
                     'Categories=AudioVideo;Audio;Music;', 'MimeType=application/x-sonarel-song;'):
            self.assertIn(line + '\n', entry)
        r = run('appstreamcli', 'validate', '--no-net', self.path('metainfo', 'org.sonarel.Sonarel.metainfo.xml'))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            icon = self.path('icons', 'hicolor', '%dx%d' % (size, size), 'apps', 'sonarel.png')
            self.assertEqual(run('file', '-b', icon).stdout.split(',')[1].strip(), '%d x %d' % (size, size))
        self.assertIn('SVG', run('file', '-b', self.path('icons', 'hicolor', 'scalable', 'apps', 'sonarel.svg')).stdout)
        # Every option of --help is in the manual page.
        manual = run('man', '-l', self.path('man', 'man1', 'sonarel.1.gz'), env=dict(os.environ, MANWIDTH='200'))
        self.assertEqual(manual.returncode, 0, manual.stderr)
        text = manual.stdout.replace('\u2010', '-').replace('\u2212', '-')
        helped = run(os.path.join(self.dest, 'usr', 'bin', 'sonarel'), '--help').stdout
        options = {w.rstrip(',') for w in helped.split() if w.startswith('--') and len(w) > 2}
        self.assertGreaterEqual(len(options), 8)
        for option in options:
            self.assertIn(option, text)

    def test_a_song_file_is_a_sonarel_song_and_opens_with_it(self):
        mime = self.path('mime')
        self.assertEqual(run('update-mime-database', mime).returncode, 0)
        self.assertEqual(run('update-desktop-database', self.path('applications')).returncode, 0)
        song_path = os.path.join(self.dest, 'my song.hbk')
        with open(song_path, 'wb') as f:
            f.write(song([('24', 0), ('@END', 0)]))
        # xdg-mime asks the desktop's own MIME database (GNOME's gio here).
        env = dict(os.environ, XDG_DATA_DIRS=self.share, XDG_DATA_HOME=os.path.join(self.dest, 'nohome'),
                   XDG_CURRENT_DESKTOP='GNOME')
        r = run('xdg-mime', 'query', 'filetype', song_path, env=env)
        self.assertEqual(r.stdout.strip(), 'application/x-sonarel-song', r.stderr)
        r = run('xdg-mime', 'query', 'default', 'application/x-sonarel-song', env=env)
        self.assertEqual(r.stdout.strip(), 'org.sonarel.Sonarel.desktop', r.stderr)

    def test_the_installed_program_plays_a_song_and_keeps_music_in_the_data_folder(self):
        home = os.path.join(self.dest, 'home')
        os.makedirs(home)
        env = dict(os.environ, HOME=home)
        env.pop('XDG_DATA_HOME', None)
        s = Session(os.path.join(self.dest, 'usr', 'bin', 'sonarel'), env=env, copy=False)
        try:
            tune = os.path.join(home, 'tune.hbk')
            with open(tune, 'wb') as f:
                f.write(song([('24', 0), ('28', 10), ('@END', 0)]))
            s.start(tune)
            self.assertTrue(wait_for(lambda: len(note_ons(s.read_trace())) >= 2, 10))
            self.assertEqual([n for _, _, n in note_ons(s.read_trace())], [60, 64])
            music = glob.glob(os.path.join(home, '.local', 'share', '*', 'Music'))
            self.assertEqual(len(music), 1, music)
            self.assertFalse(os.path.exists(os.path.join(self.dest, 'usr', 'bin', 'Music')))
        finally:
            s.close()


class Package(unittest.TestCase):
    def test_the_package_holds_the_files_and_lintian_finds_no_error(self):
        if not shutil.which('dpkg-deb') or not shutil.which('lintian'):
            self.skipTest('the packaging tools are not installed')
        out = tempfile.mkdtemp(prefix='sonarel-deb-')
        self.addCleanup(shutil.rmtree, out, True)
        r = run('cpack', '-G', 'DEB', '-B', out, cwd=BUILD)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        debs = glob.glob(os.path.join(out, '*.deb'))
        self.assertEqual(len(debs), 1, r.stdout)
        contents = run('dpkg-deb', '--contents', debs[0]).stdout
        for f in ('./usr/bin/sonarel', './usr/share/applications/org.sonarel.Sonarel.desktop',
                  './usr/share/metainfo/org.sonarel.Sonarel.metainfo.xml', './usr/share/mime/packages/sonarel.xml',
                  './usr/share/icons/hicolor/256x256/apps/sonarel.png',
                  './usr/share/icons/hicolor/scalable/apps/sonarel.svg', './usr/share/man/man1/sonarel.1.gz',
                  './usr/share/doc/sonarel/copyright'):
            self.assertIn(f, contents)
        # The song bank's folder name is not ASCII, which tar may list escaped.
        self.assertRegex(contents, r'\./usr/share/sonarel/\S+/molihua\.jianpu')
        depends = run('dpkg-deb', '--field', debs[0], 'Depends').stdout
        for needed in ('libfluidsynth3', 'libqt6widgets6', 'qt6-qpa-plugins', 'fluid-soundfont-gm', 'fonts-wqy-microhei'):
            self.assertIn(needed, depends)
        r = run('lintian', '--fail-on', 'error', debs[0])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertNotIn('E: ', r.stdout)


if __name__ == '__main__':
    for tool in ('desktop-file-validate', 'appstreamcli', 'update-mime-database', 'xdg-mime', 'Xvfb'):
        if not shutil.which(tool):
            print('skipped: %s is not installed' % tool)
            sys.exit(SKIP)
    unittest.main()
