#pragma once
// Gestures on a shown multitrack page for the page's editing tests: clicks
// and drags on a row's lane at timeline times, keys sent to the page.

#include "app/StartUp.h"
#include "multitrack/AudioClipWidget.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/TrackRowWidget.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace PageTesting {

// The middle of the clip band, where clips answer presses.
constexpr int LaneY = 60;

inline ClipLaneWidget* lane(MultiTrackEditorPage& page, int row)
{
    return page.rows[size_t(row)]->lane();
}

inline QPoint at(MultiTrackEditorPage& page, int row, double seconds)
{
    return QPoint(lane(page, row)->secondsToX(seconds), LaneY);
}

inline QPushButton* button(QWidget& page, const QString& text)
{
    for (QPushButton* b : page.findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// A left-button drag on row `row`'s lane from `from` to `to`, both in that
// lane's coordinates (`to` may lie over another row's lane).
inline void drag(MultiTrackEditorPage& page, int row, QPoint from, QPoint to)
{
    QWidget* widget = lane(page, row);
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, to, widget->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to);
}

// A point of row `target`'s lane in row `row`'s lane coordinates.
inline QPoint overRow(MultiTrackEditorPage& page, int row, int target, int x)
{
    return lane(page, row)->mapFromGlobal(lane(page, target)->mapToGlobal(QPoint(x, LaneY)));
}

// The program's look, quiet debug output, and no JACK server for the page's
// MIDI input to find.
inline void prepareApplication()
{
    qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    StartUp::applyStyleSheet(*qobject_cast<QApplication*>(QCoreApplication::instance()));
}

inline void showPage(MultiTrackEditorPage& page)
{
    page.resize(1400, 900);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.activateWindow();
    page.setFocus();
}

// Lets the page lay out rows added since it was shown, so that global
// positions find the right lane.
inline void layOut(MultiTrackEditorPage& page)
{
    QApplication::processEvents();
    QVERIFY(page.rows.empty() || page.rows.back()->lane()->width() > 200);
}

// An audio clip of `seconds` of a ramp at `rate`, placed at `start`.
inline AudioClip rampClip(double seconds, int rate, double start)
{
    AudioClip clip;
    const int frames = int(seconds * rate);
    clip.samples.resize(frames);
    for (int i = 0; i < frames; ++i)
        clip.samples[i] = float(i % 1000) / 1000.0f - 0.5f;
    clip.sampleRate = rate;
    clip.start = start;
    return clip;
}

} // namespace PageTesting
