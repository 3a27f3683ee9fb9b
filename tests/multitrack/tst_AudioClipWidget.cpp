#include "multitrack/AudioClipWidget.h"

#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <cmath>
#include <limits>

namespace {

using Points = std::vector<EnvelopePoint>;

const QColor Wave(0x3a, 0x86, 0xff);

// count frames at rate, value(i) per frame.
template <typename Fn>
QList<float> frames(qsizetype count, Fn value)
{
    QList<float> out(count);
    for (qsizetype i = 0; i < count; ++i)
        out[i] = value(i);
    return out;
}

AudioClip clip(double start, double seconds, int rate = 1000, float level = 0.5f)
{
    AudioClip c;
    c.sampleRate = rate;
    c.start = start;
    c.samples = QList<float>(qsizetype(seconds * rate), level);
    return c;
}

EnvelopePoint point(double time, float value)
{
    EnvelopePoint p;
    p.time = time;
    p.value = value;
    return p;
}

// A shown lane of 800 x 120 px at zoom 1 (100 px a second) bound to track.
struct Lane {
    TrackData track;
    AudioClipWidget widget;

    Lane()
    {
        track.color = Wave;
        widget.resize(800, 120);
        widget.setTrackData(&track);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
    }
    void press(QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mousePress(&widget, Qt::LeftButton, modifiers, at);
    }
    void move(QPoint at)
    {
        QMouseEvent event(QEvent::MouseMove, at, widget.mapToGlobal(at), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }
    void release(QPoint at) { QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, at); }
    void drag(QPoint from, QPoint to)
    {
        press(from);
        move(to);
        release(to);
    }
    QImage picture()
    {
        QImage image(widget.size(), QImage::Format_RGB32);
        widget.render(&image);
        return image;
    }
};

// Opens the lane's context menu at pos; while it runs, picks entry `entry`
// of submenu `submenu` (or of the menu itself when submenu < 0), or closes
// the menu when entry < 0.
void contextMenu(AudioClipWidget& widget, QPoint pos, int submenu, int entry)
{
    QTimer::singleShot(0, [=] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        if (entry < 0) {
            menu->close();
            return;
        }
        QMenu* target = menu;
        if (submenu >= 0) {
            menu->setActiveAction(menu->actions().at(submenu));
            QTest::keyClick(menu, Qt::Key_Right);
            target = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(target && target != menu);
        }
        target->setActiveAction(target->actions().at(entry));
        QTest::keyClick(target, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, widget.mapToGlobal(pos));
    QApplication::sendEvent(&widget, &event);
}

// c over `under` at alpha a, as the raster engine blends it.
QColor over(QColor c, int a, QColor under)
{
    const auto mix = [&](int top, int bottom) { return (top * a + bottom * (255 - a)) / 255; };
    return QColor(mix(c.red(), under.red()), mix(c.green(), under.green()),
                  mix(c.blue(), under.blue()));
}

bool near(QColor a, QColor b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

#define CHECK_PIXEL(image, x, y, colour)                                                     \
    QVERIFY2(near((image).pixelColor(x, y), colour),                                         \
             qPrintable(QStringLiteral("(%1, %2) is %3, not %4")                             \
                            .arg(x).arg(y).arg((image).pixelColor(x, y).name(),              \
                                               QColor(colour).name())))

} // namespace

class AudioClipWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<Points>(); }

