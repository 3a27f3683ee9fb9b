#include "app/ProjectDocument.h"

#include "common/WriteErrorMessages.h"
#include "project/ProjectFile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace ProjectDocument {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

QString withProjectSuffix(const QString& path)
{
    if (path.endsWith(QLatin1String(".cdw"), Qt::CaseInsensitive))
        return path;
    return path + QLatin1String(".cdw");
}

QString projectName(const QString& path)
{
    return QFileInfo(path).baseName();
}

Content fromSingleTrack(const QString& name, const QList<float>& mono, const QList<float>& stereo,
                        int sampleRate, int bitDepth, bool forceMono)
{
    Content content;
    content.settings.sampleRate = sampleRate;
    content.settings.bitDepth = bitDepth;
    content.settings.channels = !stereo.isEmpty() && !forceMono ? 2 : 1;
    content.settings.tempo = 120.0;

    TrackData track;
    track.type = TrackType::AudioTrack;
    track.name = name;
    if (!mono.isEmpty()) {
        AudioClip clip;
        clip.samples = mono;
        clip.stereoSamples = stereo;
        clip.sampleRate = sampleRate;
        track.audioClips.push_back(clip);
    }
    content.tracks.push_back(std::move(track));
    return content;
}

QString save(const QString& path, const std::vector<TrackData>& tracks,
             const ProjectSettings& settings, const std::vector<TimelineMarker>& markers,
             ProjectIdentity* identity)
{
    int error = 0;
    switch (ProjectFile::save(path, projectName(path), tracks, settings, 0.0, 1.0, markers, identity,
                              &error)) {
    case ProjectFile::SaveResult::Saved:
        return {};
    case ProjectFile::SaveResult::CannotWrite:
        return WriteErrorMessages::withReason(tr("无法写入文件: %1").arg(path), error);
    case ProjectFile::SaveResult::Incomplete:
        break;
    }
    return WriteErrorMessages::withReason(tr("写入文件不完整: %1").arg(path), error);
}

QString load(const QString& path, ProjectData& data)
{
    QString parseError;
    switch (ProjectFile::load(path, data, &parseError)) {
    case ProjectFile::LoadResult::Loaded:
        return {};
    case ProjectFile::LoadResult::CannotRead:
        return tr("无法读取文件: %1").arg(path);
    case ProjectFile::LoadResult::Empty:
        return tr("文件为空: %1").arg(path);
    case ProjectFile::LoadResult::FormatError:
        return tr("文件格式错误: %1").arg(parseError);
    case ProjectFile::LoadResult::InvalidProject:
        break;
    }
    return tr("无法解析工程文件");
}

} // namespace ProjectDocument
