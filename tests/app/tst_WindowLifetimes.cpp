// Every dialog and window, closed each way a user can, then left open
// (previews running) while the program quits: the event loop must end and
// the pages go with their windows (the sanitizers watch).
// CDW_PLAYS_THROUGH_SERVERS: the previews sound on the test servers.

#include "ShellTestSupport.h"
#include "TestSupport.h"
#include "VideoTestMedia.h"

#include "editor/AudioEditorPage.h"
#include "editor/WaveformWidget.h"
#include "engine/ui/MidiDeviceDialog.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/MultiTrackEditorPage.h"
#include "multitrack/PianoRollDialog.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackRowWidget.h"
#include "plugins/ui/VST3EditorWindow.h"
#include "video/VideoPlayerDialog.h"

#include <QtTest/QtTest>
#include <QtWidgets>

#include <memory>

namespace {

constexpr int Rate = 44100;

enum class Closing { Escape, CloseButton, OwnButton };
constexpr Closing AllWays[] = {Closing::Escape, Closing::CloseButton, Closing::OwnButton};

QString testBundle(const char* name)
{
    return QString::fromLocal8Bit(qgetenv("CDW_BINARY_DIR")) + "/testplugins/" + name + ".vst3";
}

void closeBy(QWidget* window, Closing way)
{
    switch (way) {
    case Closing::Escape:
        QTest::keyClick(window, Qt::Key_Escape);
        break;
    case Closing::CloseButton:
        window->close(); // what the title bar's button does
        break;
    case Closing::OwnButton:
        for (const QString& text : {QStringLiteral("取消"), QStringLiteral("关闭")}) {
            if (QPushButton* button = TestSupport::buttonWithText(*window, text)) {
                button->click();
                return;
            }
        }
        window->close();
        break;
    }
}

// The visible windows that keep the program running, by title.
QStringList primaryWindowsShown()
{
    QStringList shown;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && !window->transientParent() && window->type() != Qt::ToolTip)
            shown << window->title();
    }
    return shown;
}

// Opens one of the page's dialogs by its slot and starts its preview.
QDialog* openWithPreview(QWidget& page, const char* slot)
{
    const QList<QDialog*> before = page.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!QMetaObject::invokeMethod(&page, slot))
        return nullptr;
    for (QDialog* dialog : page.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (before.contains(dialog) || !dialog->isVisible())
            continue;
        for (const QString& preview : {QStringLiteral("预览"), QStringLiteral("试听")}) {
            if (QPushButton* button = TestSupport::buttonWithText(*dialog, preview))
                button->click();
        }
        return dialog;
    }
    return nullptr;
}

} // namespace

class WindowLifetimesTest : public QObject, public VideoTestMedia::MediaFolder {
    Q_OBJECT
    QTemporaryDir settings;

    // Quit → Discard in the program's own event loop: it must end, with no
    // window left that keeps it going; then the window and its pages go.
    void quitAndDestroy(std::unique_ptr<ShellProbeWindow>& window)
    {
        window->prompts->answers << QMessageBox::Discard;
        QTimer::singleShot(0, window.get(), [&window] { window->menuActions().quit->trigger(); });
        // A watchdog for a quit held up: a quit, its sound outputs stopped,
        // takes under a second, also beside a fully loaded machine.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        watchdog.start(10000);
        QElapsedTimer quitting;
        quitting.start();
        const int result = QApplication::exec();
        watchdog.stop();
        QVERIFY2(result == 0, qPrintable(QStringLiteral("after %1 ms: %2")
                                             .arg(quitting.elapsed())
                                             .arg(primaryWindowsShown().join(QStringLiteral(", ")))));
        QVERIFY(primaryWindowsShown().isEmpty());
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(primaryWindowsShown().isEmpty());
    }

    std::unique_ptr<ShellProbeWindow> openWindow(const QString& projectType)
    {
        auto window = std::make_unique<ShellProbeWindow>();
        window->multiTrackPage->setSoundFontFolder(settings.filePath(QStringLiteral("fonts")));
        window->show();
        window->openNewProject(projectType, Rate, 16, false);
        return window;
    }

private slots:
    void initTestCase()
    {
        qputenv("JACK_DEFAULT_SERVER", "cdw-no-such-server");
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        ShellTestSupport::prepareApplication(settings);
    }

