// The handlers the multitrack page attaches to its rows, lanes, headers and
// ruler, driven by gestures on a shown page: the add-track menu, exclusive
// record arm, clip deletion and envelope edits as undo steps, marker
// renaming, the clip-edit dialog, rendering a MIDI clip in place, plug-in
// editor windows, stale indexes from the rows' signals, and the edits
// refused while a take (on a scripted input device) records.

#include "../engine/FakeAudioDevice.h"
#include "MultiTrackPageTesting.h"
#include "TestSupport.h"
#include "editor/AudioEditorPage.h"
#include "editor/WaveformWidget.h"
#include "multitrack/TimelineRulerWidget.h"
#include "multitrack/TrackHeaderWidget.h"
#include "plugins/AudioPluginBridge.h"
#include "plugins/ui/PluginEditorWindows.h"
#include "plugins/ui/VST3EditorWindow.h"

#include <QtTest/QtTest>
#include <QtWidgets>
#include <functional>

using namespace PageTesting;

namespace {

// Runs `act` on the next modal dialog once it shows (QInputDialog::getText,
// the clip-edit dialog), from inside its event loop.
void whenModal(std::function<void(QDialog*)> act)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->deleteLater();
        poll->stop();
        act(dialog);
    });
    poll->start(10);
}

void answerInput(const QString& text)
{
    whenModal([text](QDialog* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        QVERIFY(input);
        input->setTextValue(text);
        input->accept();
    });
}

} // namespace

class MultiTrackPageCallbacksTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        TestSupport::withoutSoundServers();
        prepareApplication();
    }

    void addTrackMenuAndExclusiveArm()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.addTrack(AudioTrack, {}, 44100);
        page.addTrack(MidiTrack, {}, 44100);
        page.addTrack(AudioTrack, {}, 44100);
        QTest::mouseClick(button(page, QStringLiteral("+ 添加轨道")), Qt::LeftButton);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions()[0]->text(), QStringLiteral("音频轨"));
        menu->actions()[0]->trigger();
        menu->close();
        QCOMPARE(page.tracks.size(), size_t(4));
        QCOMPARE(page.tracks[3].name, QStringLiteral("音频轨 3"));
        QCOMPARE(page.tracks[3].type, int(AudioTrack));
        page.undo();
        QCOMPARE(page.tracks.size(), size_t(3));

        // Arming a second track disarms the first without its signal.
        TrackHeaderWidget* first = page.rows[0]->header();
        TrackHeaderWidget* second = page.rows[1]->header();
        QTest::mouseClick(first->armButton(), Qt::LeftButton);
        QVERIFY(page.tracks[0].armed && first->isArmed());
        QSignalSpy firstArm(first, &TrackHeaderWidget::armToggled);
        QTest::mouseClick(second->armButton(), Qt::LeftButton);
        QVERIFY(page.tracks[1].armed && second->isArmed());
        QVERIFY(!page.tracks[0].armed && !first->isArmed() && !first->armButton()->isChecked());
        QCOMPARE(firstArm.count(), 0);
    }

    void clipDeletionAndEnvelopeEditsAreUndoSteps()
    {
        MultiTrackEditorPage page;
        page.setSampleRate(8000);
        page.addTrack(AudioTrack, {}, 8000);
        page.tracks[0].audioClips = {rampClip(1.0, 8000, 0.0), rampClip(1.0, 8000, 2.0),
                                     rampClip(1.0, 8000, 4.0)};
        page.addMidiTrack(QStringLiteral("m"), {MidiNote{}}, 1.0);
        page.tracks[1].midiClips.push_back(MidiClip{1, {}, 3.0, 1.0});
        const int commands = page.undoStack->count();
        showPage(page); // rows built while the page was hidden, as when a project opens

        // Select the middle clip, Delete; undo puts it back in the middle.
        const AudioClip middle = page.tracks[0].audioClips[1];
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 2.5));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips[1].start, 4.0);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("删除音频块"));
        page.undo();
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(3));
        QCOMPARE(page.tracks[0].audioClips[1].start, middle.start);
        QCOMPARE(page.tracks[0].audioClips[1].samples.constData(), middle.samples.constData());

        QTest::mouseClick(lane(page, 1), Qt::LeftButton, Qt::NoModifier, at(page, 1, 3.5));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
        QCOMPARE(page.tracks[1].midiClips.size(), size_t(1));
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("删除MIDI块"));
        page.undo();
        QCOMPARE(page.tracks[1].midiClips.size(), size_t(2));
        QCOMPARE(page.tracks[1].midiClips[1].start, 3.0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete, Qt::ShiftModifier); // the track goes
        QCOMPARE(page.tracks.size(), size_t(1));
        page.undo();

        // An envelope point added by Alt+click is one step with the flag.
        QTest::mouseClick(button(page, QStringLiteral("包络")), Qt::LeftButton);
        QVERIFY(page.tracks[0].envelopeEnabled);
        const int beforeEnvelope = page.undoStack->index();
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::AltModifier, at(page, 0, 1.5));
        QCOMPARE(page.tracks[0].volumeEnvelope.size(), size_t(1));
        QCOMPARE(page.undoStack->index(), beforeEnvelope + 1);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("编辑包络"));
        page.tracks[0].envelopeEnabled = false; // the command puts back the flag it saw
        page.undo();
        QVERIFY(page.tracks[0].volumeEnvelope.empty());
        QVERIFY(page.tracks[0].envelopeEnabled);
        page.redo();
        QCOMPARE(page.tracks[0].volumeEnvelope.size(), size_t(1));
        QCOMPARE(page.undoStack->index(), commands + 1);
    }

    // Deleting the clip the playhead was put on, past the rest, brings the
    // playhead and its read-out back to the new end; 0 once nothing is left.
    void thePlayheadStaysWithinTheProject()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.addTrack(AudioTrack, {}, 8000);
        page.tracks[0].audioClips = {rampClip(2.0, 8000, 0.0), rampClip(30.0, 8000, 3.0)};
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 8.0));
        QTest::keyClick(lane(page, 0), Qt::Key_Delete);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:02.000"));
        page.removeTrack(0);
        QCOMPARE(page.timeReadout()->text(), QStringLiteral("00:00:00.000"));
    }

    void markerRenaming()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.addTrack(AudioTrack, {}, 44100);
        page.syncPlayheadAll(2.0);
        page.addMarkerAtPlayhead();
        const int commands = page.undoStack->count();
        answerInput(QString());
        emit page.ruler->markerDoubleClicked(0);
        QCOMPARE(page.undoStack->count(), commands);
        QCOMPARE(page.markers[0].label, QStringLiteral("M1"));

        answerInput(QStringLiteral("副歌"));
        emit page.ruler->markerDoubleClicked(0);
        QCOMPARE(page.markers[0].label, QStringLiteral("副歌"));
        QCOMPARE(page.ruler->markerList()[0].label, QStringLiteral("副歌"));
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("重命名标记"));
        page.undo();
        QCOMPARE(page.markers[0].label, QStringLiteral("M1"));
        emit page.ruler->markerDoubleClicked(3); // no such marker: no dialog
        QCOMPARE(page.undoStack->count(), commands + 1);
    }

    void clipEditDialog()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.setSampleRate(8000);
        page.addTrack(AudioTrack, {}, 8000, QStringLiteral("人声"));
        AudioClip clip = rampClip(10.0, 8000, 1.0);
        for (float v : clip.samples)
            clip.stereoSamples << v << -v;
        clip.audioStart = 1.0;
        clip.audioEnd = 2.0;
        clip.fadeIn = 0.25;
        page.tracks[0].audioClips.push_back(clip);
        const int commands = page.undoStack->count();

        // Cancelled: nothing changes.
        whenModal([](QDialog* dialog) { button(*dialog, QStringLiteral("取消"))->click(); });
        QTest::mouseDClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 3.0));
        QCOMPARE(page.undoStack->count(), commands);
        whenModal([](QDialog* dialog) { // a gain previewed is not taken for the edit
            dialog->findChild<AudioEditorPage*>()->showGainDialog();
            dialog->findChild<QDoubleSpinBox*>()->setValue(12.0);
            button(*dialog->findChild<QDialog*>(), QStringLiteral("预览"))->click();
            button(*dialog, QStringLiteral("确定"))->click();
        });
        QTest::mouseDClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 3.0));
        QCOMPARE(page.tracks[0].audioClips[0].stereoSamples, clip.stereoSamples);
        page.undo();

        // An edit is not closed away unasked: Esc drops the selection first,
        // then Esc, the title bar and "取消" ask; "应用" takes the edit.
        const auto gainEdit = [](QDialog* dialog) {
            auto* editor = dialog->findChild<AudioEditorPage*>();
            editor->showGainDialog();
            dialog->findChild<QDoubleSpinBox*>()->setValue(6.0);
            QDialog* gain = dialog->findChild<QDialog*>();
            button(*gain, QStringLiteral("应用"))->click();
            delete gain; // its buttons are not the editor dialog's
            return editor->waveform(0);
        };
        const auto answer = [](const char* text) {
            whenModal([text](QDialog* box) {
                QVERIFY(TestSupport::saveScreenshot(box->grab(), QStringLiteral("multitrack-clip-edit-close.png")));
                button(*box, QString::fromUtf8(text))->click();
            });
        };
        whenModal([&](QDialog* dialog) {
            WaveformWidget* waveform = gainEdit(dialog);
            QTest::mousePress(waveform, Qt::LeftButton, {}, QPoint(100, 50));
            QTest::mouseMove(waveform, QPoint(300, 50));
            QTest::mouseRelease(waveform, Qt::LeftButton, {}, QPoint(300, 50));
            QTest::keyClick(waveform, Qt::Key_Escape);
            QVERIFY(dialog->isVisible() && !waveform->hasSelection());
            answer("继续编辑");
            QTest::keyClick(waveform, Qt::Key_Escape);
            QVERIFY(dialog->isVisible());
            answer("放弃修改");
            QVERIFY(dialog->close());
        });
        QTest::mouseDClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 3.0));
        QCOMPARE(page.undoStack->index(), commands);
        whenModal([&](QDialog* dialog) {
            gainEdit(dialog);
            answer("应用");
            button(*dialog, QStringLiteral("取消"))->click();
        });
        QTest::mouseDClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 3.0));
        QVERIFY(std::abs(page.tracks[0].audioClips[0].stereoSamples[0] + 0.5f * 1.9952623f) < 1e-5f);
        page.undo();

        // The editor ends with 2.5 s of mono material: the stereo copy goes,
        // the old trims, which would leave none of it, go too, and it is one
        // undo step.
        const QList<float> edited = TestSupport::sineWave(330.0, 2.5, 16000, 0.3f);
        whenModal([&](QDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("编辑音频 - 人声"));
            auto* editor = dialog->findChild<AudioEditorPage*>();
            QVERIFY(editor);
            QCOMPARE(editor->stereoSamples.size(), clip.stereoSamples.size());
            editor->loadAudioSamples(edited, 16000);
            QVERIFY(TestSupport::saveScreenshot(dialog->grab(), QStringLiteral("multitrack-clip-edit.png")));
            button(*dialog, QStringLiteral("确定"))->click();
        });
        QTest::mouseDClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 3.0));
        const AudioClip& result = page.tracks[0].audioClips[0];
        QCOMPARE(result.samples, edited);
        QVERIFY(result.stereoSamples.isEmpty());
        QCOMPARE(result.sampleRate, 16000);
        QCOMPARE(result.audioStart, 0.0);
        QCOMPARE(result.audioEnd, 0.0);
        QCOMPARE(result.playableLength(), 2.5);
        QCOMPARE(result.start, 1.0);
        QCOMPARE(result.fadeIn, 0.25);
        QCOMPARE(page.undoStack->count(), commands + 1);
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("编辑音频"));
        page.undo();
        QCOMPARE(page.tracks[0].audioClips[0].samples.constData(), clip.samples.constData());
        QCOMPARE(page.tracks[0].audioClips[0].stereoSamples.size(), clip.stereoSamples.size());
        QCOMPARE(page.tracks[0].audioClips[0].audioEnd, 2.0);
    }

    void renderMidiClipInPlace()
    {
        MultiTrackEditorPage page;
        page.addMidiTrack(QStringLiteral("钢琴"), {MidiNote{60, 0.0, 0.5, 100}}, 1.0);
        page.addTrack(AudioTrack, {}, 44100, QStringLiteral("after"));
        page.tracks[0].midiClips[0].start = 2.0;
        QVERIFY(page.piano().sampleCount() > 0);
        emit page.rows[0]->renderMidiInPlace(0);
        QCOMPARE(page.tracks.size(), size_t(3));
        QCOMPARE(page.tracks[1].name, QStringLiteral("钢琴 (渲染)"));
        QVERIFY(page.rows[1]->audioLane() && page.rows[1]->trackData() == &page.tracks[1]);
        QCOMPARE(page.rows[2]->trackData(), &page.tracks[2]);
        QCOMPARE(page.rows[2]->index(), 2);
        const AudioClip& rendered = page.tracks[1].audioClips.at(0);
        QCOMPARE(rendered.start, 2.0);
        QVERIFY(rendered.playableLength() > 1.0);
        float peak = 0.0f;
        for (float v : rendered.samples.mid(0, 4410))
            peak = std::max(peak, std::abs(v));
        QVERIFY(peak > 0.01f); // the note sounds at the clip's start
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("就地渲染MIDI"));
        page.undo();
        QCOMPARE(page.tracks.size(), size_t(2));
        QCOMPARE(page.tracks[1].name, QStringLiteral("after"));
        QCOMPARE(page.rows[1]->trackData(), &page.tracks[1]);
    }

    void renderInPlaceStartsAtTheFirstNote()
    {
        // A note two seconds into a clip at 1:00:00: the audio starts with the
        // clip, the note where it sounds, and holds none of the hour before.
        const int rate = 8000;
        MultiTrackEditorPage page;
        page.setSampleRate(rate);
        page.addMidiTrack(QStringLiteral("钢琴"), {MidiNote{60, 2.0, 0.5, 100}}, 3.0);
        page.tracks[0].midiClips[0].start = 3600.0;
        emit page.rows[0]->renderMidiInPlace(0);
        QCOMPARE(page.tracks.size(), size_t(2));
        const AudioClip& rendered = page.tracks[1].audioClips.at(0);
        QCOMPARE(rendered.start, 3600.0);
        QCOMPARE(rendered.samples.size(), qsizetype(4 * rate)); // to a second past the clip
        const auto peak = [&](int from, int count) {
            float largest = 0.0f;
            for (float v : rendered.samples.mid(from, count))
                largest = std::max(largest, std::abs(v));
            return largest;
        };
        QCOMPARE(peak(0, 2 * rate), 0.0f);
        QVERIFY(peak(2 * rate, rate / 10) > 0.01f);

        // One that the machine cannot hold is refused, as an export is.
        MultiTrackEditorPage huge;
        huge.setSampleRate(192000);
        huge.addMidiTrack(QString(), {MidiNote{60, 0.0, 23 * 3600.0, 100}}, 23 * 3600.0);
        QString text;
        whenModal([&text](QDialog* dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog))
                text = box->text();
            dialog->accept();
        });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^MultiTrackEditorPage: rendering MIDI clip 0 needs"));
        emit huge.rows[0]->renderMidiInPlace(0);
        QVERIFY2(text.startsWith(QStringLiteral("导出需要约")), qPrintable(text));
        QCOMPARE(huge.tracks.size(), size_t(1));
    }

    void pluginEditorWindows()
    {
        MultiTrackEditorPage page;
        const QString bundle = qEnvironmentVariable("CDW_BINARY_DIR") + QStringLiteral("/testplugins/CdwGain.vst3");
        const int id = page.pluginBridge->loadPlugin(bundle.toStdString());
        QVERIFY(id >= 0);
        page.addMidiTrack(QStringLiteral("synth"), {}, 1.0);
        page.addMidiTrack(QStringLiteral("piano"), {}, 1.0);
        page.tracks[0].pluginId = id;
        QPushButton* vst3 = page.rows[0]->header()->vst3Button();
        page.rows[1]->header()->vst3Button()->click(); // no plug-in on that track
        QVERIFY(!page.pluginEditors() || !page.pluginEditors()->isOpen(id));

        vst3->click();
        PluginEditorWindows* editors = page.pluginEditors();
        QVERIFY(editors && editors->isOpen(id));
        QPointer<VST3EditorWindow> window = editors->window(id);
        QCOMPARE(window->title(), QStringLiteral("Cdw Gain"));
        QSignalSpy deleted(window.data(), &QObject::destroyed);
        // Closed by its title bar: out of the map at once, deleted once, later.
        window->close();
        QVERIFY(!editors->isOpen(id));
        QTRY_VERIFY(!window);
        QCOMPARE(deleted.count(), 1);
        QVERIFY(vst3->isChecked());
        vst3->click(); // unchecked: there is no window to close
        QVERIFY(!editors->isOpen(id));
        vst3->click(); // checked again: a new window
        QVERIFY(editors->isOpen(id));
        QPointer<VST3EditorWindow> second = editors->window(id);
        vst3->click();
        QVERIFY(!editors->isOpen(id));
        QTRY_VERIFY(!second);
    }

    void editsThatWouldMoveATakeAreRefused()
    {
        auto device = FakeDeviceState::withDevices();
        MultiTrackEditorPage page;
        showPage(page);
        page.setRecordDeviceFactory([device] { return FakeAudioDevice::make(device); });
        page.setSampleRate(8000);
        page.addTrack(AudioTrack, {}, 8000, QStringLiteral("vox"));
        page.addTrack(AudioTrack, {}, 8000, QStringLiteral("gtr"));
        page.tracks[0].audioClips = {rampClip(2.0, 8000, 0.0)};
        page.tracks[1].audioClips = {rampClip(1.0, 8000, 0.0)};
        layOut(page);
        page.syncPlayheadAll(3.0);
        page.addMarkerAtPlayhead(); // something to undo
        QTest::mouseClick(page.rows[0]->header()->armButton(), Qt::LeftButton);
        page.onRecord();
        QVERIFY(page.recording() && page.takeWritesTo(0) && !page.takeWritesTo(1));
        const std::vector<float> block(512, 0.25f);
        device->runBlock(512, block.data());
        QTRY_COMPARE(page.tracks[0].audioClips.back().samples.size(), qsizetype(512));
        const AudioClip own = page.tracks[0].audioClips.front();

        // Scissors: the other track still splits, the recorded one does not.
        QTest::mouseClick(button(page, QStringLiteral("剪刀")), Qt::LeftButton);
        page.syncPlayheadAll(0.5);
        QTest::mouseClick(lane(page, 1), Qt::LeftButton, Qt::NoModifier, at(page, 1, 0.25));
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(2));
        page.syncPlayheadAll(1.0);
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 0.25));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        const int undoIndex = page.undoStack->index();

        // Move tool: nothing leaves, reaches or moves on the recorded track.
        QTest::mouseClick(button(page, QStringLiteral("移动")), Qt::LeftButton);
        drag(page, 1, at(page, 1, 0.25), overRow(page, 1, 0, at(page, 1, 0.25).x()));
        drag(page, 0, at(page, 0, 0.25), at(page, 0, 0.25) + QPoint(100, 0));
        drag(page, 0, at(page, 0, 0.25), overRow(page, 0, 1, at(page, 0, 0.25).x()));
        QVERIFY(!page.clipDragGhost());
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips[0].start, 0.0);
        QCOMPARE(page.tracks[1].audioClips.size(), size_t(2));

        // Delete, the clip dialog, undo and redo are refused as well.
        QTest::mouseClick(button(page, QStringLiteral("移动")), Qt::LeftButton);
        QTest::mouseClick(lane(page, 0), Qt::LeftButton, Qt::NoModifier, at(page, 0, 0.5));
        QTest::keyClick(lane(page, 0), Qt::Key_Delete);
        emit page.rows[0]->clipDoubleClicked(0); // would block in a modal dialog
        QTest::keyClick(&page, Qt::Key_Z, Qt::ControlModifier);
        page.undo();
        page.redo();
        QCOMPARE(page.undoStack->index(), undoIndex);
        QCOMPARE(page.tracks.size(), size_t(2));
        QCOMPARE(page.markers.size(), size_t(1));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips.front().samples.constData(), own.samples.constData());

        // The take goes on into its own clip and stops as one step.
        device->runBlock(512, block.data());
        QTRY_COMPARE(page.tracks[0].audioClips.back().samples.size(), qsizetype(1024));
        page.onRecord();
        QVERIFY(!page.recording());
        QCOMPARE(page.undoStack->undoText(), QStringLiteral("录音"));
        page.undo();
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));

        // Removing a track ends the take first, keeping it; so does clearing.
        page.redo();
        page.onRecord();
        QVERIFY(page.recording());
        device->runBlock(512, block.data());
        QTRY_COMPARE(page.tracks[0].audioClips.back().samples.size(), qsizetype(512));
        emit page.rows[1]->trackSelected(1);
        QTest::keyClick(&page, Qt::Key_Delete, Qt::ShiftModifier);
        QVERIFY(!page.recording());
        QCOMPARE(page.tracks.size(), size_t(1));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(3));
        QCOMPARE(page.undoStack->text(page.undoStack->index() - 2), QStringLiteral("录音"));
        page.onRecord();
        QVERIFY(page.recording());
        page.clearTracks();
        QVERIFY(!page.recording() && !device->open);
        QVERIFY(page.tracks.empty());
    }

    void staleIndexesAreIgnored()
    {
        MultiTrackEditorPage page;
        showPage(page);
        page.addTrack(AudioTrack, TestSupport::sineWave(100.0, 1.0, 8000, 0.2f), 8000);
        page.addMidiTrack(QStringLiteral("m"), {MidiNote{}}, 1.0);
        page.syncPlayheadAll(0.5);
        const int commands = page.undoStack->count();
        TrackRowWidget* audio = page.rows[0];
        TrackRowWidget* midi = page.rows[1];
        for (int clip : {-1, 1, 1000}) {
            emit audio->deleteAudioClip(clip);
            emit audio->scissorClicked(clip);
            emit audio->clipDoubleClicked(clip);
            emit midi->deleteMidiClip(clip);
            emit midi->renderMidiInPlace(clip);
            emit audio->clipDragStarted(clip, QPoint(0, 0));
            emit audio->clipDragFinished(lane(page, 0)->mapToGlobal(QPoint(200, LaneY)));
        }
        // The wrong kind of clip for the track, and rows whose index went stale.
        emit audio->deleteMidiClip(0);
        emit midi->deleteAudioClip(0);
        audio->updateIndex(7);
        midi->updateIndex(-2);
        emit audio->deleteAudioClip(0);
        emit audio->scissorClicked(0);
        emit midi->deleteMidiClip(0);
        emit audio->trackChanged();
        emit lane(page, 0)->envelopeEditCommitted({}, {EnvelopePoint{1.0, 0.5f}});
        page.splitClipAtPlayhead(-1, 0);
        page.splitClipAtPlayhead(2, 0);
        page.onClipDragFinished(0, QPoint(0, 0)); // no drag running
        audio->updateIndex(0);
        midi->updateIndex(1);
        QCOMPARE(page.undoStack->count(), commands);
        QCOMPARE(page.tracks.size(), size_t(2));
        QCOMPARE(page.tracks[0].audioClips.size(), size_t(1));
        QCOMPARE(page.tracks[1].midiClips.size(), size_t(1));
        QVERIFY(page.tracks[0].volumeEnvelope.empty());
        QVERIFY(!page.clipDragActive());
    }
};

QTEST_MAIN(MultiTrackPageCallbacksTest)
#include "tst_MultiTrackPageCallbacks.moc"