    void mappingAndScale()
    {
        AudioClipWidget lane;
        lane.setViewStartSec(2.0);
        lane.setZoomLevel(2.0);
        QCOMPARE(lane.secondsToX(3.005), 200);      // 200.99... truncates
        QCOMPARE(lane.secondsToX(1.99), -2);        // toward zero, not down
        QCOMPARE(lane.xToSeconds(50), 2.25);
        // Far times and corrupt values clamp instead of overflowing.
        lane.setZoomLevel(512);
        lane.setViewStartSec(0);
        QCOMPARE(lane.secondsToX(12 * 3600.0), TimelineMapping::PixelLimit);
        QCOMPARE(lane.secondsToX(-1e300), -TimelineMapping::PixelLimit);
        QCOMPARE(lane.secondsToX(std::nan("")), -TimelineMapping::PixelLimit);
        lane.setZoomLevel(0);
        lane.setZoomLevel(std::numeric_limits<double>::infinity());
        QCOMPARE(lane.zoomLevel(), 512.0);

        // The track's colour becomes the wave colour, unless it has none.
        TrackData track;
        lane.setTrackData(&track);
        QCOMPARE(lane.waveColor(), Wave);
        track.color = Qt::red;
        lane.setTrackData(&track);
        QCOMPARE(lane.waveColor(), QColor(Qt::red));

        // The envelope scale: 1.5 at y 8, 0 at y 112.
        QCOMPARE(lane.valueToY(1.5f), 8.0);
        QCOMPARE(lane.valueToY(0.75f), 60.0);
        QCOMPARE(lane.valueToY(3.0f), 8.0);
        QCOMPARE(lane.valueToY(-1.0f), 112.0);
        QCOMPARE(lane.yToValue(60), 0.75f);
        QCOMPARE(lane.yToValue(0), 1.5f);
        QCOMPARE(lane.yToValue(119), 0.0f);

        // One beat at 120 BPM is 0.5 s; halves round away from zero.
        QCOMPARE(lane.snapToGrid(0.75), 1.0);
        QCOMPARE(lane.snapToGrid(-0.25), -0.5);
        lane.setSnapBpm(std::numeric_limits<double>::infinity());
        lane.setSnapBpm(-5);
        QCOMPARE(lane.snapBpm(), 120.0);
        lane.setSnapBpm(60);
        QCOMPARE(lane.snapToGrid(1.4), 1.0);
    }

    void hitTests()
    {
        Lane lane;
        lane.track.audioClips = {clip(1.0, 2.0), clip(2.5, 2.0)}; // x 100..300, 250..450
        AudioClipWidget& w = lane.widget;
        QCOMPARE(w.hitTestClip({200, 60}), 0);
        QCOMPARE(w.hitTestClip({280, 60}), 1);       // overlap: the later clip, drawn on top
        QCOMPARE(w.hitTestClip({400, 60}), 1);
        QCOMPARE(w.hitTestClip({200, 7}), -1);
        QCOMPARE(w.hitTestClip({200, 113}), -1);
        QCOMPARE(w.hitTestClip({460, 60}), -1);
        QCOMPARE(w.hitTestClipEdge({94, 60}), 0);
        QCOMPARE(w.hitTestClipEdge({294, 60}), -1);  // clip 0's tail lies under clip 1
        QCOMPARE(w.hitTestClipEdge({306, 60}), -1);
        QCOMPARE(w.hitTestClipEdge({452, 60}), 3);
        int fadeClip = 7;
        QCOMPARE(w.hitTestFadeHandle({105, 12}, fadeClip), 1);
        QCOMPARE(fadeClip, 0);
        QCOMPARE(w.hitTestFadeHandle({445, 20}, fadeClip), 2);
        QCOMPARE(fadeClip, 1);
        QCOMPARE(w.hitTestFadeHandle({105, 21}, fadeClip), 0);
        QCOMPARE(fadeClip, -1);
        lane.track.volumeEnvelope = {point(1.0, 0.75f)};
        QCOMPARE(w.hitTestEnvelopePoint({108, 68}), 0);
        QCOMPARE(w.hitTestEnvelopePoint({109, 60}), -1);

        // Degenerate clips: no edges, no fade handles, no division by the rate.
        AudioClip noRate = clip(5.0, 1.0);
        noRate.sampleRate = 0;
        AudioClip nanTrim = clip(6.0, 1.0);
        nanTrim.audioStart = std::nan("");
        AudioClip infTrim = clip(7.0, 1.0);
        infTrim.audioEnd = -std::numeric_limits<double>::infinity();
        AudioClip empty = clip(7.5, 0.0);
        lane.track.audioClips = {noRate, nanTrim, infTrim, empty};
        QCOMPARE(AudioClipWidget::visibleLength(infTrim), 0.0);
        for (int x : {500, 600, 700, 750}) {
            QCOMPARE(w.hitTestClipEdge({x, 60}), -1);
            QCOMPARE(w.hitTestFadeHandle({x, 10}, fadeClip), 0);
        }
        QCOMPARE(w.hitTestClip({750, 60}), 3);      // one column at its start
        QCOMPARE(w.hitTestClip({751, 60}), -1);
        lane.press({500, 60});
        lane.move({520, 60});
        lane.release({520, 60});
        QVERIFY(!lane.picture().isNull());
    }

