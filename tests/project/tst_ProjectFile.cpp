// Project files on disk: atomic saves, the load failures the shell reports,
// damaged files and a project far larger than a typical session.

#include "ProjectTestData.h"
#include "TestSupport.h"
#include "project/PageCacheSparingWriter.h"
#include "project/ProjectFile.h"
#include "project/ProjectSerializer.h"

#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <random>

using namespace ProjectTestData;

namespace {

using TestSupport::FileSizeLimit;

// A disk that fails to write back every stretch it is sent.
int failingSync(int, off64_t, off64_t, unsigned int)
{
    errno = EIO;
    return -1;
}

} // namespace

class ProjectFileTest : public QObject {
    Q_OBJECT
private slots:
    void saveAndLoad()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("song.cdw");
        const auto tracks = sampleTracks();
        QCOMPARE(ProjectFile::save(path, "song", tracks, {}, 0.0, 1.0, sampleMarkers()),
                 ProjectFile::SaveResult::Saved);
        // Exactly the indented text Qt writes for the same document.
        const QByteArray text = TestSupport::fileBytes(path);
        QCOMPARE(QJsonDocument::fromJson(text).toJson(QJsonDocument::Indented), text);

        ProjectData data;
        QCOMPARE(ProjectFile::load(path, data), ProjectFile::LoadResult::Loaded);
        QCOMPARE(data.name, QStringLiteral("song"));
        QCOMPARE(data.tracks.size(), tracks.size());
        QCOMPARE(data.tracks[0].audioClips[1].stereoSamples.size(), 600);
        QDir names(dir.path());
        QCOMPARE(names.entryList(QDir::Files), QStringList{"song.cdw"}); // no temporary left
    }

    void failedSaveKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("keep.cdw");
        QVERIFY(ProjectFile::save(path, "keep", sampleTracks(), {}, 0, 1, {})
                == ProjectFile::SaveResult::Saved);
        const QByteArray before = TestSupport::fileBytes(path);

        std::vector<TrackData> big(1);
        AudioClip clip;
        clip.samples = QList<float>(2'000'000, 0.25f); // ~10 MB of text
        big[0].audioClips.push_back(clip);
        {
            FileSizeLimit limit(1 << 20);
            QCOMPARE(ProjectFile::save(path, "keep", big, {}, 0, 1, {}),
                     ProjectFile::SaveResult::Incomplete);
        }
        QCOMPARE(TestSupport::fileBytes(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.cdw"});

        QCOMPARE(ProjectFile::save(dir.filePath("missing/folder/x.cdw"), "x", {}, {}, 0, 1, {}),
                 ProjectFile::SaveResult::CannotWrite);
    }

    // A stretch the disk fails to write back fails the writing, mid-way
    // (past the first stretch) or at the end.
    void diskErrorsFailTheWriting()
    {
        QTemporaryDir dir;
        const QByteArray block(1 << 20, 'x');
        for (const int blocks : {1, 40}) {
            QSaveFile file(dir.filePath("x.cdw"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            PageCacheSparingWriter writer(file, &failingSync);
            int written = 0;
            while (written < blocks && writer.write(block) == block.size())
                ++written;
            QVERIFY(written == blocks ? !writer.finish() : blocks > 1);
            QCOMPARE(writer.failureErrno(), EIO);
        }
    }

    void loadFailures()
    {
        QTemporaryDir dir;
        ProjectData data;
        data.name = QStringLiteral("untouched");
        QCOMPARE(ProjectFile::load(dir.filePath("absent.cdw"), data),
                 ProjectFile::LoadResult::CannotRead);
        QCOMPARE(ProjectFile::load(dir.path(), data), ProjectFile::LoadResult::CannotRead);

        const QString broken = dir.filePath("broken.cdw");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"version\": \"1.0.0\", \"tracks\": [");
        file.close();
        QString error;
        QCOMPARE(ProjectFile::load(broken, data, &error), ProjectFile::LoadResult::FormatError);
        QVERIFY(!error.isEmpty());

        const QString notProject = dir.filePath("other.cdw");
        QFile other(notProject);
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("{\"tracks\": []}");
        other.close();
        QCOMPARE(ProjectFile::load(notProject, data), ProjectFile::LoadResult::InvalidProject);
        QCOMPARE(data.name, QStringLiteral("untouched"));
    }

    // Hand-edited audio: an escaped character still reads; a damaged channel
    // refuses the file, naming the clip.
    void handEditedAudio()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("edited.cdw");
        QVERIFY(ProjectFile::save(path, "edited", sampleTracks(), {}, 0, 1, {}) == ProjectFile::SaveResult::Saved);
        const QByteArray saved = TestSupport::fileBytes(path);
        ProjectData original;
        QCOMPARE(ProjectFile::load(path, original), ProjectFile::LoadResult::Loaded);

        const qsizetype channel = saved.indexOf("\"channels\": [");
        const qsizetype open = saved.indexOf('"', channel + 12);
        const qsizetype slash = saved.indexOf('/', open);
        QVERIFY(channel > 0 && slash > open && slash < saved.indexOf('"', open + 1));
        auto writeAndLoad = [&](const QByteArray& text, ProjectData& data, QString* error) {
            QFile file(path);
            file.open(QIODevice::WriteOnly | QIODevice::Truncate);
            file.write(text);
            file.close();
            return ProjectFile::load(path, data, error);
        };
        QByteArray escaped = saved;
        escaped.replace(slash, 1, "\\/");
        ProjectData data;
        QCOMPARE(writeAndLoad(escaped, data, nullptr), ProjectFile::LoadResult::Loaded);
        ProjectTestData::compareProjects(data, original);

        QByteArray damaged = saved;
        damaged.insert(open + 40, '#');
        data.name = QStringLiteral("untouched");
        QString error;
        QCOMPARE(writeAndLoad(damaged, data, &error), ProjectFile::LoadResult::FormatError);
        QCOMPARE(error, QStringLiteral("第1条轨道第1个音频片段的音频数据已损坏"));
        QCOMPARE(data.name, QStringLiteral("untouched"));
    }

    // Thousands of damaged copies of a valid file: every one loads or fails
    // by result, never crashes (the sanitizers watch memory).
    void damagedFilesNeverCrash()
    {
        QByteArray valid;
        {
            QBuffer buffer(&valid);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(ProjectSerializer::writeProject(&buffer, "m", sampleTracks(), {}, 0, 1, sampleMarkers()));
        }
        // Thousands of refusals would flood the log.
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        std::mt19937 random(20261207);
        int loaded = 0, refused = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray text = valid;
            const int edits = 1 + int(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const qsizetype at = qsizetype(random() % quint32(text.size()));
                switch (random() % 4) {
                case 0: text[at] = char(random()); break;
                case 1: text.truncate(at); break;
                case 2: text.insert(at, char(random() % 128)); break;
                default: text.remove(at, qsizetype(random() % 64)); break;
                }
                if (text.isEmpty())
                    text = "{";
            }
            ProjectData data;
            QByteArray copy = text;
            const auto result = ProjectSerializer::readProject(copy, data, nullptr);
            (result == ProjectSerializer::ParseResult::Loaded ? loaded : refused)++;
            if (round % 10 == 0) { // the document reader takes the same damage
                ProjectData viaQt;
                ProjectSerializer::loadProject(QJsonDocument::fromJson(text), viaQt);
            }
        }
        qInstallMessageHandler(previous);
        QVERIFY(loaded > 0);
        QVERIFY(refused > 0);
    }

    // About 200 MB of project text round-trips bit-exactly.
    void largeProjectRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("large.cdw");
        const qsizetype frames = 12'600'000; // ~4.8 minutes of stereo at 44.1 kHz
        std::vector<TrackData> tracks(1);
        AudioClip clip;
        clip.samples.resize(frames);
        clip.stereoSamples.resize(frames * 2);
        quint32 state = 1;
        for (qsizetype i = 0; i < frames; ++i) {
            state = state * 1664525u + 1013904223u;
            clip.samples[i] = floatFromBits(state);
            clip.stereoSamples[2 * i] = floatFromBits(state ^ 0x5a5a5a5au);
            clip.stereoSamples[2 * i + 1] = floatFromBits(~state);
        }
        tracks[0].audioClips.push_back(clip);
        QCOMPARE(ProjectFile::save(path, "large", tracks, {}, 0, 1, {}), ProjectFile::SaveResult::Saved);
        QVERIFY(QFileInfo(path).size() > 200'000'000);

        ProjectData data;
        QCOMPARE(ProjectFile::load(path, data), ProjectFile::LoadResult::Loaded);
        const AudioClip& back = data.tracks.at(0).audioClips.at(0);
        QCOMPARE(back.samples.size(), frames);
        QCOMPARE(back.stereoSamples.size(), frames * 2);
        QVERIFY(std::memcmp(back.samples.constData(), clip.samples.constData(), frames * 4) == 0);
        QVERIFY(std::memcmp(back.stereoSamples.constData(), clip.stereoSamples.constData(), frames * 8) == 0);
    }
};

QTEST_GUILESS_MAIN(ProjectFileTest)
#include "tst_ProjectFile.moc"
