#!/usr/bin/env python3
"""Measures Velmora against the mpg123 command line and prints one table.

Started by bench/run.sh inside the end-to-end tests' private desktop (Xvfb, PulseAudio
with the null sink velmora_null, trayer). Needs: VELMORA_BINARY, VELMORA_DECODE_BENCH,
VELMORA_DROP_BENCH, VELMORA_ANSWER_PROBE, VELMORA_BENCH_MEDIA (the generated tracks and the
1,000,000-entry list), VELMORA_E2E_DIR (scratch space).

Sound is timed at the sink: its monitor is recorded for the whole run and every
sample is mapped back to the monotonic clock, so a click or a launch can be compared
with the moment the sound at the sink changes. Every figure is the median of the runs.
Details of each run (and which threads woke up while idle) go to stderr.
"""

import array
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from audio_analysis import holes_at_changes  # noqa: E402  (the end-to-end tests' measure of a hole)

RATE = 44100
SINK_MONITOR = "velmora_null.monitor"
# Louder than this (about -40 dBFS) counts as sound; the null sink's silence is exact zeros.
SOUND_THRESHOLD = 328
WINDOW = RATE // 1000  # analysis window: 1 ms

QUICK = os.environ.get("VELMORA_BENCH_QUICK") == "1"
RUNS = 1 if QUICK else 3
CPU_SECONDS = 10 if QUICK else 30
IDLE_SECONDS = 5 if QUICK else 10
IDLE_SETTLE = 3.0  # the engine releases an idle output after 1.5 s
SAVE_TIMEOUT = 120  # a save that takes longer is reported as missing

BINARY = os.environ["VELMORA_BINARY"]
DECODE_BENCH = os.environ["VELMORA_DECODE_BENCH"]
OPEN_BENCH = os.environ["VELMORA_OPEN_BENCH"]
BARE_WINDOW = os.environ["VELMORA_BARE_WINDOW"]
DROP_BENCH = os.environ["VELMORA_DROP_BENCH"]
ANSWER_PROBE = os.environ["VELMORA_ANSWER_PROBE"]
MEDIA = os.environ["VELMORA_BENCH_MEDIA"]
SCRATCH = os.environ["VELMORA_E2E_DIR"]
# The servers that work for a player while it plays: the sound server and the X server.
SERVERS = {"cpu_pulse": os.environ.get("VELMORA_E2E_PULSE_PID"), "cpu_x": os.environ.get("VELMORA_E2E_XVFB_PID")}

LONG = os.path.join(MEDIA, "long_10min_128k.mp3")     # 10 minutes of sweep and noise
TONE_A = os.path.join(MEDIA, "tone_440.mp3")          # 4 s
TONE_B = os.path.join(MEDIA, "tone_880.mp3")          # 4 s
# A steady 440 Hz tone of 6 s cut into five tracks (lame, with its delay and padding in
# the header): played one after the other they sound as the uncut tone.
CUT_SECONDS = 1.2
CUT_TONE = [os.path.join(MEDIA, f"cut_tone_{i}.mp3") for i in range(5)]
SEEK = os.path.join(MEDIA, "silence_then_tone.mp3")   # 15 s silence, 15 s tone
THREE_HOURS = os.path.join(MEDIA, "three_hours.mp3")  # the 4-s tone 2,700 times
PICTURE = os.path.join(MEDIA, "picture_20mb.mp3")     # the 4-s tone behind a 20 MB picture
SEEK_SECONDS = 30.0
# 1,000,000 entries, each a distinct path to one of 1,000 links to the two tones
# (made by bench/run.sh and kept with the build).
LIST_1M = os.path.join(MEDIA, "list_1m.m3u")
MPRIS_NAME = "org.mpris.MediaPlayer2.velmora"

# Where the toolbar buttons and controls are, in window coordinates (the design layout:
# buttons 39 px apart from x 19, pictures at y 20; slider at y 75; list below it).
# Fixed places rather than the accessibility bridge, which would add work of its own to
# the process measured. A click that misses shows as a figure without a value.
TOOLBAR_X = {"打开": 19, "保存": 58, "播放": 96, "暂停": 135, "停止": 174}
TOOLBAR_Y = 20
SLIDER_Y = 75
SLIDER_LEFT, SLIDER_RIGHT = 8, 473
LIST_POINT = (240, 150)