    void effectDialogs()
    {
        auto window = openWindow(QStringLiteral("single"));
        AudioEditorPage* page = window->audioEditorPage;
        page->loadAudioSamples(TestSupport::sineWave(440.0, 2.0, Rate, 0.5f), Rate);
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // The noise reduction learns from a selection.
        WaveformWidget* view = page->waveform(0);
        auto select = [view] {
            QTest::mousePress(view, Qt::LeftButton, {}, QPoint(10, 50));
            QTest::mouseMove(view, QPoint(view->width() / 2, 50));
            QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width() / 2, 50));
            return view->hasSelection();
        };
        const char* openers[] = {"showGainDialog",         "showCenterExtractionDialog", "showNoiseReductionDialog",
                               "showReverbDialog",       "showDelayDialog",            "showTempoDetectionDialog",
                               "showPitchCorrectionDialog", "showChannelConvertDialog", "showCompressorDialog",
                               "showEqualizerDialog"};
        for (const char* slot : openers) {
            for (Closing way : AllWays) {
                QVERIFY(select());
                QPointer<QDialog> dialog = openWithPreview(*page, slot);
                QVERIFY2(dialog, slot);
                closeBy(dialog, way);
                QTRY_VERIFY2(dialog.isNull() || dialog->isHidden(), slot);
            }
        }
        QCOMPARE(page->undoStack->count(), 0);
        // All of them open at once, with their previews, when the program quits.
        for (const char* slot : openers) {
            QVERIFY(select());
            QVERIFY2(openWithPreview(*page, slot), slot);
        }
        quitAndDestroy(window);
    }

    void multitrackWindows()
    {
        auto window = openWindow(QStringLiteral("multi"));
        MultiTrackEditorPage* page = window->multiTrackPage;
        page->addMidiTrack(QStringLiteral("Keys"), {MidiNote{60, 0.0, 0.5, 100}, MidiNote{64, 0.5, 0.5, 100}}, 4.0);
        TrackRowWidget* row = page->rows[0];
        for (Closing way : AllWays) {
            emit row->midiLane()->clipDoubleClicked(0);
            QPointer<PianoRollDialog> roll = row->pianoRolls().back();
            QVERIFY(QTest::qWaitForWindowExposed(roll));
            closeBy(roll, way);
            QTRY_VERIFY(roll.isNull());
        }
        // The device dialog is modal: each way of closing it from inside.
        for (Closing way : AllWays) {
            bool seen = false;
            QTimer::singleShot(50, page, [&seen, way] {
                auto* dialog = qobject_cast<MidiDeviceDialog*>(QApplication::activeModalWidget());
                seen = dialog != nullptr;
                if (dialog)
                    closeBy(dialog, way);
            });
            page->showMidiDeviceDialog();
            QVERIFY(seen);
        }
        // The plug-in editor, closed by its title bar: the button, still
        // checked, finds no window, and opens it again.
        window->prompts->files << testBundle("CdwSynth");
        window->menuActions().importVst3->trigger();
        row->header()->instrumentCombo()->setCurrentIndex(0);
        QCOMPARE(page->tracks[0].pluginId, 0);
        auto editor = [] {
            for (QWindow* window : QGuiApplication::topLevelWindows()) {
                if (auto* found = qobject_cast<VST3EditorWindow*>(window); found && found->isVisible())
                    return found;
            }
            return static_cast<VST3EditorWindow*>(nullptr);
        };
        row->header()->vst3Button()->click();
        QVERIFY(editor());
        editor()->close();
        QTRY_VERIFY(!editor());
        row->header()->vst3Button()->click();
        row->header()->vst3Button()->click();
        QVERIFY(editor());
        // A key played (the live output runs), a roll left open auditioning.
        page->onMidiNoteOn(0, 60, 100);
        emit row->midiLane()->clipDoubleClicked(0);
        PianoRollDialog* roll = row->pianoRolls().back();
        const QPoint key(20, roll->pitchToY(62) + roll->rowHeight() / 2);
        QTest::mousePress(roll, Qt::LeftButton, {}, key);
        quitAndDestroy(window);
    }

    // A page's sound output can run the event loop as it goes (for a second
    // and more on a busy machine): by then the window's own timers stand
    // still, or they would call into what is left of the window.
    void windowTimersStandStillWhileThePagesGo()
    {
        auto window = openWindow(QStringLiteral("multi"));
        const QList<QTimer*> found = window->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
        const QList<QPointer<QTimer>> timers(found.begin(), found.end());
        QVERIFY(!timers.isEmpty());
        int running = -1; // as the page goes
        connect(window->multiTrackPage, &QObject::destroyed, [&] {
            running = int(std::count_if(timers.begin(), timers.end(), [](const auto& t) { return t && t->isActive(); }));
        });
        window.reset();
        QCOMPARE(running, 0);
    }

    // A key already on its way when the page goes (stopping the live output
    // lets events run) does not start the output again.
    void aKeyOnItsWayWhenThePageGoes()
    {
        auto page = std::make_unique<MultiTrackEditorPage>();
        page->onMidiNoteOn(0, 60, 100); // the live output runs
        MultiTrackEditorPage* going = page.get();
        QMetaObject::invokeMethod(going, [going] { going->onMidiNoteOn(0, 64, 100); }, Qt::QueuedConnection);
        page.reset();
    }

    void videoPreview()
    {
        QVERIFY2(mediaReady(), "a temporary folder and ffmpeg make the test video");
        QVERIFY(VideoTestMedia::make(path("clip.mkv"), VideoTestMedia::pattern("160x120", 1)
                                                           + VideoTestMedia::stereoTone(1)
                                                           + QStringList{"-c:v", "mpeg4", "-c:a", "flac"}));
        for (const QString& type : {QStringLiteral("single"), QStringLiteral("multi")}) {
            auto window = openWindow(type);
            for (Closing way : {Closing::Escape, Closing::CloseButton}) {
                window->importVideoFile(path("clip.mkv"));
                QPointer<VideoPlayerDialog> preview = window->findChild<VideoPlayerDialog*>();
                QVERIFY(preview && preview->isVisible());
                closeBy(preview, way);
                QTRY_VERIFY(preview.isNull() || preview->isHidden());
            }
            window->importVideoFile(path("clip.mkv"));
            QVERIFY(window->findChild<VideoPlayerDialog*>());
            quitAndDestroy(window);
        }
    }
};

QTEST_MAIN(WindowLifetimesTest)
#include "tst_WindowLifetimes.moc"
