"""What a user feels of the program on a desktop: how long it takes from
starting it to its window, what it costs while it waits for the player (with
a sound server and without one), how soon a key sounds through the sound
server, and how soon a real key's note-on goes out while a recording runs. Runs the real program in a private X server (Xvfb) against a private
PulseAudio server with a null sink, as make bench does."""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tests', 'e2e'))
from soundserver import PulseServer, available  # noqa: E402
from x11session import free_display  # noqa: E402

BUILD = sys.argv[1]
# SONAREL names another build of the program, to measure it the same way.
PROGRAM = os.environ.get('SONAREL', os.path.join(BUILD, 'sonarel'))
PROBE = os.path.join(BUILD, 'bench', 'startprobe')


def cpu_seconds(pid):
    # The scheduler's own count of time on a CPU, in nanoseconds, summed over
    # the threads: the clock-tick counts of /proc/PID/stat are too coarse for
    # a process that is meant to be almost idle.
    total = 0
    for tid in os.listdir('/proc/%d/task' % pid):
        try:
            with open('/proc/%d/task/%s/schedstat' % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # a thread that ended meanwhile
    return total / 1e9


def start(env):
    # The program keeps our stderr: reading it to its end would wait for the program.
    out = subprocess.run([PROBE, 'Sonarel', '20000', PROGRAM], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True)
    ms, pid = out.stdout.split()
    return float(ms), int(pid)


def stop(pid):
    os.kill(pid, 15)
    for _ in range(200):
        try:
            os.kill(pid, 0)
        except OSError:
            return
        time.sleep(0.02)
    os.kill(pid, 9)


def idle_cpu(env, seconds=10):
    _, pid = start(env)
    time.sleep(5)  # start-up settles: the steady state is what is measured
    before = cpu_seconds(pid)
    time.sleep(seconds)
    share = (cpu_seconds(pid) - before) / seconds * 100
    stop(pid)
    return share


def main():
    display = free_display()
    xvfb = subprocess.Popen(['Xvfb', display, '-screen', '0', '1024x768x24', '-nolisten', 'tcp', '-noreset'],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server = None
    try:
        time.sleep(1)
        if not available():
            print('desktop: PulseAudio is not installed; skipped')
            return 0
        server = PulseServer()
        env = dict(server.env, DISPLAY=display)
        env.pop('QT_QPA_PLATFORM', None)
        times = []
        for _ in range(5):
            ms, pid = start(env)
            times.append(ms)
            time.sleep(0.5)
            stop(pid)
        print('exec -> window visible, 5 starts with a sound server: median %.0f ms, max %.0f ms (target <= 300 ms)'
              % (statistics.median(times), max(times)))
        print('idle CPU over 10 s with a sound server: %.2f %% of a core (target <= 1 %%)' % idle_cpu(env))
        quiet = dict(env, XDG_RUNTIME_DIR=os.path.join(server.dir, 'none'), PULSE_SERVER='unix:/nonexistent')
        os.makedirs(quiet['XDG_RUNTIME_DIR'], mode=0o700, exist_ok=True)
        print('idle CPU over 10 s without a sound server: %.2f %% of a core (target <= 0.5 %%)' % idle_cpu(quiet))
        sys.stdout.flush()
        if 'SONAREL' in os.environ:
            return 0  # the sound probe below is this build's own
        # Key event -> sound, in the program's own code on the same server.
        bench = os.path.join(BUILD, 'bench', 'sonarel_bench')
        run = subprocess.run([bench, '--benchmark_filter=KeyToSound'], env=dict(server.env, QT_QPA_PLATFORM='offscreen'),
                             capture_output=True, text=True)
        # Key event -> note-on: real keys through the X server into a shown window.
        run2 = subprocess.run([bench, '--benchmark_filter=KeyToNoteOn'],
                              env=dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM='xcb'),
                              capture_output=True, text=True)
        for line in (run.stderr + run2.stderr).splitlines():
            if line.startswith('key event') or line.startswith('  before it'):
                print(line)
        return 0
    finally:
        if server:
            server.close()
        xvfb.terminate()
        xvfb.wait()


if __name__ == '__main__':
    sys.exit(main())
