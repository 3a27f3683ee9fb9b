// Instruments against outside references, in the same run:
//  - offline render of a 3-minute MIDI track of 2000 notes by the SoundFont
//    instrument vs. the fluidsynth command line rendering the same file with
//    the same SoundFont (reverb and chorus off on both sides);
//  - loading the 88 embedded piano samples vs. the mpg123 command line
//    decoding the same 88 files.

#include "BenchSupport.h"
#include "PrivateUserFolders.h"

#include "engine/midi/MidiFileReader.h"
#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <cstdio>
#include <random>

namespace {

QByteArray quantity(quint32 value)
{
    QByteArray out(1, char(value & 0x7F));
    while (value >>= 7)
        out.prepend(char(0x80 | (value & 0x7F)));
    return out;
}

// A format-0 file, 480 ticks a beat at 120 BPM (960 ticks a second): 2000
// notes of 0.1 to 1.5 s spread over 3 minutes, several sounding at once.
QByteArray threeMinuteMidi()
{
    struct Event {
        quint32 tick;
        int order;
        QByteArray bytes;
    };
    std::vector<Event> events;
    std::mt19937 rng(7);
    const quint32 length = 180 * 960;
    for (int i = 0; i < 2000; ++i) {
        const quint32 start = rng() % (length - 1500);
        const quint32 duration = 96 + rng() % 1344;
        const int pitch = 36 + int(rng() % 48);
        const int velocity = 40 + int(rng() % 87);
        const char on[3] = {char(0x90), char(pitch), char(velocity)};
        const char off[3] = {char(0x80), char(pitch), 0};
        events.push_back({start, 1, QByteArray(on, 3)});
        events.push_back({start + duration, 0, QByteArray(off, 3)});
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    QByteArray track;
    quint32 tick = 0;
    for (const Event& e : events) {
        track += quantity(e.tick - tick) + e.bytes;
        tick = e.tick;
    }
    track += quantity(length - tick) + QByteArray("\xFF\x2F\x00", 3);
    auto be = [](quint32 v, int n) {
        QByteArray out;
        for (int i = n - 1; i >= 0; --i)
            out.append(char((v >> (8 * i)) & 0xFF));
        return out;
    };
    return "MThd" + be(6, 4) + be(0, 2) + be(1, 2) + be(480, 2) + "MTrk" + be(quint32(track.size()), 4) + track;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    bool allOk = true;

    // ---- SoundFont render ----
    const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
    const QString midiPath = Bench::workDir() + "/three-minutes.mid";
    if (!QFile::exists(font) || !writeFile(midiPath, threeMinuteMidi())) {
        std::printf("bench_instruments: needs %s\n", qPrintable(font));
        allOk = false;
    } else {
        QList<ImportedMidiTrack> tracks;
        double duration = 0, bpm = 0;
        parseMidiFile(midiPath, tracks, duration, bpm);
        TrackData track;
        track.type = MidiTrack;
        MidiClip clip;
        clip.notes = tracks.value(0).notes;
        clip.duration = duration;
        track.midiClips.push_back(clip);

        SF2Sampler sampler;
        sampler.loadSoundFont(font);
        qsizetype frames = 0;
        const double ours = Bench::timeBest([&] { frames = sampler.renderTrack(track, 44100).size(); });
        const double reference = Bench::timeCommand(
            "fluidsynth", {"-n", "-i", "-q", "-R", "0", "-C", "0", "-r", "44100", "-F",
                           Bench::workDir() + "/three-minutes.wav", font, midiPath});
        std::printf("SoundFont render: %d notes, %.1f s of audio (%lld frames)\n",
                    int(clip.notes.size()), double(frames) / 44100.0, (long long)frames);
        allOk &= Bench::report("SF2Sampler::renderTrack, 2000 notes / 3 min", ours, reference,
                               "fluidsynth -F: same MIDI file and SoundFont to WAV, reverb and chorus off", 1.0);
    }

    // ---- Piano sample loading ----
    const QString pianoDir = Bench::workDir() + "/piano";
    QDir().mkpath(pianoDir);
    QStringList files;
    for (const QString& name : QDir(":/piano").entryList({"*.mp3"}, QDir::Files)) {
        const QString target = pianoDir + "/" + name;
        QFile::remove(target);
        QFile::copy(":/piano/" + name, target);
        files << target;
    }
    int loaded = 0;
    const double ours = Bench::timeBest([&] {
        PianoSampler piano;
        piano.loadSampleLibraryFromResources(":/piano");
        loaded = piano.sampleCount();
    });
    const double reference = Bench::timeCommand("mpg123", QStringList{"-q", "-s"} + files);
    std::printf("Piano: %d samples loaded\n", loaded);
    allOk &= Bench::report("PianoSampler load of 88 samples", ours, reference,
                           "mpg123 -s: decodes the same 88 MP3 files, output discarded", 1.0);
    return allOk ? 0 : 1;
}