def log(text):
    print(f"[bench {time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)


def now():
    return time.monotonic()


# ---------------------------------------------------------------- the sink

class SinkRecorder:
    """Records the null sink's monitor and maps sample positions to the monotonic clock."""

    def __init__(self):
        self.samples = array.array("h")
        self.lock = threading.Lock()
        # Clock time of sample 0: the smallest (arrival - samples before it) seen, i.e.
        # the delivery with the least delay. Sound is timed late by that delay at most.
        self.origin = None
        self.proc = subprocess.Popen(
            ["parec", f"--device={SINK_MONITOR}", "--raw", "--format=s16le", f"--rate={RATE}",
             "--channels=1", "--latency-msec=5"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        deadline = now() + 10
        while self.count() < RATE // 2:
            if now() > deadline:
                raise SystemExit("bench: the sink's monitor delivers nothing")
            time.sleep(0.05)

    def _read(self):
        fd = self.proc.stdout.fileno()
        pending = b""
        while True:
            data = os.read(fd, 4096)
            arrived = now()
            if not data:
                return
            data = pending + data
            usable = len(data) - len(data) % 2
            pending = data[usable:]
            chunk = array.array("h")
            chunk.frombytes(data[:usable])
            with self.lock:
                self.samples.extend(chunk)
                origin = arrived - len(self.samples) / RATE
                if self.origin is None or origin < self.origin:
                    self.origin = origin

    def count(self):
        with self.lock:
            return len(self.samples)

    def index_at(self, t):
        return max(0, int((t - self.origin) * RATE))

    def time_at(self, index):
        return self.origin + index / RATE

    def wait_until(self, t):
        while self.time_at(self.count()) < t:
            time.sleep(0.01)

    def _loud(self, index):
        chunk = self.samples[index:index + WINDOW]
        return bool(chunk) and max(max(chunk), -min(chunk)) > SOUND_THRESHOLD

    def onset_after(self, t, timeout):
        """Clock time of the first sound after t, or None within timeout seconds."""
        index = self.index_at(t)
        deadline = t + timeout
        while True:
            end = self.count() - WINDOW
            while index <= end:
                if self._loud(index):
                    return self.time_at(index)
                index += WINDOW
            if self.time_at(index) > deadline:
                return None
            time.sleep(0.02)

    def silence_after(self, t, timeout, hold=0.1):
        """Clock time from which the sink stays silent for `hold` seconds, or None."""
        index = self.index_at(t)
        start = None
        deadline = t + timeout
        while True:
            end = self.count() - WINDOW
            while index <= end:
                if self._loud(index):
                    start = None
                else:
                    if start is None:
                        start = index
                    if (index - start) / RATE >= hold:
                        return self.time_at(start)
                index += WINDOW
            if self.time_at(index) > deadline:
                return None
            time.sleep(0.02)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()

    def pause(self):
        """Stops recording: a recording asks the sink to wake every few milliseconds,
        which would count in the players' and the sound server's CPU. resume() records
        afresh."""
        self.stop()
        self.thread.join()

    def resume(self):
        self.__init__()


# ---------------------------------------------------------------- processes

def task_ids(pid):
    try:
        return os.listdir(f"/proc/{pid}/task")
    except OSError:
        return []


def read_text(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def cpu_ns(pid):
    """CPU time of all threads, in nanoseconds (schedstat: no tick rounding)."""
    total = 0
    for tid in task_ids(pid):
        fields = read_text(f"/proc/{pid}/task/{tid}/schedstat").split()
        if fields:
            total += int(fields[0])
    return total


def thread_stats(pid):
    """Per thread: {(tid, name): (CPU ns, voluntary + involuntary context switches)}."""
    result = {}
    for tid in task_ids(pid):
        fields = read_text(f"/proc/{pid}/task/{tid}/schedstat").split()
        count = 0
        for line in read_text(f"/proc/{pid}/task/{tid}/status").splitlines():
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                count += int(line.split()[1])
        name = read_text(f"/proc/{pid}/task/{tid}/comm").strip()
        result[(tid, name)] = (int(fields[0]) if fields else 0, count)
    return result


def status_kb(pid, field):
    for line in read_text(f"/proc/{pid}/status").splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return None


def measure_idle(pid, seconds, threads_cpu=None):
    """(% of a core, wake-ups per second) over `seconds`; logs what each thread did and,
    given a dict, fills it with each thread's share: {(tid, name): % of a core}."""
    before = thread_stats(pid)
    t0 = now()
    time.sleep(seconds)
    after = thread_stats(pid)
    elapsed = now() - t0
    cpu = wakeups = 0
    threads = []
    for key, (c1, w1) in after.items():
        c0, w0 = before.get(key, (0, 0))
        cpu += c1 - c0
        wakeups += w1 - w0
        if threads_cpu is not None:
            threads_cpu[key] = 100.0 * (c1 - c0) / 1e9 / elapsed
        if c1 != c0 or w1 != w0:
            threads.append(f"{key[1]}({key[0]}) {100.0 * (c1 - c0) / 1e9 / elapsed:.2f}% "
                           f"{(w1 - w0) / elapsed:.1f}/s")
    gone = [f"{name}({tid})" for tid, name in before if (tid, name) not in after]
    log(f"  pid {pid} over {elapsed:.1f} s, by thread: {', '.join(threads) or 'nothing'}"
        + (f"; ended: {', '.join(gone)}" if gone else ""))
    return 100.0 * cpu / 1e9 / elapsed, wakeups / elapsed


def log_memory(pid):
    fields = ("VmHWM", "VmRSS", "RssAnon", "RssFile", "RssShmem")
    rollup = {}
    for line in read_text(f"/proc/{pid}/smaps_rollup").splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[2] == "kB":
            rollup[parts[0].rstrip(":")] = int(parts[1])
    private = rollup.get("Private_Clean", 0) + rollup.get("Private_Dirty", 0)
    log("  memory: " + ", ".join(f"{f} {(status_kb(pid, f) or 0) / 1024:.1f} MB" for f in fields)
        + f", Pss {rollup.get('Pss', 0) / 1024:.1f} MB, private {private / 1024:.1f} MB")
    return rollup


# Processes started and not yet stopped: a stage that fails must not leave one
# playing into the next stage's measurements.
LIVE = set()


def stop_process(proc):
    LIVE.discard(proc)
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


# ---------------------------------------------------------------- the desktop

def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True).stdout


class MapWatcher:
    """Times the mapping of top-level windows (xev on the root window's substructure)."""

    def __init__(self):
        self.maps = []  # (clock time, window id); the X server reuses ids of closed clients
        self.lock = threading.Lock()
        self.proc = subprocess.Popen(["stdbuf", "-oL", "xev", "-root", "-event", "substructure"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.DEVNULL, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        in_map = False
        for line in self.proc.stdout:
            t = now()
            if line.startswith("MapNotify"):
                in_map = True
            elif in_map and "window 0x" in line:
                wid = int(line.split("window ")[1].split(",")[0], 16)
                with self.lock:
                    self.maps.append((t, wid))
                in_map = False
            elif not line.strip():
                in_map = False

    def mapped_at(self, wid, after, timeout=5):
        """First mapping of window `wid` after clock time `after`."""
        deadline = now() + timeout
        while now() < deadline:
            with self.lock:
                for t, w in self.maps:
                    if w == wid and t >= after:
                        return t
            time.sleep(0.01)
        return None

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


class AnswerProbe:
    """Times the answers of the player's window: bench/answer_probe asks for its MPRIS
    PlaybackStatus every 5 ms, which Qt answers on the window's thread, and prints when
    each question was asked and answered. The player registers its name just before its
    event loop starts, so the answers begin about when the window maps."""

    def __init__(self):
        self.answers = []  # (asked, answered), clock times
        self.lock = threading.Lock()
        self.proc = subprocess.Popen([ANSWER_PROBE, MPRIS_NAME], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, text=True)
        LIVE.add(self.proc)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            asked, answered = (int(v) / 1e9 for v in line.split())
            with self.lock:
                self.answers.append((asked, answered))

    def longest_silence(self, start, end, timeout=30):
        """(longest gap, longest call) in ms between clock times `start` and `end`: the
        longest time without an answer, counted from `start` to the first answer after
        `end` (waited for; a gap holds up to the 5 ms between questions), and the longest
        a single question waited. (None, None) when the window does not answer."""
        deadline = now() + timeout
        while True:
            with self.lock:
                answers = list(self.answers)
            after = [answered for _, answered in answers if answered >= end]
            if after:
                break
            if now() > deadline or self.proc.poll() is not None:
                return None, None
            time.sleep(0.01)
        times = [start] + [answered for _, answered in answers if start < answered < end] + [min(after)]
        gap = max(b - a for a, b in zip(times, times[1:]))
        long_gaps = [f"{(a - start) * 1000:.0f}+{(b - a) * 1000:.0f}" for a, b in zip(times, times[1:])
                     if b - a > 0.05]
        log(f"  {len(times) - 2} answers in {(end - start) * 1000:.0f} ms; gaps over 50 ms (start+length, ms): "
            f"{', '.join(long_gaps) or 'none'}")
        call = max((answered - asked for asked, answered in answers if answered > start and asked < end),
                   default=0.0)
        return gap * 1000.0, call * 1000.0

    def stop(self):
        stop_process(self.proc)


class Player:
    """One run of the real program, in a folder of its own with its own mp3.m3u."""

    def __init__(self, watcher, tracks=None, playlist_bytes=None, playlist_file=None):
        self.dir = tempfile.mkdtemp(prefix="app.", dir=SCRATCH)
        self.binary = os.path.join(self.dir, "velmora")
        shutil.copy2(BINARY, self.binary)
        self.playlist = os.path.join(self.dir, "mp3.m3u")
        if playlist_file is not None:
            shutil.copyfile(playlist_file, self.playlist)
        else:
            if playlist_bytes is None:
                playlist_bytes = m3u_bytes((os.path.splitext(os.path.basename(t))[0], t) for t in tracks)
            with open(self.playlist, "wb") as f:
                f.write(playlist_bytes)
        self.watcher = watcher
        self.window = None
        self.log = open(os.path.join(self.dir, "velmora.log"), "wb")
        self.launched = now()
        self.proc = subprocess.Popen([self.binary], stdout=self.log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, cwd=self.dir)
        self.pid = self.proc.pid
        LIVE.add(self.proc)

    def wait_window(self, timeout=30):
        """Clock time at which the main window was mapped."""
        deadline = now() + timeout
        while now() < deadline:
            if self.proc.poll() is not None:
                raise SystemExit(f"bench: the player exited ({self.proc.returncode}) before its window showed")
            out = xdotool("search", "--maxdepth", 1, "--onlyvisible", "--all", "--pid", self.pid,
                          "--name", "^Velmora")
            if out.split():
                self.window = int(out.split()[0])
                break
            time.sleep(0.02)
        else:
            raise SystemExit("bench: no window captioned Velmora")
        mapped = self.watcher.mapped_at(self.window, self.launched)
        if mapped is None:
            raise SystemExit("bench: the window's mapping was not seen")
        geometry = xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in geometry.split())
        self.x, self.y = int(values["X"]), int(values["Y"])
        return mapped

    def move_to(self, x, y):
        xdotool("mousemove", "--sync", self.x + x, self.y + y)

    def click(self, x, y, button=1):
        """Clicks at window coordinates; returns the clock time just before the click."""
        self.move_to(x, y)
        t = now()
        xdotool("click", button)
        return t

    def toolbar(self, caption):
        return self.click(TOOLBAR_X[caption], TOOLBAR_Y)

    def seek_to(self, fraction):
        # The middle button puts the slider where it is clicked (a left click pages).
        return self.click(int(SLIDER_LEFT + fraction * (SLIDER_RIGHT - SLIDER_LEFT)), SLIDER_Y, button=2)

    def popup_item(self, index, count):
        """Right-clicks the list and chooses item `index` (from 0) of its `count` items."""
        self.click(*LIST_POINT, button=3)
        deadline = now() + 5
        while now() < deadline:
            ids = [int(w) for w in xdotool("search", "--maxdepth", 1, "--onlyvisible", "--all", "--pid", self.pid,
                                           "--class", "^velmora$").split()]
            menus = [w for w in ids if w != self.window]
            if menus:
                break
            time.sleep(0.02)
        else:
            raise SystemExit("bench: the list's pop-up menu did not show")
        values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", menus[0]).split())
        x, y, height = int(values["X"]), int(values["Y"]), int(values["HEIGHT"])
        xdotool("mousemove", "--sync", x + 30, y + int(height * (index + 0.5) / count))
        t = now()
        xdotool("click", 1)
        return t

    def wait_settled(self, after, quiet=0.2, share=0.05, timeout=60):
        """Start of the first `quiet` seconds after `after` in which the process used less
        than `share` of a core."""
        samples = []
        deadline = now() + timeout
        while now() < deadline:
            samples.append((now(), cpu_ns(self.pid)))
            while len(samples) > 1 and samples[-1][0] - samples[1][0] >= quiet:
                samples.pop(0)
            t0, c0 = samples[0]
            t1, c1 = samples[-1]
            if t0 >= after and t1 - t0 >= quiet and (c1 - c0) / 1e9 < share * (t1 - t0):
                return t0
            time.sleep(0.01)
        return None

    def stop(self):
        stop_process(self.proc)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def m3u_bytes(entries):
    lines = ["#EXTM3U"]
    for title, path in entries:
        lines += [f"#EXTINF:235,{title}", path]
    return ("\r\n".join(lines) + "\r\n").encode("gb18030")


def mpg123(*args, stdin=None):
    proc = subprocess.Popen(["mpg123", "-q", "-o", "pulse", *args], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, stdin=stdin or subprocess.DEVNULL)
    LIVE.add(proc)
    return proc


# ---------------------------------------------------------------- the figures

results = {}  # key -> {"velmora": [...], "mpg123": [...]}


def note(key, who, value):
    results.setdefault(key, {}).setdefault(who, [])
    if value is not None:
        results[key][who].append(value)
    log(f"{key} / {who}: {value if value is not None else 'no value'}")


def median(key, who):
    values = results.get(key, {}).get(who, [])
    return statistics.median(values) if values else None


def ms(a, b):
    return None if a is None or b is None else (b - a) * 1000.0


def bench_decode():
    for _ in range(RUNS):
        out = subprocess.run([DECODE_BENCH, LONG], capture_output=True, text=True, check=True).stdout
        note("decode", "velmora", float(out.split()[0]))
        t0 = now()
        subprocess.run(["mpg123", "-q", "-t", LONG], check=True)
        note("decode", "mpg123", now() - t0)
        took, stall, _ = subprocess.run([OPEN_BENCH, THREE_HOURS], capture_output=True, text=True,
                                        check=True).stdout.split()
        note("open_3h", "velmora", float(took))
        note("open_3h_stall", "velmora", float(stall))
        took, _, peak = subprocess.run([OPEN_BENCH, PICTURE], capture_output=True, text=True,
                                       check=True).stdout.split()
        note("open_picture", "velmora", float(took))
        note("open_picture_peak", "velmora", float(peak))


def gaps_between(recorder, first_onset, who):
    """Notes the longest hole (ms) at any change between the cut tone's tracks, and how
    many changes were measured: the player goes round the list, to the first track again."""
    tracks = [CUT_SECONDS] * (len(CUT_TONE) + 1)
    recorder.wait_until(first_onset + sum(tracks) + 0.2)
    start = recorder.index_at(first_onset - 0.1)
    with recorder.lock:
        samples = [v / 32768.0 for v in recorder.samples[start:recorder.index_at(first_onset + sum(tracks) + 0.2)]]
    changes = holes_at_changes(samples, RATE, tracks, 0.0)
    if not changes:
        note("gap", who, None)
        return
    log(f"  {who}: holes at the track changes (ms): {[round(hole * 1000, 1) for _, hole in changes]}")
    note("gap", who, max(hole for _, hole in changes) * 1000)
    note("gap_changes", who, len(changes))


def bare_window_mapped(watcher, *args):
    """Launch to mapped window of a bare Qt main window, in ms; notes its peak RSS once
    it has painted."""
    launched = now()
    proc = subprocess.Popen([BARE_WINDOW, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    try:
        deadline = now() + 30
        while now() < deadline and proc.poll() is None:
            out = xdotool("search", "--maxdepth", 1, "--onlyvisible", "--all", "--pid", proc.pid,
                          "--name", "^bare window$").split()
            if out:
                mapped = watcher.mapped_at(int(out[0]), launched)
                time.sleep(0.5)
                note("bare_text_hwm" if args else "bare_hwm", "qt", status_kb(proc.pid, "VmHWM") / 1024)
                return ms(launched, mapped)
            time.sleep(0.02)
        return None
    finally:
        stop_process(proc)


def bench_startup(watcher, recorder):
    for _ in range(RUNS):
        note("bare_mapped", "qt", bare_window_mapped(watcher))
        bare_window_mapped(watcher, "--text")
        time.sleep(0.3)
        player = Player(watcher, CUT_TONE)
        mapped = player.wait_window()
        note("mapped", "velmora", ms(player.launched, mapped))
        first = recorder.onset_after(player.launched, 10)
        note("first_sound", "velmora", ms(player.launched, first))
        if first is not None:
            gaps_between(recorder, first, "velmora")
        player.stop()
        time.sleep(0.5)

        launched = now()
        proc = mpg123(*CUT_TONE, CUT_TONE[0])
        first = recorder.onset_after(launched, 10)
        note("first_sound", "mpg123", ms(launched, first))
        if first is not None:
            gaps_between(recorder, first, "mpg123")
        stop_process(proc)
        time.sleep(0.5)


def note_cpu_and_memory(pid, who):
    """Notes the CPU of `pid` over CPU_SECONDS of playback and its memory; returns the
    CPU of each thread."""
    threads = {}
    servers = {key: cpu_ns(server) for key, server in SERVERS.items() if server}
    t0 = now()
    cpu, _ = measure_idle(pid, CPU_SECONDS, threads)
    elapsed = now() - t0
    note("cpu", who, cpu)
    total = cpu
    for key, before in servers.items():
        share = 100.0 * (cpu_ns(SERVERS[key]) - before) / 1e9 / elapsed
        note(key, who, share)
        total += share
    note("cpu_all", who, total)
    note("pss", who, log_memory(pid).get("Pss", 0) / 1024)
    note("hwm", who, status_kb(pid, "VmHWM") / 1024)
    note("anon", who, status_kb(pid, "RssAnon") / 1024)
    return threads


def bench_playback(watcher, recorder):
    for _ in range(RUNS):
        # Not recorded while it starts and plays: PulseAudio sets a stream's buffering up
        # for how the sink runs when the stream starts, and a recording makes it run fast.
        recorder.pause()
        player = Player(watcher, [LONG, TONE_A])
        player.wait_window()
        time.sleep(3)
        threads = note_cpu_and_memory(player.pid, "velmora")
        recorder.resume()
        if recorder.onset_after(now(), 5) is None:
            raise SystemExit("bench: the long track is not heard")
        # The main thread runs the window; the engine's worker (a plain thread, so it
        # keeps the program's name) decodes and writes to libout123.
        note("cpu_gui", "velmora", sum(v for (tid, name), v in threads.items() if tid == str(player.pid)))
        note("cpu_decode", "velmora", sum(v for (tid, name), v in threads.items()
                                           if tid != str(player.pid) and name == "velmora"))

        clicked = player.toolbar("暂停")
        note("pause", "velmora", ms(clicked, recorder.silence_after(clicked, 3)))
        time.sleep(IDLE_SETTLE)
        cpu, wakeups = measure_idle(player.pid, IDLE_SECONDS)
        note("idle_paused_cpu", "velmora", cpu)
        note("idle_paused_wakeups", "velmora", wakeups)

        clicked = player.toolbar("播放")
        note("resume", "velmora", ms(clicked, recorder.onset_after(clicked, 3)))
        time.sleep(1)
        clicked = player.toolbar("停止")
        note("stop", "velmora", ms(clicked, recorder.silence_after(clicked, 3)))
        time.sleep(IDLE_SETTLE)
        cpu, wakeups = measure_idle(player.pid, IDLE_SECONDS)
        note("idle_stopped_cpu", "velmora", cpu)
        note("idle_stopped_wakeups", "velmora", wakeups)
        player.stop()

        recorder.pause()
        proc = mpg123(LONG)
        time.sleep(3)
        threads = note_cpu_and_memory(proc.pid, "mpg123")
        recorder.resume()
        if recorder.onset_after(now(), 5) is None:
            raise SystemExit("bench: mpg123 is not heard")
        note("cpu_decode", "mpg123", sum(v for (tid, name), v in threads.items() if tid == str(proc.pid)))
        stop_process(proc)
        time.sleep(0.5)


def bench_seek(watcher, recorder):
    player = Player(watcher, [SEEK, TONE_A])
    player.wait_window()
    time.sleep(1.5)
    for _ in range(RUNS):
        if recorder.silence_after(now() - 0.3, 1, hold=0.2) is None:
            raise SystemExit("bench: the first half of the seek track is not silent")
        clicked = player.seek_to(0.75)
        note("seek", "velmora", ms(clicked, recorder.onset_after(clicked, 3)))
        time.sleep(1)
        player.seek_to(0.1)
        time.sleep(1.5)
    player.stop()
    time.sleep(0.5)

    # mpg123's remote control: each run loads the track afresh (playing from its silent
    # start), jumps into the tone, then pauses.
    proc = mpg123("-R", stdin=subprocess.PIPE)

    def send(command):
        t = now()
        proc.stdin.write(f"{command}\n".encode())
        proc.stdin.flush()
        return t

    for _ in range(RUNS):
        send(f"LOAD {SEEK}")
        time.sleep(1.5)
        if recorder.silence_after(now() - 0.3, 1, hold=0.2) is None:
            raise SystemExit("bench: mpg123 does not play the seek track's silent start")
        t = send(f"JUMP {SEEK_SECONDS * 0.75:.0f}s")
        note("seek", "mpg123", ms(t, recorder.onset_after(t, 3)))
        time.sleep(1)
        t = send("PAUSE")
        note("pause", "mpg123", ms(t, recorder.silence_after(t, 3)))
        time.sleep(0.5)
    send("QUIT")
    stop_process(proc)


def bench_big_list(watcher):
    entries = [("晨曦 00000", TONE_A)]
    entries += [(f"曲目 {i:05d} 演唱者", f"/音乐/专辑 {i // 12:04d}/曲目 {i:05d}.mp3") for i in range(1, 100000)]
    big_list(watcher, "big", playlist_bytes=m3u_bytes(entries))


def bench_big_list_1m(watcher):
    if not os.path.exists(LIST_1M):
        raise SystemExit(f"bench: {LIST_1M} is missing (bench/run.sh makes it)")
    big_list(watcher, "big1m", playlist_file=LIST_1M)


def big_list(watcher, key, **playlist):
    """Launches the player on a big automatic list, then saves it with 保存: launch to
    mapped and to settled, resident and peak memory, the save, and the longest the
    window did not answer from its mapping until settled and during the save. Work done
    before the window maps shows in launch to mapped alone: no window, no question."""
    for _ in range(RUNS):
        probe = AnswerProbe()
        try:
            player = Player(watcher, **playlist)
            mapped = player.wait_window(timeout=120)
            note(f"{key}_mapped", "velmora", ms(player.launched, mapped))
            settled = player.wait_settled(mapped)
            note(f"{key}_settled", "velmora", ms(player.launched, settled))
            # On a shared machine the CPU time tells the player's own work from waiting.
            log(f"  CPU used until settled: {cpu_ns(player.pid) / 1e6:.0f} ms")
            if settled is not None:
                gap, call = probe.longest_silence(mapped, settled)
                note(f"{key}_settle_stall", "velmora", gap)
                log(f"  longest single question until settled: {fmt(call, 1)} ms")
            note(f"{key}_rss", "velmora", status_kb(player.pid, "VmRSS") / 1024)
            note(f"{key}_anon", "velmora", status_kb(player.pid, "RssAnon") / 1024)
            note(f"{key}_hwm", "velmora", status_kb(player.pid, "VmHWM") / 1024)
            log_memory(player.pid)

            before = os.stat(player.playlist)
            clicked = player.popup_item(3, 6)  # 保存
            saved = None
            deadline = now() + SAVE_TIMEOUT
            while now() < deadline:
                st = os.stat(player.playlist)
                if (st.st_ino, st.st_mtime_ns, st.st_size) != (before.st_ino, before.st_mtime_ns, before.st_size):
                    saved = now()
                    break
                time.sleep(0.001)
            note(f"{key}_save", "velmora", ms(clicked, saved))
            log(f"  CPU used until saved: {cpu_ns(player.pid) / 1e6:.0f} ms")
            if saved is not None:
                gap, call = probe.longest_silence(clicked, saved)
                note(f"{key}_save_stall", "velmora", gap)
                log(f"  longest single question during the save: {fmt(call, 1)} ms")
                with open(player.playlist, "rb") as f:
                    lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))
                log(f"  saved list: {lines} lines ({(lines - 1) // 2} entries)")
            # Once the window answers again after the save, the save's work is done.
            note(f"{key}_hwm_saved", "velmora", status_kb(player.pid, "VmHWM") / 1024)
            log_memory(player.pid)
            player.stop()
        finally:
            probe.stop()


def bench_drop():
    """10,000 files dropped onto the list, then a folder of them: until all are in the
    list, and the longest time the window did not answer meanwhile (ms)."""
    for _ in range(RUNS):
        out = subprocess.run([DROP_BENCH], capture_output=True, text=True, check=True, timeout=300).stdout
        for line in out.splitlines():
            kind, ready, stall = line.split()
            note(f"drop_{kind}", "velmora", float(ready))
            note(f"drop_{kind}_stall", "velmora", float(stall))
            log(f"  drop of {kind}: all in the list after {ready} ms, longest stall {stall} ms")


# ---------------------------------------------------------------- the table

def fmt(value, digits):
    return "—" if value is None else f"{value:.{digits}f}"


def main():
    log(f"{'quick' if QUICK else 'full'} run: {RUNS} run(s) per figure")
    load_before = os.getloadavg()[0]
    watcher = MapWatcher()
    recorder = SinkRecorder()
    failed = []
    try:
        stages = [("decode", "decode speed", bench_decode),
                  ("startup", "start-up and gap", lambda: bench_startup(watcher, recorder)),
                  ("playback", "playback, pause and idle", lambda: bench_playback(watcher, recorder)),
                  ("seek", "seek", lambda: bench_seek(watcher, recorder)),
                  ("biglist", "100,000 entries", lambda: bench_big_list(watcher)),
                  ("biglist1m", "1,000,000 entries naming files", lambda: bench_big_list_1m(watcher)),
                  ("drop", "drop of 10,000 files", bench_drop)]
        only = os.environ.get("VELMORA_BENCH_ONLY")
        for key, name, stage in stages:
            if only and key not in only.split(","):
                continue
            log(f"--- {name}")
            try:
                stage()
            except (Exception, SystemExit) as error:  # the other stages still run
                log(f"stage {key} failed: {error}")
                failed.append(key)
                for proc in list(LIVE):
                    stop_process(proc)
    finally:
        recorder.stop()
        watcher.stop()

    mpg_cpu = median("cpu", "mpg123")
    mpg_all = median("cpu_all", "mpg123")
    rows = []

    def row(label, key, digits, target, passed, with_mpg123=True, ratio=False):
        ours = median(key, "velmora")
        theirs = median(key, "mpg123") if with_mpg123 else None
        r = "—"
        if ratio and ours is not None and theirs:
            r = f"{ours / theirs:.2f}x"
        verdict = "—" if passed is None or ours is None else ("PASS" if passed(ours) else "MISS")
        rows.append((label, fmt(ours, digits), fmt(theirs, digits) if with_mpg123 else "—", r, target, verdict))

    row("Decode 10-min 128 kbps file (s)", "decode", 2, "—", None, ratio=True)
    row("Open a 3-hour track (ms)", "open_3h", 0, "—", None, False)
    row("  longest the window stalls meanwhile (ms)", "open_3h_stall", 0, "≤ 50 ms", lambda v: v <= 50, False)
    row("Open a track behind a 20 MB picture (ms)", "open_picture", 2, "—", None, False)
    row("  peak memory the open adds (MB)", "open_picture_peak", 1, "—", None, False)
    row("Playback CPU over %d s (%% of a core)" % CPU_SECONDS, "cpu", 2,
        "≤ 1.5x mpg123 (≈0.45%)", (lambda v: v <= 1.5 * mpg_cpu) if mpg_cpu else None, ratio=True)
    row("  decoding and output thread alone", "cpu_decode", 2, "—", None, ratio=True)
    row("  window (main) thread alone", "cpu_gui", 2, "—", None, False)
    row("  sound server meanwhile", "cpu_pulse", 2, "—", None, ratio=True)
    row("  X server meanwhile", "cpu_x", 2, "—", None, ratio=True)
    row("Player + sound server + X server", "cpu_all", 2, "≤ 1.5x mpg123",
        (lambda v: v <= 1.5 * mpg_all) if mpg_all else None, ratio=True)
    row("Peak RSS while playing, VmHWM (MB)", "hwm", 1, "< 35 MB", lambda v: v < 35, ratio=True)
    row("  of which private (RssAnon, MB)", "anon", 1, "—", None, ratio=True)
    row("  proportional share (PSS, MB)", "pss", 1, "—", None, ratio=True)
    rows.append(("  floor: empty Qt window (VmHWM, MB)", fmt(median("bare_hwm", "qt"), 1), "—", "—", "—", "—"))
    rows.append(("  floor: Qt window, one line of Chinese (MB)", fmt(median("bare_text_hwm", "qt"), 1), "—", "—", "—",
                 "—"))
    row("Idle stopped: CPU (% of a core)", "idle_stopped_cpu", 3, "0.0%", lambda v: v < 0.05, False)
    row("Idle stopped: wake-ups per second", "idle_stopped_wakeups", 2, "none periodic", lambda v: v <= 0.1, False)
    row("Idle paused: CPU (% of a core)", "idle_paused_cpu", 3, "0.0%", lambda v: v < 0.05, False)
    row("Idle paused: wake-ups per second", "idle_paused_wakeups", 2, "none periodic", lambda v: v <= 0.1, False)
    row("Launch to window mapped (ms)", "mapped", 0, "≤ 50 ms", lambda v: v <= 50, False)
    rows.append(("  floor: empty Qt window, launch to mapped", fmt(median("bare_mapped", "qt"), 0), "—", "—", "—", "—"))
    row("Launch to first sound at the sink (ms)", "first_sound", 0, "—", None)
    row("100k list: launch to window mapped (ms)", "big_mapped", 0, "—", None, False)
    row("100k list: launch to settled window (ms)", "big_settled", 0, "< 500 ms", lambda v: v < 500, False)
    row("100k list: RSS when settled (MB)", "big_rss", 1, "< 60 MB", lambda v: v < 60, False)
    row("  of which private (RssAnon, MB)", "big_anon", 1, "—", None, False)
    row("  peak RSS until settled (VmHWM, MB)", "big_hwm", 1, "≤ 50 MB", lambda v: v <= 50, False)
    row("100k list: 保存 until written (ms)", "big_save", 0, "< 500 ms", lambda v: v < 500, False)
    row("  peak RSS after 保存 (VmHWM, MB)", "big_hwm_saved", 1, "—", None, False)  # a save holds the bytes it writes
    row("1M list: launch to window mapped (ms)", "big1m_mapped", 0, "—", None, False)
    row("1M list: launch to settled window (ms)", "big1m_settled", 0, "≤ 1000 ms", lambda v: v <= 1000, False)
    row("  longest the mapped window did not answer (ms)", "big1m_settle_stall", 0, "≤ 100 ms", lambda v: v <= 100, False)
    row("1M list: RSS when settled (MB)", "big1m_rss", 1, "—", None, False)
    row("  of which private (RssAnon, MB)", "big1m_anon", 1, "—", None, False)
    row("  peak RSS until settled (VmHWM, MB)", "big1m_hwm", 1, "≤ 150 MB", lambda v: v <= 150, False)
    row("1M list: 保存 until the file is replaced (ms)", "big1m_save", 0, "≤ 1500 ms", lambda v: v <= 1500, False)
    row("  longest the window did not answer (ms)", "big1m_save_stall", 0, "≤ 100 ms", lambda v: v <= 100, False)
    row("  peak RSS after 保存 (VmHWM, MB)", "big1m_hwm_saved", 1, "—", None, False)
    row("Drop 10,000 files: all in the list (ms)", "drop_files", 0, "—", None, False)
    row("  longest the window did not answer (ms)", "drop_files_stall", 0, "< 100 ms", lambda v: v < 100, False)
    row("Drop a folder of 10,000: all in the list (ms)", "drop_folder", 0, "—", None, False)
    row("  longest the window did not answer (ms)", "drop_folder_stall", 0, "< 100 ms", lambda v: v < 100, False)
    row("Pause to silence at the sink (ms)", "pause", 0, "≤ 50 ms", lambda v: v <= 50)
    row("Resume (播放 after 暂停) to sound (ms)", "resume", 0, "—", None, False)
    row("Stop (停止) to silence (ms)", "stop", 0, "—", None, False)
    row("Seek (slider click) to new sound (ms)", "seek", 0, "≤ 50 ms", lambda v: v <= 50)
    changes = median("gap_changes", "velmora")
    row("Hole at a track change, longest of %s (ms)" % fmt(changes, 0), "gap", 1, "0 ms", lambda v: v == 0)

    headers = ("Figure", "Velmora", "mpg123", "Ratio", "Target", "Result")
    widths = [max(display_width(r[i]) for r in rows + [headers]) for i in range(len(headers))]

    def line(cells):
        return "  ".join(pad(c, w) for c, w in zip(cells, widths)).rstrip()

    print()
    # Other work on the machine shows in every figure; the load says how much there was.
    print(f"Velmora benchmark ({'quick, 1 run' if QUICK else f'median of {RUNS} runs'}; "
          f"PulseAudio null sink, Xvfb; {os.cpu_count()} cores, load average "
          f"{load_before:.2f} before, {os.getloadavg()[0]:.2f} after)")
    print(line(headers))
    print(line(["-" * w for w in widths]))
    for r in rows:
        print(line(r))
    if failed:
        print(f"Stages that failed (see the log): {', '.join(failed)}")
    return 1 if failed else 0


def display_width(text):
    # CJK characters take two columns in a terminal.
    return sum(2 if ord(ch) > 0x2e80 else 1 for ch in text)


def pad(text, width):
    return text + " " * (width - display_width(text))


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sys.exit(main())
