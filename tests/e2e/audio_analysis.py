#!/usr/bin/env python3
"""Level and pitch of a 16-bit WAV recording, for the end-to-end tests.

  audio_analysis.py level WAV                 RMS level in dBFS of the whole file
  audio_analysis.py freq WAV                  dominant frequency in Hz (zero crossings of the loud part)
  audio_analysis.py timeline WAV [STEP]       one line per STEP seconds: start, dBFS, Hz, tone purity
  audio_analysis.py find-tone WAV HZ [options] start (s) of the first sustained stretch of that tone;
                                              exit status 1 when there is none
      --min-seconds S   how long the tone must last (default 0.5)
      --after S         ignore everything before S seconds (default 0)
      --min-db DB       quieter windows count as silence (default -40)
  audio_analysis.py silent-from WAV S [--hold H] [--min-db DB]
                                              first moment at or after S seconds from which
                                              the recording stays silent for H seconds (default
                                              0.4), in 5 ms steps; exit status 1 when never
  audio_analysis.py sound-from WAV S [--min-db DB]
                                              first moment at or after S seconds at which the
                                              recording is audible (5 ms steps); exit status 1
                                              when never
  audio_analysis.py holes WAV --tracks S,S,... [--after S]
                                              for a steady tone cut into tracks of those
                                              lengths (s) and played one after the other from
                                              the first sound at or after S: one line per track
                                              change, "change N at T s: HOLE ms" (0 when none),
                                              where a hole is 0.5 ms or more (4 samples at
                                              8 kHz) below 8 % of the tone's amplitude within
                                              0.1 s of the change; exit status 1 when any
  audio_analysis.py record RAW ANCHOR CMD...  runs CMD (a recorder writing raw 16-bit mono
                                              44.1 kHz to its output) until SIGTERM, keeps the
                                              samples in RAW and writes to ANCHOR the wall-clock
                                              time (s since the epoch) of the first sample

Pure Python on purpose: the test machines have no numpy. Good enough for the
sine tones of the fixtures; not a general pitch tracker.
"""

import argparse
import array
import math
import sys
import os
import signal
import subprocess
import time
import wave

SILENCE_DB = -120.0


def read_wav(path):
    """Returns (mono samples scaled to [-1, 1), sample rate)."""
    try:
        with wave.open(path, "rb") as wav:
            if wav.getsampwidth() != 2:
                raise wave.Error("not 16-bit")
            channels, rate = wav.getnchannels(), wav.getframerate()
            samples = array.array("h", wav.readframes(wav.getnframes()))
    except (OSError, EOFError, wave.Error) as error:
        raise SystemExit(f"{path}: not a readable 16-bit PCM WAV file ({error})")
    if sys.byteorder == "big":
        samples.byteswap()
    if channels > 1:
        samples = [sum(samples[i:i + channels]) / channels
                   for i in range(0, len(samples), channels)]
    return [s / 32768.0 for s in samples], rate


def rms_db(samples):
    if not samples:
        return SILENCE_DB
    power = sum(s * s for s in samples) / len(samples)
    return 10.0 * math.log10(power) if power > 0 else SILENCE_DB


def zero_crossing_hz(samples, rate):
    """Frequency from the spacing of rising zero crossings, interpolated between samples."""
    if len(samples) < 2:
        return 0.0
    mean = sum(samples) / len(samples)
    crossings = []
    previous = samples[0] - mean
    for i in range(1, len(samples)):
        current = samples[i] - mean
        if previous < 0.0 <= current:
            crossings.append(i - 1 + previous / (previous - current))
        previous = current
    if len(crossings) < 2:
        return 0.0
    return (len(crossings) - 1) * rate / (crossings[-1] - crossings[0])


def tone_purity(samples, rate, hz):
    """Share of the window's energy at hz (Goertzel); about 1 for a clean sine."""
    if not samples or hz <= 0:
        return 0.0
    coeff = 2.0 * math.cos(2.0 * math.pi * hz / rate)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coeff * s1 - s2, s1
    power = s1 * s1 + s2 * s2 - coeff * s1 * s2
    energy = sum(x * x for x in samples)
    return min(1.0, 2.0 * power / (len(samples) * energy)) if energy > 0 else 0.0


def windows(samples, rate, step):
    size = max(1, int(step * rate))
    for start in range(0, len(samples) - size + 1, size):
        yield start / rate, samples[start:start + size]


def loud_part(samples, threshold_db=-40.0, rate=44100):
    """The windows above the threshold, so silence around a tone doesn't skew its pitch."""
    kept = []
    for _, chunk in windows(samples, rate, 0.05):
        if rms_db(chunk) > threshold_db:
            kept.extend(chunk)
    return kept


def find_tone(samples, rate, hz, min_seconds, after, min_db, step=0.05):
    """Start of the first run of windows that are loud, near hz (±4 %) and mostly that tone."""
    run_start, run_length = None, 0.0
    for start, chunk in windows(samples, rate, step):
        if start < after:
            continue
        matches = (rms_db(chunk) > min_db
                   and abs(zero_crossing_hz(chunk, rate) - hz) <= 0.04 * hz
                   and tone_purity(chunk, rate, hz) >= 0.5)
        if not matches:
            run_start, run_length = None, 0.0
            continue
        if run_start is None:
            run_start = start
        run_length += step
        if run_length >= min_seconds - 1e-9:
            return run_start
    return None


