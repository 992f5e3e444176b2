#pragma once

#include "app/library/TapeLetter.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

#include <memory>

class Tape;

// A tape's label in the tags of a file exported to another format, each
// format in its own way:
// - MP3: ID3v2.4 (title, artist, recording time, notes as a comment, the
//   tape letter's archive in a private frame, the cover as its front picture);
// - FLAC and Opus: Vorbis comments (the letter and its colour in fields of
//   their own) and the cover as a picture;
// - WAV: the RIFF INFO list (title, artist, date, comment); it has no place
//   for the letter or a picture.
class ExportTags {
public:
    enum class Kind { MP3, FLAC, Opus, WAV };

    // Taken from the tape on its own thread, so that the tags can be written
    // on another one.
    static ExportTags ofTape(const Tape& tape);

    QString title;
    QString artist;
    QString notes;
    QDateTime date;
    std::shared_ptr<TapeLetter> letter;
    QByteArray coverPNG;

    // The owner of the MP3's private frame and the Vorbis comments' fields.
    static const char* const LetterOwner;
    static const char* const LetterField;
    static const char* const ColorField;

    // Writes the tags into the file at `path`; empty when done, else why not.
    QString writeTo(const QString& path, Kind kind) const;

private:
    QString writeID3(const QString& path) const;
    QString writeVorbisComments(const QString& path, Kind kind) const;
    QString writeRIFFInfo(const QString& path) const;
};
