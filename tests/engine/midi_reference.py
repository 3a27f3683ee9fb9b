#!/usr/bin/python3
"""Random Standard MIDI Files written by mido, with the notes the reader must
find in each, decoded by mido (an independent parser) and paired here:
note-offs close the oldest open note of the same number on any channel, open
notes close at the track's last event, a tempo change applies from its tick on
for every track, ticks convert to whole microseconds per tempo segment.

Usage: midi_reference.py OUTDIR COUNT SEED
Writes OUTDIR/NNN.mid and OUTDIR/NNN.json for NNN = 000 .. COUNT-1."""

import json
import os
import random
import sys

import mido


def random_track(rng, name, with_tempo):
    track = mido.MidiTrack()
    if name is not None:
        track.append(mido.MetaMessage('track_name', name=name, time=0))
    held = []
    for _ in range(rng.randint(0, 60)):
        delta = rng.choice([0, 0, 1, 7, 30, 96, 200, 480, 1000, rng.randint(0, 1 << 21)])
        channel = rng.randint(0, 15)
        roll = rng.random()
        if roll < 0.35:
            note = rng.choice([60, 60, 62, 64, rng.randint(0, 127)])
            track.append(mido.Message('note_on', channel=channel, note=note,
                                      velocity=rng.randint(1, 127), time=delta))
            held.append(note)
        elif roll < 0.6 and held:
            note = held.pop(rng.randrange(len(held)))
            if rng.random() < 0.5:
                track.append(mido.Message('note_off', channel=rng.randint(0, 15), note=note,
                                          velocity=rng.randint(0, 127), time=delta))
            else:
                track.append(mido.Message('note_on', channel=channel, note=note, velocity=0,
                                          time=delta))
        elif roll < 0.65:
            track.append(mido.Message('note_off', channel=channel, note=rng.randint(0, 127),
                                      time=delta))
        elif roll < 0.72:
            track.append(mido.Message('control_change', channel=channel,
                                      control=rng.randint(0, 119), value=rng.randint(0, 127),
                                      time=delta))
        elif roll < 0.76:
            track.append(mido.Message('program_change', channel=channel,
                                      program=rng.randint(0, 127), time=delta))
        elif roll < 0.80:
            track.append(mido.Message('pitchwheel', channel=channel,
                                      pitch=rng.randint(-8192, 8191), time=delta))
        elif roll < 0.83:
            track.append(mido.Message('aftertouch', channel=channel, value=rng.randint(0, 127),
                                      time=delta))
        elif roll < 0.86:
            track.append(mido.Message('polytouch', channel=channel, note=rng.randint(0, 127),
                                      value=rng.randint(0, 127), time=delta))
        elif roll < 0.89:
            track.append(mido.Message('sysex', data=[rng.randint(0, 127)
                                                     for _ in range(rng.randint(0, 200))],
                                      time=delta))
        elif roll < 0.93:
            track.append(mido.MetaMessage('text', text='x' * rng.randint(0, 300), time=delta))
        elif with_tempo:
            track.append(mido.MetaMessage('set_tempo', tempo=rng.randint(1, 0xFFFFFF), time=delta))
    return track


def expected_notes(midi):
    tempo_map = [(0, 500000)]
    absolute = []
    for track in midi.tracks:
        tick = 0
        events = []
        for msg in track:
            tick += msg.time
            events.append((tick, msg))
            if msg.type == 'set_tempo' and msg.tempo != 0:
                tempo_map.append((tick, msg.tempo))
        absolute.append(events)
    tempo_map.sort(key=lambda entry: entry[0])  # stable
    division = midi.ticks_per_beat

    def seconds(tick):
        us, previous, tempo = 0, 0, 500000
        for entry_tick, entry_tempo in tempo_map:
            if entry_tick > tick:
                break
            us += (entry_tick - previous) * tempo // division
            tempo, previous = entry_tempo, entry_tick
        us += (tick - previous) * tempo // division
        return us / 1e6

    tracks = []
    duration = 0.0
    chunk_events = absolute[:1] if midi.type == 0 else absolute
    for index, events in enumerate(chunk_events):
        name = None
        open_notes = {}
        closed = []
        last_tick = events[-1][0] if events else 0
        for tick, msg in events:
            if msg.type == 'track_name' and len(msg.name) > 0:
                name = msg.name
            elif msg.type == 'note_on' and msg.velocity > 0:
                open_notes.setdefault(msg.note, []).append((tick, msg.velocity))
            elif msg.type in ('note_on', 'note_off') and open_notes.get(msg.note):
                start, velocity = open_notes[msg.note].pop(0)
                closed.append((msg.note, start, tick, velocity))
        for note in sorted(open_notes):
            for start, velocity in open_notes[note]:
                closed.append((note, start, last_tick, velocity))
        if not closed:
            continue
        notes = []
        for pitch, start_tick, end_tick, velocity in closed:
            start, end = seconds(start_tick), seconds(end_tick)
            duration = max(duration, end)
            notes.append({'pitch': pitch, 'start': start, 'duration': max(end - start, 0.001),
                          'velocity': velocity})
        tracks.append({'name': name if name is not None else 'Track %d' % (index + 1),
                       'notes': notes})

    bpm = 120.0
    for tick, tempo in tempo_map:
        if tick != 0:
            break
        if tempo not in (0, 500000):
            bpm = 60000000.0 / tempo
            break
    return {'tracks': tracks, 'duration': duration, 'bpm': bpm}


def main():
    out_dir, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    for n in range(count):
        midi_type = rng.choice([0, 1, 1, 2])
        midi = mido.MidiFile(type=midi_type,
                             ticks_per_beat=rng.choice([24, 96, 120, 384, 480, 960, 1000]))
        track_count = 1 if midi_type == 0 else rng.randint(1, 5)
        for t in range(track_count):
            name = rng.choice([None, 'Piano', 'Lead %d' % t, ''])
            if midi_type == 1 and t == 0 and rng.random() < 0.5:
                tempo_track = mido.MidiTrack()
                tempo_track.append(mido.MetaMessage('set_tempo', tempo=rng.randint(200000, 900000)))
                tempo_track.append(mido.MetaMessage('set_tempo', tempo=rng.randint(200000, 900000),
                                                    time=rng.randint(0, 5000)))
                midi.tracks.append(tempo_track)
            else:
                midi.tracks.append(random_track(rng, name, with_tempo=True))
        path = os.path.join(out_dir, '%03d.mid' % n)
        midi.save(path)
        with open(os.path.join(out_dir, '%03d.json' % n), 'w') as f:
            json.dump(expected_notes(mido.MidiFile(path)), f)


if __name__ == '__main__':
    main()
