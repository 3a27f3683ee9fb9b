// The track row: the instrument list of MIDI rows, header edits written into
// the track, lane events, rebinding after the page's vector moved, removal
// keys and the selection look.

#include "engine/instruments/PianoSampler.h"
#include "engine/instruments/SF2Sampler.h"
#include "multitrack/AudioClipWidget.h"
#include "multitrack/MidiClipWidget.h"
#include "multitrack/TrackHeaderWidget.h"
#include "multitrack/TrackInstrumentList.h"
#include "multitrack/TrackRowWidget.h"
#include "app/StartUp.h"
#include "plugins/AudioPluginBridge.h"
#include "../plugins/PluginTestSupport.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

namespace {

const QString kFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

TrackData track(int type, const QString& name)
{
    TrackData t;
    t.type = type;
    t.name = name;
    t.color = QColor(0x00, 0xf2, 0xff);
    return t;
}

QStringList presets(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("Preset %1").arg(i);
    return names;
}

void mouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::KeyboardModifiers modifiers = {})
{
    QMouseEvent event(type, QPointF(pos), w.mapToGlobal(QPointF(pos)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, modifiers);
    QApplication::sendEvent(&w, &event);
}

// Chooses the first entry of the next context menu once it is up.
void chooseFirstEntryOfNextMenu(QString* seenText)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, seenText] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        *seenText = menu->actions().first()->text();
        menu->setActiveAction(menu->actions().first());
        QTest::keyClick(menu, Qt::Key_Return);
        poll->deleteLater();
    });
    poll->start(5);
}

} // namespace

class TrackRowWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void instrumentEntries()
    {
        TrackInstrumentList::Sources sources;
        sources.plugins = {{4, QStringLiteral("Synth")}, {7, QString()}, {9, QStringLiteral("Organ")}};
        sources.soundFontLoaded = true;
        sources.presetNames = presets(128);
        const TrackInstrumentList list(sources);
        QCOMPARE(list.entries().size(), 2 + 1 + 128);
        QCOMPARE(list.entries().mid(0, 4),
                 (QStringList{"[VST3] Synth", "[VST3] Organ", QString(), "Preset 0"}));
        QCOMPARE(list.firstInstrumentEntry(), 3);

        TrackData t = track(MidiTrack, "m");
        t.instrumentIndex = 5;
        QCOMPARE(list.currentEntry(t), 8);
        t.instrumentIndex = 500; // past the presets: the last one
        QCOMPARE(list.currentEntry(t), 130);
        t.pluginId = 9;
        QCOMPARE(list.currentEntry(t), 1);
        t.pluginId = 42; // no longer loaded
        QCOMPARE(list.currentEntry(t), 0);

        QCOMPARE(list.choose(3).pluginId, -1);
        QCOMPARE(list.choose(3).instrumentIndex, 0);
        QCOMPARE(list.choose(10).instrumentIndex, 7);
        QCOMPARE(list.choose(1).pluginId, 9);
        QCOMPARE(list.choose(1).instrumentIndex, 0);
        QVERIFY(!list.choose(-1).valid);
        QVERIFY(!list.choose(131).valid);

        TrackInstrumentList::Sources piano;
        piano.pianoAvailable = true;
        QCOMPARE(TrackInstrumentList(piano).entries(), QStringList{"内置钢琴"});
        QCOMPARE(TrackInstrumentList({}).entries(), QStringList{"(未加载音色库)"});
        QCOMPARE(TrackInstrumentList({}).currentEntry(t), 0);
    }

    void midiRowWithSoundFont()
    {
        if (!QFile::exists(kFont))
            QSKIP("timgm6mb-soundfont is not installed");
        SF2Sampler sf2;
        QVERIFY(sf2.loadSoundFont(kFont));
        PianoSampler piano;
        std::vector<TrackData> tracks{track(MidiTrack, "keys")};
        tracks[0].instrumentIndex = 5;
        tracks[0].midiChannel = 3;
        TrackRowWidget row;
        row.setTrackData(&tracks[0], 0, &sf2, &piano, nullptr);
        TrackHeaderWidget* header = row.header();
        QVERIFY(row.midiLane() && !row.audioLane());
        QCOMPARE(header->instrumentCombo()->count(), sf2.getPresetNames().size());
        QCOMPARE(header->currentInstrumentIndex(), 5);
        QCOMPARE(sf2.currentPresetIndex(3), 5);
        QVERIFY(header->instrumentCombo()->isVisibleTo(header));
        QVERIFY(!header->vst3Button()->isVisibleTo(header));

        QSignalSpy changed(&row, &TrackRowWidget::trackChanged);
        header->instrumentCombo()->setCurrentIndex(9);
        QCOMPARE(tracks[0].instrumentIndex, 9);
        QCOMPARE(tracks[0].pluginId, -1);
        QCOMPARE(sf2.currentPresetIndex(3), 9);
        QCOMPARE(changed.count(), 1);
        header->instrumentCombo()->setCurrentIndex(-1); // cleared: ignored
        QCOMPARE(changed.count(), 1);
        QCOMPARE(tracks[0].instrumentIndex, 9);
    }

    void instrumentPluginsFromTheBridge()
    {
        PluginTestSupport::CallLog calls;
        AudioPluginBridge bridge;
        bridge.initialize(44100, 512);
        const int gain = bridge.loadPlugin(PluginTestSupport::bundle("CdwGain"));
        const int synth = bridge.loadPlugin(PluginTestSupport::bundle("CdwSynth"));
        QVERIFY(gain >= 0 && synth >= 0);
        std::vector<TrackData> tracks{track(MidiTrack, "m"), track(AudioTrack, "a")};
        tracks[0].pluginId = 77; // no longer loaded
        TrackRowWidget midiRow;
        midiRow.setTrackData(&tracks[0], 0, nullptr, nullptr, &bridge);
        TrackHeaderWidget* header = midiRow.header();
        QCOMPARE(header->instrumentCombo()->count(), 4);
        QCOMPARE(header->instrumentCombo()->itemText(1),
                 QStringLiteral("[VST3] ") + QString::fromStdString(bridge.pluginName(synth)));
        QCOMPARE(header->instrumentCombo()->itemText(2), QString());
        QCOMPARE(header->instrumentCombo()->itemText(3), QStringLiteral("(未加载音色库)"));
        QCOMPARE(header->currentInstrumentIndex(), 0);
        QVERIFY(header->vst3Button()->isVisibleTo(header));

        QSignalSpy toggled(&midiRow, &TrackRowWidget::vst3EditorToggled);
        tracks[0].instrumentIndex = 3;
        header->instrumentCombo()->setCurrentIndex(1);
        QCOMPARE(tracks[0].pluginId, synth);
        QCOMPARE(tracks[0].instrumentIndex, 0);
        QCOMPARE(calls.count(QStringLiteral("setActive 1")), 1);
        header->setVst3ButtonChecked(true);
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.at(0).at(0).toInt(), 0);
        header->instrumentCombo()->setCurrentIndex(3);
        QCOMPARE(tracks[0].pluginId, -1);
        QVERIFY(!header->vst3Button()->isVisibleTo(header) && !header->vst3Button()->isChecked());

        // An audio row shows neither, whatever is loaded.
        TrackRowWidget audioRow;
        audioRow.setTrackData(&tracks[1], 1, nullptr, nullptr, &bridge);
        QVERIFY(!audioRow.header()->instrumentCombo()->isVisibleTo(audioRow.header()));
        QVERIFY(!audioRow.header()->vst3Button()->isVisibleTo(audioRow.header()));
        bridge.shutdown();
    }

    void midiRowWithoutInstruments()
    {
        PianoSampler piano; // holds no samples
        std::vector<TrackData> tracks{track(MidiTrack, "m")};
        TrackRowWidget row;
        row.setTrackData(&tracks[0], 0, nullptr, &piano, nullptr);
        QCOMPARE(row.header()->instrumentCombo()->itemText(0), QStringLiteral("(未加载音色库)"));
        QCOMPARE(row.header()->instrumentCombo()->count(), 1);
    }

    void headerEditsLandInTheTrackAfterRebinding()
    {
        std::vector<TrackData> tracks{track(AudioTrack, "a")};
        TrackRowWidget row;
        row.setTrackData(&tracks[0], 0, nullptr, nullptr, nullptr);
        TrackHeaderWidget* header = row.header();
        QVERIFY(row.audioLane() && !row.midiLane());
        QVERIFY(!header->instrumentCombo()->isVisibleTo(header));
        QCOMPARE(header->name(), QStringLiteral("a"));

        // The vector moves: edits must reach the new element.
        tracks.reserve(tracks.capacity() * 4 + 8);
        tracks.push_back(track(AudioTrack, "b"));
        row.rebindTrackData(&tracks[0]);
        QSignalSpy changed(&row, &TrackRowWidget::trackChanged);
        header->setName(QStringLiteral("人声"));
        header->volumeSlider()->setValue(120);
        header->setMuted(true);
        header->setSolo(true);
        header->setArmed(true);
        QCOMPARE(changed.count(), 5);
        QCOMPARE(tracks[0].name, QStringLiteral("人声"));
        QCOMPARE(tracks[0].volume, 1.2f);
        QVERIFY(tracks[0].muted && tracks[0].solo && tracks[0].armed);
        QCOMPARE(row.audioLane()->trackData(), &tracks[0]);
    }

    void midiLaneEventsAndNewClips()
    {
        std::vector<TrackData> tracks{track(MidiTrack, "m")};
        TrackRowWidget row;
        row.setTrackData(&tracks[0], 2, nullptr, nullptr, nullptr);
        MidiClipWidget* lane = row.midiLane();
        // As on the page, the lane sits in another column than its row.
        QWidget column;
        lane->setParent(&column);
        lane->resize(800, 120);
        QSignalSpy changed(&row, &TrackRowWidget::trackChanged);
        QSignalSpy selected(&row, &TrackRowWidget::trackSelected);
        QSignalSpy playhead(&row, &TrackRowWidget::playheadMoved);
        // Alt-drag 1 s .. 3 s creates a clip the row appends.
        mouse(*lane, QEvent::MouseButtonPress, QPoint(100, 60), Qt::AltModifier);
        mouse(*lane, QEvent::MouseMove, QPoint(300, 60));
        mouse(*lane, QEvent::MouseButtonRelease, QPoint(300, 60));
        QCOMPARE(tracks[0].midiClips.size(), size_t(1));
        QCOMPARE(tracks[0].midiClips[0].start, 1.0);
        QCOMPARE(tracks[0].midiClips[0].duration, 2.0);
        QCOMPARE(tracks[0].midiClips[0].id, 0);
        QCOMPARE(changed.count(), 1);

        // A click on empty lane selects the row and moves the playhead.
        mouse(*lane, QEvent::MouseButtonPress, QPoint(600, 60));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toInt(), 2);
        QCOMPARE(playhead.count(), 1);

        QSignalSpy deleted(&row, &TrackRowWidget::deleteMidiClip);
        mouse(*lane, QEvent::MouseButtonPress, QPoint(200, 60));
        mouse(*lane, QEvent::MouseButtonRelease, QPoint(200, 60));
        QTest::keyClick(lane, Qt::Key_Delete);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.at(0).at(0).toInt(), 0);
        // A double-click outside the clips opens nothing and does not crash.
        QTest::mouseDClick(lane, Qt::LeftButton, Qt::NoModifier, QPoint(700, 60));
    }

    void removalKeysContextAndSelection()
    {
        std::vector<TrackData> tracks{track(AudioTrack, "a")};
        TrackRowWidget row;
        row.setTrackData(&tracks[0], 4, nullptr, nullptr, nullptr);
        QSignalSpy remove(&row, &TrackRowWidget::removeRequested);
        QTest::keyClick(&row, Qt::Key_Backspace);
        QCOMPARE(remove.count(), 0);
        QTest::keyClick(&row, Qt::Key_Backspace, Qt::ShiftModifier);
        QTest::keyClick(&row, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(remove.count(), 2);
        QCOMPARE(remove.at(0).at(0).toInt(), 4);

        QSignalSpy selected(&row, &TrackRowWidget::trackSelected);
        QString entry;
        chooseFirstEntryOfNextMenu(&entry);
        QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(5, 5), row.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&row, &context);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(entry, QStringLiteral("删除轨道"));
        QCOMPARE(remove.count(), 3);

        row.setSelected(true);
        QVERIFY(row.header()->styleSheet().contains("border-left: 3px solid #00f2ff"));
        QCOMPARE(row.focusPolicy(), Qt::StrongFocus);
        row.setSelected(false);
        QVERIFY(row.header()->styleSheet().contains("border-left: 3px solid transparent"));
        QCOMPARE(row.focusPolicy(), Qt::NoFocus);
    }

    void picture()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyStyleSheet(*app);
        std::vector<TrackData> tracks{track(AudioTrack, QStringLiteral("吉他")),
                                      track(MidiTrack, QStringLiteral("MIDI轨 1"))};
        AudioClip clip;
        for (int i = 0; i < 44100 * 3; ++i)
            clip.samples << 0.6f * float(std::sin(i * 0.02)) * float(i % 22050) / 22050.0f;
        clip.start = 0.5;
        clip.fadeIn = 0.4;
        tracks[0].audioClips.push_back(clip);
        tracks[1].color = QColor(0xff, 0xcc, 0x00);
        MidiClip midi;
        midi.start = 1.0;
        midi.duration = 3.0;
        for (int i = 0; i < 12; ++i)
            midi.notes.push_back(MidiNote{60 + i % 5, i * 0.25, 0.25, 100});
        tracks[1].midiClips.push_back(midi);

        QWidget page;
        auto* grid = new QGridLayout(&page);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setSpacing(0);
        std::vector<std::unique_ptr<TrackRowWidget>> rows;
        for (int i = 0; i < 2; ++i) {
            rows.push_back(std::make_unique<TrackRowWidget>());
            rows[i]->setTrackData(&tracks[i], i, nullptr, nullptr, nullptr);
            grid->addWidget(rows[i]->header(), i, 0);
            grid->addWidget(rows[i]->lane(), i, 1);
        }
        rows[1]->setSelected(true);
        page.resize(900, 240);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(TestSupport::saveScreenshot(page.grab(), QStringLiteral("track-rows.png")));
        // The page deletes header and lane with the row's widgets; here the layout owns them.
        for (auto& row : rows) {
            row->header()->setParent(nullptr);
            row->lane()->setParent(nullptr);
            delete row->header();
            delete row->lane();
        }
    }
};

QTEST_MAIN(TrackRowWidgetTest)
#include "tst_TrackRowWidget.moc"
