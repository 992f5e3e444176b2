#include "app/sharing/ExportTags.h"

#include "app/library/MP4Tags.h"
#include "app/library/Tape.h"
#include "platform/desktop/FileNames.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/privateframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

namespace {

TagLib::String text(const QString& value) {
    return TagLib::String(value.toStdString(), TagLib::String::UTF8);
}

TagLib::ByteVector bytes(const QByteArray& data) {
    return TagLib::ByteVector(data.constData(), static_cast<unsigned>(data.size()));
}

// Local time without a zone, as tag readers expect it.
QString dateText(const QDateTime& date) {
    return date.isValid() ? date.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
                          : QString();
}

QString cannotWrite(const QString& path) {
    return QCoreApplication::translate("ExportTags", "The tags of \"%1\" could not be written.")
        .arg(path);
}

TagLib::FLAC::Picture* frontCover(const QByteArray& png) {
    auto* picture = new TagLib::FLAC::Picture;
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType("image/png");
    picture->setData(bytes(png));
    const QImage image = QImage::fromData(png, "PNG");
    picture->setWidth(image.width());
    picture->setHeight(image.height());
    picture->setColorDepth(32);
    return picture;
}

} // namespace

const char* const ExportTags::LetterOwner = "org.cassora.TapeLetter";
const char* const ExportTags::LetterField = "CASSORA_TAPE_LETTER";
const char* const ExportTags::ColorField = "CASSORA_TAPE_COLOR";

ExportTags ExportTags::ofTape(const Tape& tape) {
    ExportTags tags;
    tags.title = tape.title();
    tags.artist = tape.artist();
    if (tags.artist.isEmpty()) {
        // A tape read from its file knows its artist only from the file.
        if (const auto file = MP4Tags::forReading(tape.filename())) {
            tags.artist = file->artist().value_or(QString());
        }
    }
    tags.notes = tape.notes();
    tags.date = tape.date();
    tags.letter = tape.tapeLetter() ? tape.tapeLetter()->copy() : nullptr;
    const QImage cover = Tape::renderCoverArt(tape);
    if (!cover.isNull()) {
        QBuffer buffer(&tags.coverPNG);
        buffer.open(QIODevice::WriteOnly);
        cover.save(&buffer, "PNG");
    }
    return tags;
}

QString ExportTags::writeTo(const QString& path, Kind kind) const {
    switch (kind) {
    case Kind::MP3:
        return writeID3(path);
    case Kind::FLAC:
    case Kind::Opus:
        return writeVorbisComments(path, kind);
    case Kind::WAV:
        return writeRIFFInfo(path);
    }
    return cannotWrite(path);
}

QString ExportTags::writeID3(const QString& path) const {
    TagLib::MPEG::File file(FileNames::encode(path).constData(), false);
    if (!file.isValid()) {
        return cannotWrite(path);
    }
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->setTitle(text(title));
    tag->setArtist(text(artist));
    if (date.isValid()) {
        auto* recorded = new TagLib::ID3v2::TextIdentificationFrame("TDRC", TagLib::String::UTF8);
        recorded->setText(text(dateText(date)));
        tag->removeFrames("TDRC");
        tag->addFrame(recorded);
    }
    if (!notes.isEmpty()) {
        auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        comment->setLanguage("eng");
        comment->setText(text(notes));
        tag->addFrame(comment);
    }
    if (letter) {
        auto* owned = new TagLib::ID3v2::PrivateFrame;
        owned->setOwner(LetterOwner);
        owned->setData(bytes(letter->archivedData()));
        tag->addFrame(owned);
    }
    if (!coverPNG.isEmpty()) {
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setMimeType("image/png");
        picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        picture->setPicture(bytes(coverPNG));
        tag->addFrame(picture);
    }
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4)
               ? QString()
               : cannotWrite(path);
}

QString ExportTags::writeVorbisComments(const QString& path, Kind kind) const {
    const QByteArray name = FileNames::encode(path);
    std::unique_ptr<TagLib::FLAC::File> flac;
    std::unique_ptr<TagLib::Ogg::Opus::File> opus;
    TagLib::Ogg::XiphComment* comments = nullptr;
    if (kind == Kind::FLAC) {
        flac = std::make_unique<TagLib::FLAC::File>(name.constData(), false);
        comments = flac->isValid() ? flac->xiphComment(true) : nullptr;
    } else {
        opus = std::make_unique<TagLib::Ogg::Opus::File>(name.constData(), false);
        comments = opus->isValid() ? opus->tag() : nullptr;
    }
    if (!comments) {
        return cannotWrite(path);
    }
    comments->setTitle(text(title));
    comments->setArtist(text(artist));
    if (date.isValid()) {
        comments->addField("DATE", text(dateText(date)));
    }
    if (!notes.isEmpty()) {
        comments->setComment(text(notes));
    }
    if (letter) {
        comments->addField(LetterField, text(letter->letter()));
        if (letter->colorScheme()) {
            comments->addField(ColorField, text(letter->colorScheme()->colorName()));
        }
    }
    if (!coverPNG.isEmpty()) {
        // Owned by the file (FLAC) or the comments (Opus) from here on.
        if (flac) {
            flac->addPicture(frontCover(coverPNG));
        } else {
            comments->addPicture(frontCover(coverPNG));
        }
    }
    const bool saved = flac ? flac->save() : opus->save();
    return saved ? QString() : cannotWrite(path);
}

QString ExportTags::writeRIFFInfo(const QString& path) const {
    TagLib::RIFF::WAV::File file(FileNames::encode(path).constData(), false);
    if (!file.isValid()) {
        return cannotWrite(path);
    }
    TagLib::RIFF::Info::Tag* info = file.InfoTag();
    info->setTitle(text(title));
    info->setArtist(text(artist));
    info->setComment(text(notes));
    if (date.isValid()) {
        info->setFieldText("ICRD", text(date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd"))));
    }
    return file.save(TagLib::RIFF::WAV::File::Info, TagLib::File::StripOthers) ? QString()
                                                                               : cannotWrite(path);
}