    void gesturesActOnTheClipOnTop()
    {
        // A 2 s take over the head of a 6 s clip comes later: drawn on top.
        Lane lane;
        lane.track.audioClips = {clip(0.5, 6.0), clip(0.5, 2.0)}; // x 50..650, 50..250
        QSignalSpy doubled(&lane.widget, &AudioClipWidget::clipDoubleClicked);
        lane.drag({150, 60}, {150, 60});
        QCOMPARE(lane.widget.selectedClip(), 1);
        QTest::mouseDClick(&lane.widget, Qt::LeftButton, Qt::NoModifier, {150, 60});
        QCOMPARE(doubled.value(0).value(0).toInt(), 1);
        lane.drag({55, 12}, {80, 12});                // the shared fade-in handle
        lane.drag({52, 60}, {100, 60});               // the shared head edge
        contextMenu(lane.widget, {150, 60}, 1, 2);
        const AudioClip& take = lane.track.audioClips[1];
        QCOMPARE(take.fadeIn, 0.3);
        QCOMPARE(take.audioStart, 0.5);
        QCOMPARE(take.fadeOutCurve, 2);
    }

    void trimsAndFades()
    {
        Lane lane;
        lane.track.audioClips = {clip(1.0, 2.0)};    // x 100..300
        AudioClip& c = lane.track.audioClips[0];
        QSignalSpy trimmed(&lane.widget, &AudioClipWidget::clipTrimmed);
        QSignalSpy clicked(&lane.widget, &AudioClipWidget::clicked);

        lane.drag({100, 60}, {150, 60});              // head in by 0.5 s
        QCOMPARE(c.audioStart, 0.5);
        QCOMPARE(c.start, 1.5);
        QCOMPARE(clicked.count(), 1);
        lane.drag({150, 60}, {900, 60});              // past the tail: 0.01 s stays
        QCOMPARE(c.audioStart, 1.99);
        QCOMPARE(c.start, 2.99);
        lane.drag({300, 60}, {0, 60});                // back out past the source start
        QCOMPARE(c.audioStart, 0.0);
        QCOMPARE(c.start, 1.0);
        lane.drag({300, 60}, {250, 60});              // tail in by 0.5 s
        QCOMPARE(c.audioEnd, 0.5);
        lane.drag({250, 60}, {0, 60});
        QCOMPARE(c.audioEnd, 1.99);
        QCOMPARE(trimmed.count(), 5);
        c.audioEnd = 0.0;

        // A fade handle wins over the edge under it; fades stop at half the clip.
        lane.drag({105, 10}, {130, 10});
        QCOMPARE(c.fadeIn, 0.3);
        QCOMPARE(c.audioStart, 0.0);
        lane.drag({105, 10}, {700, 10});
        QCOMPARE(c.fadeIn, 1.0);
        lane.drag({295, 12}, {260, 12});
        QCOMPARE(c.fadeOut, 0.4);
        lane.drag({295, 12}, {0, 12});
        QCOMPARE(c.fadeOut, 1.0);
        lane.drag({295, 12}, {900, 12});
        QCOMPARE(c.fadeOut, 0.0);
        QCOMPARE(trimmed.count(), 10);
    }

