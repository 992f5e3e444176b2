#include "app/sharing/TapeExport.h"

#include "app/library/TapeImport.h"
#include "app/sharing/FilePlacement.h"
#include "platform/desktop/FileNames.h"
#include "platform/media/AudioTranscoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("TapeExport", text);
}

// Extensions of sound files that a chosen type replaces rather than follows.
const QStringList& soundExtensions() {
    static const QStringList extensions = {"m4a",  "mp4", "m4b", "aac", "wav", "wave", "flac",
                                           "opus", "ogg", "oga", "mp3", "aif", "aiff"};
    return extensions;
}

AudioTranscodeSettings transcodeSettings(TapeExport::Format format, int bitRate) {
    switch (format) {
    case TapeExport::Format::WAV:
        return {"wav", "pcm", 0};
    case TapeExport::Format::FLAC:
        return {"flac", "flac", 0};
    case TapeExport::Format::Opus:
        return {"ogg", "libopus", bitRate};
    case TapeExport::Format::MP3:
        return {"mp3", "libmp3lame", bitRate};
    case TapeExport::Format::MPEG4:
        break;
    }
    return {};
}

ExportTags::Kind tagKind(TapeExport::Format format) {
    switch (format) {
    case TapeExport::Format::WAV:
        return ExportTags::Kind::WAV;
    case TapeExport::Format::FLAC:
        return ExportTags::Kind::FLAC;
    case TapeExport::Format::Opus:
        return ExportTags::Kind::Opus;
    default:
        return ExportTags::Kind::MP3;
    }
}

} // namespace

const QList<TapeExport::FormatInfo>& TapeExport::formats() {
    static const QList<FormatInfo> list = {
        {Format::MPEG4, "m4a", "m4a", translated("MPEG-4 Audio, the tape itself"), 0},
        {Format::WAV, "wav", "wav", translated("WAV"), 0},
        {Format::FLAC, "flac", "flac", translated("FLAC"), 0},
        {Format::Opus, "opus", "opus", translated("Opus"), 96000},
        {Format::MP3, "mp3", "mp3", translated("MP3"), 192000},
    };
    return list;
}

const TapeExport::FormatInfo& TapeExport::info(Format format) {
    for (const FormatInfo& candidate : formats()) {
        if (candidate.format == format) {
            return candidate;
        }
    }
    return formats().front();
}

std::optional<TapeExport::Format> TapeExport::formatNamed(const QString& name) {
    for (const FormatInfo& candidate : formats()) {
        if (candidate.name.compare(name, Qt::CaseInsensitive) == 0) {
            return candidate.format;
        }
    }
    return std::nullopt;
}

std::optional<TapeExport::Format> TapeExport::formatOfFilename(const QString& path) {
    const QString extension = QFileInfo(path).suffix();
    for (const FormatInfo& candidate : formats()) {
        if (candidate.extension.compare(extension, Qt::CaseInsensitive) == 0) {
            return candidate.format;
        }
    }
    return std::nullopt;
}

QString TapeExport::correctedFilename(const QString& path, Format format) {
    const QString wanted = info(format).extension;
    const QFileInfo file(path);
    QString name = file.fileName();
    while (name.endsWith(QLatin1Char('.'))) {
        name.chop(1);
    }
    const int point = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = point > 0 ? name.mid(point + 1) : QString();
    if (extension.compare(wanted, Qt::CaseInsensitive) == 0) {
        return path;
    }
    if (soundExtensions().contains(extension.toLower())) {
        name.truncate(point);
    }
    const QString corrected = name + QLatin1Char('.') + wanted;
    return path.contains(QLatin1Char('/')) ? QDir(file.path()).filePath(corrected) : corrected;
}

TapeExport::TapeExport(QString source, ExportTags tags, QString destination, Format format)
    : mSource(std::move(source)), mTags(std::move(tags)), mDestination(std::move(destination)),
      mFormat(format), mBitRate(info(format).defaultBitRate) {}

TapeExport::Result TapeExport::run(const std::function<void(double progress)>& progress) {
    if (mFormat == Format::MPEG4) {
        // The tape's own file already holds its label.
        const TapeImport::Result copied = TapeImport::copyFile(mSource, mDestination, mReplaces);
        switch (copied.outcome) {
        case TapeImport::Outcome::Copied:
            if (progress) {
                progress(1.0);
            }
            return {Outcome::Exported, mDestination, {}};
        case TapeImport::Outcome::AlreadyThere:
            return {Outcome::AlreadyThere, mDestination, {}};
        case TapeImport::Outcome::Failed:
            break;
        }
        return {Outcome::Failed, mDestination, copied.error};
    }
    return convert(progress);
}

TapeExport::Result TapeExport::convert(const std::function<void(double)>& progress) {
    if (FileNames::exists(mDestination) && !mReplaces) {
        return {Outcome::AlreadyThere, mDestination, {}};
    }
    const QString partial = FilePlacement::partialNameFor(mDestination);
    AudioTranscoder transcoder(FileNames::encode(mSource).toStdString(),
                               FileNames::encode(partial).toStdString(),
                               transcodeSettings(mFormat, mBitRate));
    const bool converted = transcoder.run([this, &progress](double done) {
        if (progress) {
            progress(done);
        }
        return !mCancelled.load();
    });
    if (!converted) {
        if (transcoder.wasStopped()) {
            return {Outcome::Stopped, mDestination, {}};
        }
        return {Outcome::Failed, mDestination,
                translated("\"%1\" could not be exported: %2")
                    .arg(QFileInfo(mSource).fileName(),
                         QString::fromStdString(transcoder.lastError()))};
    }
    if (const QString error = mTags.writeTo(partial, tagKind(mFormat)); !error.isEmpty()) {
        ::unlink(FileNames::encode(partial).constData());
        return {Outcome::Failed, mDestination, error};
    }
    if (mCancelled) {
        ::unlink(FileNames::encode(partial).constData());
        return {Outcome::Stopped, mDestination, {}};
    }
    const FilePlacement::Result placed = FilePlacement::place(partial, mDestination, mReplaces);
    switch (placed.outcome) {
    case FilePlacement::Outcome::Placed:
        return {Outcome::Exported, mDestination, {}};
    case FilePlacement::Outcome::AlreadyThere:
        return {Outcome::AlreadyThere, mDestination, {}};
    case FilePlacement::Outcome::Failed:
        break;
    }
    return {Outcome::Failed, mDestination, placed.error};
}
