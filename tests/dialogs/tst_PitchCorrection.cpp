// Pitch correction: a sung note found and pulled onto its note, the audio
// outside the notes left alone, and the targets as the user moves them.

#include "TestSupport.h"
#include "audio/dsp/YinPitchDetector.h"
#include "dialogs/PitchCorrectionDialog.h"
#include "dialogs/PitchCorrectionSession.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest/QtTest>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Rate = 44100;

// Silence, 0.6 s of a tone, silence.
QList<float> toneInSilence(double frequency)
{
    QList<float> out(Rate / 4, 0.0f);
    out += TestSupport::sineWave(frequency, 0.6, Rate, 0.5f);
    out += QList<float>(Rate / 4, 0.0f);
    return out;
}

double medianPitch(const QList<float>& samples, qsizetype from, qsizetype to)
{
    YinPitchDetector yin;
    yin.configure(Rate, 40, 10, 0.15f);
    const auto frames = yin.detect(samples.constData() + from, size_t(to - from));
    std::vector<double> found;
    for (const PitchFrame& f : frames)
        if (f.frequency > 0)
            found.push_back(f.frequency);
    if (found.empty())
        return 0.0;
    std::nth_element(found.begin(), found.begin() + long(found.size() / 2), found.end());
    return found[found.size() / 2];
}

} // namespace

class PitchCorrectionTest : public QObject {
    Q_OBJECT

private slots:
    void sharpNoteIsPulledOntoA4()
    {
        const QList<float> input = toneInSilence(450.0);
        PitchCorrectionDialog dialog(input, Rate, nullptr);
        const auto& segments = dialog.session().noteSegments();
        QCOMPARE(segments.size(), size_t(1));
        QCOMPARE(segments[0].targetMidi, 69);
        QVERIFY(std::fabs(segments[0].shiftSemitones + 0.389f) < 0.01f);
        QCOMPARE(dialog.infoText(), QStringLiteral("1 个音高段"));
        QCOMPARE(dialog.correctedSamples, input); // until applied

        QSignalSpy accepted(&dialog, &QDialog::accepted);
        TestSupport::buttonWithText(dialog, QStringLiteral("应用"))->click();
        QCOMPARE(accepted.count(), 1);
        const QList<float>& out = dialog.correctedSamples;
        QCOMPARE(out.size(), input.size());
        const qsizetype hop = dialog.session().hopSize();
        const qsizetype s0 = segments[0].startFrame * hop, s1 = segments[0].endFrame * hop;
        QVERIFY(std::fabs(medianPitch(out, s0 + 4410, s1 - 4410) - 440.0) < 1.0);
        // Outside the segment nothing changed, and the crossfade's ends meet the input.
        for (qsizetype i = 0; i < input.size(); ++i) {
            if (i <= s0 || i >= s1 - 1)
                QVERIFY2(out[i] == input[i], qPrintable(QString::number(i)));
        }
    }

    void legatoNotesAreCorrectedEachOnItsOwn()
    {
        // Three mistuned notes of 0.5 s, joined without a gap or a dip.
        const struct {
            int midi;
            double cents;
        } notes[] = {{69, 39.0}, {72, -44.0}, {76, 47.0}};
        // A4 sung with the given offset in cents at each sample, between silences.
        const auto sung = [](int frames, const auto& centsAt) {
            QList<float> out(Rate / 4, 0.0f);
            double phase = 0.0;
            for (int i = 0; i < frames; ++i) {
                out.append(float(0.5 * std::sin(phase)));
                phase += 2.0 * M_PI * YinPitchDetector::midiToFrequency(69 + centsAt(i) / 100.0) / Rate;
            }
            return out + QList<float>(Rate / 4, 0.0f);
        };
        const QList<float> input = sung(3 * Rate / 2, [&](int i) {
            const auto& note = notes[i / (Rate / 2)];
            return 100.0 * (note.midi - 69) + note.cents;
        });

        PitchCorrectionSession session(input, Rate);
        const auto& segments = session.noteSegments();
        QCOMPARE(segments.size(), size_t(3));
        const QList<float> out = session.corrected();
        const qsizetype hop = session.hopSize();
        for (int n = 0; n < 3; ++n) {
            QCOMPARE(segments[size_t(n)].targetMidi, notes[n].midi);
            QVERIFY2(std::fabs(segments[size_t(n)].shiftSemitones + notes[n].cents / 100.0) < 0.02,
                     qPrintable(QString::number(segments[size_t(n)].shiftSemitones)));
            const qsizetype from = segments[size_t(n)].startFrame * hop + 4410;
            const qsizetype to = segments[size_t(n)].endFrame * hop - 4410;
            const double cents = 1200.0 * std::log2(medianPitch(out, from, to)
                                                    / YinPitchDetector::midiToFrequency(notes[n].midi));
            QVERIFY2(std::fabs(cents) < 3.0, qPrintable(QStringLiteral("note %1: %2 cents").arg(n).arg(cents)));
        }

        // A held A4 sung 30 cents sharp with a wide vibrato (80 cents at
        // 5.5 Hz) stays one segment, moved as a whole.
        PitchCorrectionSession held(
            sung(2 * Rate, [](int i) { return 30.0 + 80.0 * std::sin(2.0 * M_PI * 5.5 * i / Rate); }), Rate);
        QCOMPARE(held.noteSegments().size(), size_t(1));
        QCOMPARE(held.noteSegments().front().targetMidi, 69);
        QVERIFY2(std::fabs(held.noteSegments().front().shiftSemitones + 0.3) < 0.05,
                 qPrintable(QString::number(held.noteSegments().front().shiftSemitones)));
    }

