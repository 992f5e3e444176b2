#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// Keyed archives in the binary property-list layout of the original
// platform's keyed archiver ($archiver, $version, $top, $objects, and
// CF$UID references), so archives stored in files stay interchangeable.

class KeyedArchiver;

// An object that can write itself into a keyed archive.
class KeyedArchivable {
public:
    virtual ~KeyedArchivable() = default;
    virtual QString archiveClassName() const = 0;
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

class KeyedArchiver {
public:
    KeyedArchiver();
    ~KeyedArchiver();
    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

    // Within encodeWithCoder, or at the top level for the root objects.
    void encodeObject(const QString& key, const KeyedArchivable* object);
    void encodeString(const QString& key, const QString& value);
    void encodeInteger(const QString& key, qint64 value);

    // The binary property list.
    QByteArray finish();

    static QByteArray archivedData(const QString& rootKey, const KeyedArchivable& root);

private:
    struct State;
    std::unique_ptr<State> mState;
};

// Reads keyed archives. Damaged or foreign data never crashes: every read
// that does not find what it expects answers nothing.
class KeyedUnarchiver {
public:
    class Object {
    public:
        QString className() const;
        std::optional<qint64> decodeInteger(const QString& key) const;
        std::optional<QString> decodeString(const QString& key) const;
        std::optional<Object> decodeObject(const QString& key) const;

    private:
        friend class KeyedUnarchiver;
        Object(std::shared_ptr<const void> archive, const void* node, int depth)
            : mArchive(std::move(archive)), mNode(node), mDepth(depth) {}
        std::shared_ptr<const void> mArchive; // keeps the property list alive
        const void* mNode;
        int mDepth;
    };

    // Nothing when the data is not a keyed archive.
    static std::optional<KeyedUnarchiver> fromData(const QByteArray& data);
    std::optional<Object> rootObject(const QString& key) const;

private:
    explicit KeyedUnarchiver(std::shared_ptr<const void> archive) : mArchive(std::move(archive)) {}
    std::shared_ptr<const void> mArchive;
};
