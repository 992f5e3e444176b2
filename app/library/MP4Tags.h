#pragma once

#include "app/library/MP4Atom.h"
#include "app/library/TapeLetter.h"

#include <QImage>
#include <QString>
#include <QVariant>

#include <map>
#include <memory>
#include <optional>

// The label of a tape inside its MPEG-4 file: the items of
// 'moov'/'udta'/'meta'/'ilst' (title, artist, album, lyrics, comment, release
// date, cover art) and the tape letter in a private 'uuid' atom of 'udta'.
// Edits are made in place; when the metadata lies before the audio, the
// audio track's chunk offsets follow it. A file the editor cannot edit safely
// is left untouched and the write reports why.
class MP4Tags {
public:
    static constexpr uint32_t TypeBinary = 0;
    static constexpr uint32_t TypeText = 1;
    static constexpr uint32_t TypeJPEG = 13;
    static constexpr uint32_t TypePNG = 14;
    static const char* const TapeLetterUUID;

    // Nothing when the file cannot be opened (it is created, 0600, when missing).
    static std::unique_ptr<MP4Tags> withMP4File(const QString& path);
    // Opens an existing file for reading only; nothing when there is none.
    static std::unique_ptr<MP4Tags> forReading(const QString& path);
    // Reads a file another object holds open; the descriptor stays open.
    static std::unique_ptr<MP4Tags> forReadingDescriptor(int fd);
    int fileHandle() const { return mFileHandle; }
    ~MP4Tags();
    MP4Tags(const MP4Tags&) = delete;
    MP4Tags& operator=(const MP4Tags&) = delete;

    std::optional<QString> title() const { return text(itemTitle()); }
    std::optional<QString> artist() const { return text(itemArtist()); }
    std::optional<QString> album() const { return text(itemAlbum()); }
    std::optional<QString> lyrics() const { return text(itemLyrics()); }
    std::optional<QString> comment() const { return text(itemComment()); }
    std::optional<QString> releaseDate() const { return text(itemReleaseDate()); }
    std::optional<QImage> coverArt() const;
    std::shared_ptr<TapeLetter> tapeLetter() const;

    // Each raises InternalInconsistencyException when the file cannot be
    // edited (no 'moov', a size the editor cannot change, an I/O failure).
    void setTitle(const QString& value) { setData(value.toUtf8(), itemTitle(), TypeText); }
    void setArtist(const QString& value) { setData(value.toUtf8(), itemArtist(), TypeText); }
    void setAlbum(const QString& value) { setData(value.toUtf8(), itemAlbum(), TypeText); }
    void setLyrics(const QString& value) { setData(value.toUtf8(), itemLyrics(), TypeText); }
    void setComment(const QString& value) { setData(value.toUtf8(), itemComment(), TypeText); }
    void setReleaseDate(const QString& value) {
        setData(value.toUtf8(), itemReleaseDate(), TypeText);
    }
    void setCoverArt(const QImage& image);
    void setTapeLetter(const TapeLetter& letter);

    // The one writer behind the setters.
    void setData(const QByteArray& data, uint32_t item, uint32_t type,
                 const std::optional<QString>& uuid = std::nullopt);
    void setUserData(const QByteArray& data, const QString& uuid, uint32_t type);
    // Every item of 'ilst' (item code -> value) in one walk, as `readAtom`
    // reads them one by one, except images, which are decoded only when
    // asked for (`coverArt`).
    std::map<uint32_t, QVariant> readAllAtoms() const;
    static QByteArray pngData(const QImage& image);

    // The value of an item: QString for text, QImage for images, QByteArray
    // for binary data; invalid when missing or of another type.
    QVariant readAtom(uint32_t item) const;
    QVariant readUUIDAtom(const QString& uuid) const;
    static QVariant valueForData(const QByteArray& data, uint32_t type);
    static QByteArray readDataAtom(const MP4Atom& atom, uint32_t* flags);
    static MP4MemoryAtom createDataAtom(uint32_t item, const QByteArray& data, uint32_t type,
                                        const std::optional<QString>& uuid = std::nullopt);
    // Moves every chunk offset of every track by `delta`.
    void fixStco(int32_t delta);
    // Only offsets at or after `from` move.
    static MP4MemoryAtom fixStco32(const MP4Atom& table, int32_t delta, uint64_t from = 0);
    static MP4MemoryAtom fixStco64(const MP4Atom& table, int32_t delta, uint64_t from = 0);

    static uint32_t itemTitle();
    static uint32_t itemArtist();
    static uint32_t itemAlbum();
    static uint32_t itemLyrics();
    static uint32_t itemComment();
    static uint32_t itemReleaseDate();

private:
    explicit MP4Tags(int fileHandle) : mFileHandle(fileHandle) {}
    std::optional<QString> text(uint32_t item) const;
    void fixChunkOffsets(int32_t delta, uint64_t from);

    int mFileHandle = -1;
    bool mOwnsHandle = true;
};