    void silenceHasNoSegments()
    {
        const QList<float> silence(Rate, 0.0f);
        PitchCorrectionDialog dialog(silence, Rate, nullptr);
        QCOMPARE(dialog.infoText(), QStringLiteral("0 个音高段"));
        QCOMPARE(dialog.geometry().scrollSeconds, 0.0);
        dialog.runCorrection();
        QCOMPARE(dialog.correctedSamples, silence);
    }

    void crossfadeIsSymmetric()
    {
        const float expected[] = {0, 1 / 3.0f, 2 / 3.0f, 1, 1, 1, 1, 2 / 3.0f, 1 / 3.0f, 0};
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(PitchCorrectionSession::crossfadeGain(i, 10, 3), expected[i]);
            QCOMPARE(PitchCorrectionSession::crossfadeGain(i, 10, 3),
                     PitchCorrectionSession::crossfadeGain(9 - i, 10, 3));
            QCOMPARE(PitchCorrectionSession::crossfadeGain(i, 10, 0), 1.0f);
        }
        // Longer fades than half the segment never step above the ramps.
        for (int i = 0; i < 10; ++i)
            QVERIFY(PitchCorrectionSession::crossfadeGain(i, 10, 8) <= 4.5f / 8);
    }

    void targetsFollowTheUser()
    {
        PitchCorrectionDialog dialog(toneInSilence(450.0), Rate, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const PitchCorrectionSegment& segment = dialog.session().noteSegments()[0];
        const PitchRollGeometry& view = dialog.geometry();
        const double middle = dialog.session().frameTime((segment.startFrame + segment.endFrame) / 2);
        const QPoint on(view.secToX(middle), int(view.rowCentre(69)));
        QCOMPARE(dialog.hitTestSegment(on), 0);

        // 100 px up at 24 px a row: 4.17 rows, so four semitones.
        QTest::mousePress(&dialog, Qt::LeftButton, {}, on);
        QMouseEvent move(QEvent::MouseMove, on - QPoint(0, 100), dialog.mapToGlobal(on - QPoint(0, 100)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&dialog, &move);
        QTest::mouseRelease(&dialog, Qt::LeftButton, {}, on - QPoint(0, 100));
        QCOMPARE(segment.targetMidi, 73);
        QVERIFY(segment.manual);
        QCOMPARE(dialog.infoText(), QStringLiteral("1 个音高段 | 目标: 73"));

        // A manual target keeps its note whatever the strength did meanwhile.
        auto* strength = dialog.findChild<QSlider*>();
        strength->setValue(50);
        QVERIFY(segment.targetFreq < YinPitchDetector::midiToFrequency(73));
        strength->setValue(100);
        QCOMPARE(segment.targetMidi, 73);
        QVERIFY(std::fabs(segment.targetFreq - YinPitchDetector::midiToFrequency(73)) < 0.01);

        // Up and Down on the selected segment; the ends hold.
        QTest::keyClick(&dialog, Qt::Key_Down);
        QCOMPARE(segment.targetMidi, 72);
        for (int i = 0; i < 60; ++i)
            QTest::keyClick(&dialog, Qt::Key_Up);
        QCOMPARE(segment.targetMidi, 127);

        // The ruler places the playhead.
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(48 + 150, 10));
        QCOMPARE(dialog.playhead(), view.scrollSeconds + 1.5);
    }
};

QTEST_MAIN(PitchCorrectionTest)
#include "tst_PitchCorrection.moc"