    void bodyDragsAndPlayhead()
    {
        Lane lane;
        lane.track.audioClips = {clip(1.0, 2.0)};
        AudioClip& c = lane.track.audioClips[0];
        QSignalSpy playhead(&lane.widget, &AudioClipWidget::playheadMoved);
        QSignalSpy trimmed(&lane.widget, &AudioClipWidget::clipTrimmed);

        lane.drag({200, 60}, {205, 60});              // 5 px: not a move
        QCOMPARE(c.start, 1.0);
        QCOMPARE(lane.widget.selectedClip(), 0);
        QCOMPARE(playhead.count(), 1);
        QCOMPARE(playhead.last().at(0).toDouble(), 2.05);
        lane.drag({200, 60}, {233, 60});
        QCOMPARE(c.start, 1.33);
        lane.drag({200, 60}, {0, 60});                // stops at 0
        QCOMPARE(c.start, 0.0);
        QCOMPARE(trimmed.count(), 2);
        lane.widget.setSnapEnabled(true);
        lane.drag({100, 60}, {172, 60});              // 0.72 s snaps back to 0.5
        QCOMPARE(c.start, 0.5);

        // A press on empty lane clears the selection and moves the playhead.
        lane.press({600, 60});
        lane.release({600, 60});
        QCOMPARE(lane.widget.selectedClip(), -1);
        QCOMPARE(lane.widget.playheadPosition(), 6.0);

        // The Move tool reports drags and leaves clips and playhead alone;
        // the Scissors tool reports the clip.
        QSignalSpy started(&lane.widget, &AudioClipWidget::clipDragStarted);
        QSignalSpy finished(&lane.widget, &AudioClipWidget::clipDragFinished);
        QSignalSpy scissors(&lane.widget, &AudioClipWidget::scissorClicked);
        lane.widget.setToolMode(AudioClipWidget::MoveTool);
        lane.drag({100, 60}, {400, 60});
        lane.drag({700, 60}, {710, 60});
        QCOMPARE(started.count(), 1);
        QCOMPARE(started.at(0).at(0).toInt(), 0);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(c.start, 0.5);
        QCOMPARE(lane.widget.playheadPosition(), 6.0);
        lane.widget.setToolMode(AudioClipWidget::ScissorsTool);
        lane.press({100, 60});
        QCOMPARE(scissors.count(), 1);

        // Delete asks for the selected clip once; a stale selection passes.
        lane.widget.setToolMode(AudioClipWidget::NormalTool);
        QSignalSpy deleted(&lane.widget, &AudioClipWidget::deleteAudioClip);
        lane.drag({100, 60}, {100, 60});
        QTest::keyClick(&lane.widget, Qt::Key_Backspace);
        QTest::keyClick(&lane.widget, Qt::Key_Delete);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.at(0).at(0).toInt(), 0);
        QSignalSpy doubled(&lane.widget, &AudioClipWidget::clipDoubleClicked);
        QTest::mouseDClick(&lane.widget, Qt::LeftButton, Qt::NoModifier, {120, 60});
        QCOMPARE(doubled.count(), 1);
    }

    void envelopeEdits()
    {
        Lane lane;
        lane.track.audioClips = {clip(1.0, 2.0)};
        lane.widget.setShowEnvelope(true);
        QSignalSpy committed(&lane.widget, &AudioClipWidget::envelopeEditCommitted);
        QSignalSpy changed(&lane.widget, &AudioClipWidget::envelopeChanged);
        const auto times = [&] {
            QList<double> out;
            for (const EnvelopePoint& p : lane.track.volumeEnvelope)
                out << p.time;
            return out;
        };

        // Alt-click adds a point, over a clip too, in any tool.
        lane.press({200, 60}, Qt::AltModifier);
        lane.release({200, 60});
        lane.widget.setToolMode(AudioClipWidget::ScissorsTool);
        lane.press({400, 8}, Qt::AltModifier);
        lane.release({400, 8});
        lane.press({200, 100}, Qt::AltModifier);      // same time: goes in front
        lane.release({200, 100});
        QCOMPARE(times(), (QList<double>{2.0, 2.0, 4.0}));
        QCOMPARE(lane.track.volumeEnvelope[0].value, lane.widget.yToValue(100));
        QCOMPARE(committed.count(), 3);
        QCOMPARE(changed.count(), 3);
        QCOMPARE(committed.at(2).at(0).value<Points>().size(), std::size_t(2));
        QCOMPARE(committed.at(2).at(1).value<Points>().size(), std::size_t(3));

        // A drag stops at its neighbours and commits once, at the release.
        lane.widget.setToolMode(AudioClipWidget::NormalTool);
        lane.press({400, 8});
        lane.move({100, 30});
        QCOMPARE(committed.count(), 3);
        lane.move({700, 30});
        lane.release({700, 30});
        QCOMPARE(times(), (QList<double>{2.0, 2.0, 7.0}));
        QCOMPARE(committed.count(), 4);
        QCOMPARE(committed.last().at(0).value<Points>()[2].time, 4.0);
        QCOMPARE(committed.last().at(1).value<Points>()[2].time, 7.0);
        lane.press({200, 100});                      // the first point
        lane.move({700, 100});
        lane.release({700, 100});
        QCOMPARE(times(), (QList<double>{2.0, 2.0, 7.0}));

        // Alt-click left of time 0 is an ordinary press.
        lane.widget.setViewStartSec(-1.0);
        lane.press({50, 60}, Qt::AltModifier);
        lane.release({50, 60});
        QCOMPARE(lane.track.volumeEnvelope.size(), std::size_t(3));
        QCOMPARE(lane.widget.playheadPosition(), 0.0);
        lane.widget.setViewStartSec(0.0);

        // The menu deletes the point under it.
        contextMenu(lane.widget, {700, 30}, -1, 0);
        QCOMPARE(times(), (QList<double>{2.0, 2.0}));
        QCOMPARE(committed.count(), 6);
    }

    void fadeCurveMenu()
    {
        Lane lane;
        lane.track.audioClips = {clip(1.0, 2.0)};
        QSignalSpy trimmed(&lane.widget, &AudioClipWidget::clipTrimmed);
        contextMenu(lane.widget, {200, 60}, 1, 3);
        QCOMPARE(lane.track.audioClips[0].fadeOutCurve, 3);
        contextMenu(lane.widget, {200, 60}, 0, 1);
        QCOMPARE(lane.track.audioClips[0].fadeInCurve, 1);
        contextMenu(lane.widget, {200, 60}, 0, -1);
        QCOMPARE(trimmed.count(), 2);
        QCOMPARE(lane.widget.selectedClip(), -1);
    }

    void picture()
    {
        Lane lane;
        QCursor::setPos(lane.widget.mapToGlobal(QPoint(790, 116))); // no hover handles
        const QColor background(0x14, 0x14, 0x1e);
        const QColor body = over(Wave, 60, background);
        const QColor trace = over(Wave, 160, body);

        // Mono, 3.5 s at 8 kHz with 0.5 s trimmed off the head, at 0.5 s:
        // x 50..350, inner x0 54, iw 292, 24000 frames, 82.19 a column.
        // A spike in the trimmed head must not show; column 50 holds +0.8,
        // column 100 holds -0.4.
        AudioClip mono = clip(0.5, 3.5, 8000, 0.0f);
        mono.audioStart = 0.5;
        mono.samples[2000] = 1.0f;
        const auto frameOf = [](int column) { return 4000 + qsizetype(24000.0 / 292 * column) + 1; };
        mono.samples[frameOf(50)] = 0.8f;
        mono.samples[frameOf(100)] = -0.4f;
        mono.fadeIn = 0.4;                            // x 50..90
        // Stereo, 2 s at 4 s (x 400..600): left +0.5, right -0.5.
        AudioClip stereo = clip(4.0, 2.0, 1000, 0.0f);
        stereo.stereoSamples = frames(4000, [](qsizetype i) { return i % 2 ? -0.5f : 0.5f; });
        lane.track.audioClips = {mono, stereo};
        lane.track.volumeEnvelope = {point(0.5, 1.0f), point(7.0, 0.5f)};
        lane.widget.setShowEnvelope(true);
        lane.widget.setPlayheadPosition(7.5);
        lane.press({500, 60});                        // selects the stereo clip
        lane.release({500, 60});
        lane.widget.setPlayheadPosition(7.5);
        const QImage image = lane.picture();

        // Mono columns: centre 60, scale 48; every column reaches the centre.
        CHECK_PIXEL(image, 104, 25, trace);
        CHECK_PIXEL(image, 104, 59, trace);
        CHECK_PIXEL(image, 104, 65, body);
        CHECK_PIXEL(image, 105, 25, body);
        CHECK_PIXEL(image, 154, 75, trace);
        CHECK_PIXEL(image, 154, 55, body);
        for (int x = 200; x < 340; x += 10)
            CHECK_PIXEL(image, x, 30, body);
        // The fade-in shades the head (black at alpha 120 at its start) and
        // its linear curve crosses the band's middle halfway.
        QVERIFY(near(image.pixelColor(51, 90), over(Qt::black, 120, body), 6));
        int curve = 0;                                // y 86 at x 60
        for (int y = 84; y <= 88; ++y)
            curve = std::max(curve, image.pixelColor(60, y).lightness());
        QVERIFY(curve > body.lightness() + 20);
        QVERIFY(image.pixelColor(70, 90).lightness() < body.lightness());
        CHECK_PIXEL(image, 92, 90, body);

        // Stereo lanes: left centre 36 up to 24, right centre 84 down to 96,
        // divider at 60.
        CHECK_PIXEL(image, 500, 28, trace);
        CHECK_PIXEL(image, 500, 20, body);
        CHECK_PIXEL(image, 500, 90, trace);
        CHECK_PIXEL(image, 500, 76, body);
        CHECK_PIXEL(image, 500, 60, QColor(0x3c, 0x3c, 0x50));
        // The selection outline runs 1 px inside the body's.
        QVERIFY(near(image.pixelColor(500, 9), over(QColor(0x00, 0xf2, 0xff), 200, body), 40));

        // Envelope: flat at y 42 up to the first point, its circle there.
        // (1.5 px wide on the row boundary: three quarters of rows 41 and 42)
        for (int y : {41, 42})
            QVERIFY(near(image.pixelColor(20, y), over(QColor(0x00, 0xff, 0x80), 135, background), 8));
        CHECK_PIXEL(image, 20, 44, background);
        CHECK_PIXEL(image, 50, 42, QColor(0x00, 0xff, 0x80));
        // Playhead at 7.5 s.
        CHECK_PIXEL(image, 750, 5, Qt::white);
        CHECK_PIXEL(image, 751, 5, background);

        // The playhead moves alone; the clip under the mouse shows its trim bars.
        lane.widget.setPlayheadPosition(7.6);
        QCursor::setPos(lane.widget.mapToGlobal(QPoint(200, 60)));
        const QImage moved = lane.picture();
        CHECK_PIXEL(moved, 750, 5, background);
        CHECK_PIXEL(moved, 760, 5, Qt::white);
        CHECK_PIXEL(moved, 347, 100, over(Qt::white, 60, body));
        CHECK_PIXEL(moved, 343, 100, body);
        CHECK_PIXEL(image, 347, 100, body);

        // A replaced sample list is drawn afresh, not from the old peaks.
        lane.track.audioClips[1].stereoSamples = frames(4000, [](qsizetype) { return 0.0f; });
        CHECK_PIXEL(lane.picture(), 500, 28, body);
    }

    void peakCache()
    {
        ClipPeakCache cache;
        QList<float> list(1000, 0.25f);
        list.reserve(100000);
        list[500] = 0.75f;
        const auto peakOf = [&](qsizetype first, qsizetype end) {
            float lo = 0.0f, hi = 0.0f;
            cache.index(ClipPeakCache::monoChannel(list)).rangeMinMax(list.constData(), first, end, lo, hi);
            return hi;
        };
        QCOMPARE(peakOf(0, 1000), 0.75f);
        QCOMPARE(cache.fullBuilds(), 1);
        // A take growing in place is summarised past its old end only.
        list.append(QList<float>(50000, 0.5f));
        list[40000] = 0.9f;
        QCOMPARE(peakOf(1000, 51000), 0.9f);
        QCOMPARE(peakOf(0, 1000), 0.75f);
        QCOMPARE(cache.fullBuilds(), 1);
        // A list rewritten where it is (its first value changed) is rebuilt.
        list[0] = 1.0f;
        QCOMPARE(peakOf(0, 100), 1.0f);
        QCOMPARE(cache.fullBuilds(), 2);
        QCOMPARE(cache.entryCount(), 1);
        cache.retain({});
        QCOMPARE(cache.entryCount(), 0);

        // An open project keeps the summaries of all its tracks: they stay a
        // small part of what they summarise.
        const QList<float> take(1 << 22, 0.5f);
        cache.index(ClipPeakCache::monoChannel(take));
        QVERIFY(cache.memoryBytes() > 0);
        QVERIFY(cache.memoryBytes() <= take.size() * qsizetype(sizeof(float)) / 32);
    }

    void screenshot()
    {
        Lane lane;
        lane.widget.resize(1000, 120);
        QCursor::setPos(lane.widget.mapToGlobal(QPoint(990, 116)));
        lane.track.color = QColor(0x3a, 0x86, 0xff);
        lane.widget.setTrackData(&lane.track);
        const int rate = 8000;
        AudioClip voice;
        voice.sampleRate = rate;
        voice.start = 0.4;
        voice.samples = frames(qsizetype(2.6 * rate), [&](qsizetype i) {
            const double t = double(i) / rate;
            return float(0.7 * std::sin(2 * M_PI * 3 * t) * std::sin(2 * M_PI * 220 * t)
                         * std::exp(-0.4 * t));
        });
        voice.fadeIn = 0.5;
        voice.fadeOut = 0.8;
        voice.fadeOutCurve = FadeSmoothStep;
        AudioClip music;
        music.sampleRate = rate;
        music.start = 3.4;
        const qsizetype count = qsizetype(4.0 * rate);
        music.stereoSamples = frames(2 * count, [&](qsizetype i) {
            const double t = double(i / 2) / rate;
            const double beat = std::exp(-8.0 * std::fmod(t, 0.5));
            return float((i % 2 ? 0.5 : 0.8) * beat * std::sin(2 * M_PI * (i % 2 ? 330 : 110) * t));
        });
        music.samples = frames(count, [&](qsizetype i) {
            return 0.5f * (music.stereoSamples[2 * i] + music.stereoSamples[2 * i + 1]);
        });
        music.audioStart = 0.7;                       // trimmed head
        music.audioEnd = 0.5;
        music.fadeIn = 0.3;
        music.fadeInCurve = FadeSquareRoot;
        lane.track.audioClips = {voice, music, clip(6.6, 2.4, rate, 0.0f)};
        lane.track.audioClips[2].samples = TestSupport::sineWave(3, 2.4, rate, 0.6f);
        lane.track.volumeEnvelope = {point(0.3, 0.8f), point(2.5, 1.2f), point(5.0, 0.5f),
                                     point(8.2, 1.0f)};
        lane.widget.setShowEnvelope(true);
        lane.press({500, 60});
        lane.release({500, 60});
        lane.widget.setPlayheadPosition(5.6);
        QVERIFY(TestSupport::saveScreenshot(lane.widget.grab(), QStringLiteral("audio-clip-lane.png")));
    }

    void trackChangesUnderGestures()
    {
        Lane lane;
        lane.widget.setShowEnvelope(true);
        // A reallocated track vector: the drag goes on in the new element.
        std::vector<TrackData> tracks(1);
        tracks[0].audioClips = {clip(1.0, 2.0)};
        lane.widget.setTrackData(&tracks[0]);
        lane.press({200, 60});
        lane.move({230, 60});
        tracks.resize(50);
        lane.widget.setTrackData(&tracks[0]);
        lane.move({260, 60});
        lane.release({260, 60});
        QCOMPARE(tracks[0].audioClips[0].start, 1.6);

        // Clips and points erased mid-gesture end it quietly.
        QSignalSpy trimmed(&lane.widget, &AudioClipWidget::clipTrimmed);
        QSignalSpy committed(&lane.widget, &AudioClipWidget::envelopeEditCommitted);
        const std::vector<QPoint> presses = {{160, 60}, {165, 10}, {360, 60}};
        for (QPoint at : presses) {
            tracks[0].audioClips = {clip(1.6, 2.0)};
            lane.press(at);
            tracks[0].audioClips.clear();
            lane.move(at + QPoint(30, 0));
            lane.release(at + QPoint(30, 0));
            QVERIFY(!lane.picture().isNull());
        }
        tracks[0].volumeEnvelope = {point(1.0, 1.0), point(3.0, 1.0)};
        lane.press({300, 34});
        tracks[0].volumeEnvelope.resize(1);
        lane.move({320, 40});
        lane.release({320, 40});
        QCOMPARE(trimmed.count(), 0);
        QCOMPARE(committed.count(), 0);
        tracks.clear();
        lane.widget.setTrackData(nullptr);
        QVERIFY(!lane.picture().isNull());
    }
};

QTEST_MAIN(AudioClipWidgetTest)
#include "tst_AudioClipWidget.moc"
