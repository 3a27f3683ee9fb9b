#!/usr/bin/python3
"""Regenerates the 88 embedded piano samples in resources/piano/.

Each key from A0 to C8 (MIDI 21 to 108) is played on the acoustic grand piano
(program 0) of the FluidR3_GM SoundFont (Debian package fluid-soundfont-gm,
MIT licence) with the fluidsynth command line, mixed to mono, scaled by one
gain common to all keys (so their relative loudness stays natural), cut to
3 seconds with a short fade-out and encoded with lame as mono 64 kbit/s MP3.

Needs: fluidsynth, sox, lame and the SoundFont. Usage:
    tools/generate_piano_samples.py [--font PATH] [--out DIR]
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

FIRST_KEY, LAST_KEY = 21, 108
RATE = 44100
HOLD_SECONDS = 2.6      # key held, then released
LENGTH_SECONDS = 3.0    # length of each sample
FADE_SECONDS = 0.4      # fade-out at the end of each sample
VELOCITY = 100
TARGET_PEAK = 0.89      # loudest sample peak after the common gain
NAMES = ['C', 'Csharp', 'D', 'Dsharp', 'E', 'F', 'Fsharp', 'G', 'Gsharp', 'A', 'Asharp', 'B']


def note_name(key):
    return '%s%d' % (NAMES[key % 12], key // 12 - 1)


def quantity(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def one_note_midi(key):
    """A format-0 file: program 0, the key held HOLD_SECONDS, the file ending
    at LENGTH_SECONDS (480 ticks a beat at 120 BPM: 960 ticks a second)."""
    hold = int(HOLD_SECONDS * 960)
    end = int((LENGTH_SECONDS + 0.2) * 960)
    events = (quantity(0) + bytes([0xC0, 0x00])
              + quantity(0) + bytes([0x90, key, VELOCITY])
              + quantity(hold) + bytes([0x80, key, 0x00])
              + quantity(end - hold) + bytes([0xFF, 0x2F, 0x00]))
    header = b'MThd' + struct.pack('>IHHH', 6, 0, 1, 480)
    return header + b'MTrk' + struct.pack('>I', len(events)) + events


def wav_peak(path):
    with wave.open(path, 'rb') as w:
        assert w.getsampwidth() == 2
        frames = w.readframes(w.getnframes())
    values = struct.unpack('<%dh' % (len(frames) // 2), frames)
    return max(abs(v) for v in values) / 32768.0


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--font', default='/usr/share/sounds/sf2/FluidR3_GM.sf2')
    parser.add_argument('--out', default=os.path.join(here, '..', 'resources', 'piano'))
    args = parser.parse_args()
    for tool in ('fluidsynth', 'sox', 'lame'):
        if not shutil.which(tool):
            sys.exit('needs %s' % tool)
    if not os.path.exists(args.font):
        sys.exit('needs the SoundFont %s (apt-get install fluid-soundfont-gm)' % args.font)
    os.makedirs(args.out, exist_ok=True)

    with tempfile.TemporaryDirectory() as work:
        rendered = {}
        for key in range(FIRST_KEY, LAST_KEY + 1):
            midi = os.path.join(work, '%d.mid' % key)
            with open(midi, 'wb') as f:
                f.write(one_note_midi(key))
            stereo = os.path.join(work, '%d.wav' % key)
            run('fluidsynth', '-n', '-i', '-q', '-R', '0', '-C', '0', '-g', '1.0',
                '-r', str(RATE), '-O', 's16', '-F', stereo, args.font, midi)
            rendered[key] = stereo

        gain = TARGET_PEAK / max(wav_peak(path) for path in rendered.values())
        for key, stereo in rendered.items():
            mono = os.path.join(work, '%d-mono.wav' % key)
            run('sox', stereo, '-c', '1', mono, 'vol', '%.6f' % gain,
                'trim', '0', str(LENGTH_SECONDS),
                'fade', 't', '0', str(LENGTH_SECONDS), str(FADE_SECONDS))
            target = os.path.join(args.out, note_name(key) + '.mp3')
            run('lame', '--quiet', '-m', 'm', '-b', '64', '--resample', '44.1', mono, target)
            print(target)


if __name__ == '__main__':
    main()
