// Speed of adding tracks to the multitrack page, as a MIDI file with many
// one-note tracks does: 2000 MIDI tracks added one after another against
// four times the time of 500, the straight line from a small file, each the
// best of three runs. Adding must stay linear (goal: ratio at most 1.5).

#include "BenchSupport.h"
#include "PrivateUserFolders.h"

#include "multitrack/MultiTrackEditorPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <algorithm>
#include <cstdio>

namespace {

// Best seconds of adding `count` one-note MIDI tracks to a fresh, shown page.
double addTracksSeconds(int count, int repeats)
{
    double best = 1e30;
    for (int r = 0; r < repeats; ++r) {
        MultiTrackEditorPage page;
        page.resize(1600, 900);
        page.show();
        QApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < count; ++i)
            page.addMidiTrack(QString(), {MidiNote{60 + i % 24, 0.0, 0.5, 100}}, 1.0);
        best = std::min(best, clock.nsecsElapsed() / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    PrivateUserFolders folders(argv[0]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.warning=false"));

    const double small = addTracksSeconds(500, 3);
    const double large = addTracksSeconds(2000, 3);
    const bool ok = Bench::report(QStringLiteral("add 2000 one-note MIDI tracks"), large, 4.0 * small,
                                  QStringLiteral("4 x adding 500 tracks"), 1.5);
    return ok ? 0 : 1;
}
