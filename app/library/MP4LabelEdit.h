#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

class MP4MovieBox;

// Every item of one label change, built in memory and written in one commit:
// item-list entries ('©nam', 'covr', ...) and the tape letter's 'uuid' item.
class MP4LabelEdit {
public:
    void setItem(uint32_t item, uint32_t type, const QByteArray& value);
    void setUserData(const QByteArray& uuid, uint32_t type, const QByteArray& value);
    bool isEmpty() const { return mItems.empty() && !mUserData; }

    // Writes the items into a movie box, creating 'udta', 'meta' (with its
    // 'hdlr') and 'ilst' when missing; items keep their place when they exist.
    void applyTo(MP4MovieBox& moov) const;

private:
    struct Item {
        uint32_t item;
        uint32_t type;
        QByteArray value;
    };
    struct UserData {
        QByteArray uuid;
        uint32_t type;
        QByteArray value;
    };
    std::vector<Item> mItems;
    std::optional<UserData> mUserData;
};