def silent_from(samples, rate, start, hold, min_db, step=0.005):
    """First window start >= start after which every window for `hold` seconds is quiet."""
    size = max(1, int(step * rate))
    need = max(1, int(round(hold / step)))
    first = int(start * rate) // size
    quiet_run, run_start = 0, None
    for index in range(first, len(samples) // size):
        if rms_db(samples[index * size:(index + 1) * size]) < min_db:
            if quiet_run == 0:
                run_start = index
            quiet_run += 1
            if quiet_run >= need:
                return run_start * size / rate
        else:
            quiet_run = 0
    return None


def sound_from(samples, rate, start, min_db, step=0.005):
    size = max(1, int(step * rate))
    for index in range(int(start * rate) // size, len(samples) // size):
        if rms_db(samples[index * size:(index + 1) * size]) >= min_db:
            return index * size / rate
    return None


def longest_hole(samples, rate, start, end, share):
    """Longest run (s) of samples below `share` in [start, end) seconds."""
    longest = run = 0
    for s in samples[max(0, int(start * rate)):int(end * rate)]:
        run = run + 1 if abs(s) < share else 0
        longest = max(longest, run)
    return longest / rate


def holes_at_changes(samples, rate, tracks, after, around=0.1, share=0.08, min_hole=0.0005):
    """[(change time, hole length)] for each change between the tracks that follow the
    first sound at or after `after`. A tone that plays on without a break keeps every
    change where the track lengths put it, so 0.1 s either side is ample."""
    onset = sound_from(samples, rate, after, -40.0, step=0.001)
    if onset is None or onset < after + 0.01:
        return None  # no sound, or the recording began after it
    loud = sorted(abs(s) for s in samples[int(onset * rate):int((onset + sum(tracks)) * rate)])
    amplitude = loud[int(len(loud) * 0.99)] if loud else 0.0
    changes, at = [], onset
    for length in tracks[:-1]:
        at += length
        hole = longest_hole(samples, rate, at - around, at + around, share * amplitude)
        changes.append((at, hole if hole >= min_hole else 0.0))
    return changes


def record(raw_path, anchor_path, command, rate=44100):
    """Timestamps what the recorder delivers: a chunk that ends with sample n arrives no
    earlier than sample n was heard, so the smallest (arrival - n / rate) is the best
    estimate of when sample 0 was heard, late by the recorder's smallest delay only."""
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    recorder = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    anchor, received = None, 0
    with open(raw_path, "wb") as raw:
        while True:
            if stop and recorder.poll() is None:
                recorder.terminate()
            try:
                chunk = os.read(recorder.stdout.fileno(), 8192)
            except InterruptedError:
                continue
            if not chunk:
                break
            arrived = time.time()
            raw.write(chunk)
            received += len(chunk)
            estimate = arrived - (received // 2) / rate
            anchor = estimate if anchor is None else min(anchor, estimate)
    recorder.wait()
    with open(anchor_path, "w") as out:
        out.write(f"{anchor if anchor is not None else time.time():.6f}\n")
    return 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "record":
        if len(sys.argv) < 5:
            raise SystemExit("usage: audio_analysis.py record RAW ANCHOR CMD...")
        return record(sys.argv[2], sys.argv[3], sys.argv[4:])
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["level", "freq", "timeline", "find-tone",
                                                "silent-from", "sound-from", "holes"])
    parser.add_argument("wav")
    parser.add_argument("value", nargs="?", type=float,
                        help="timeline: window length in s; find-tone: frequency in Hz")
    parser.add_argument("--min-seconds", type=float, default=0.5)
    parser.add_argument("--after", type=float, default=0.0)
    parser.add_argument("--min-db", type=float, default=None)
    parser.add_argument("--hold", type=float, default=0.4)
    parser.add_argument("--tracks", default="")
    args = parser.parse_args()

    samples, rate = read_wav(args.wav)
    if args.command == "level":
        print(f"{rms_db(samples):.1f}")
    elif args.command == "freq":
        print(f"{zero_crossing_hz(loud_part(samples, rate=rate), rate):.1f}")
    elif args.command == "timeline":
        for start, chunk in windows(samples, rate, args.value or 0.25):
            hz = zero_crossing_hz(chunk, rate)
            print(f"{start:7.2f}s {rms_db(chunk):7.1f} dBFS {hz:8.1f} Hz"
                  f" purity {tone_purity(chunk, rate, hz):.2f}")
    elif args.command == "sound-from":
        start = sound_from(samples, rate, args.value or 0.0, -50.0 if args.min_db is None else args.min_db)
        if start is None:
            return 1
        print(f"{start:.3f}")
    elif args.command == "holes":
        changes = holes_at_changes(samples, rate, [float(t) for t in args.tracks.split(",") if t], args.after)
        if changes is None:
            print("no start of the sound in the recording")
            return 1
        for number, (at, hole) in enumerate(changes, 1):
            print(f"change {number} at {at:.3f} s: {hole * 1000:.1f} ms")
        return 1 if any(hole for _, hole in changes) else 0
    elif args.command == "silent-from":
        start = silent_from(samples, rate, args.value or 0.0, args.hold,
                            -50.0 if args.min_db is None else args.min_db)
        if start is None:
            return 1
        print(f"{start:.3f}")
    else:
        if not args.value:
            parser.error("find-tone needs a frequency")
        start = find_tone(samples, rate, args.value, args.min_seconds, args.after,
                          -40.0 if args.min_db is None else args.min_db)
        if start is None:
            return 1
        print(f"{start:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
