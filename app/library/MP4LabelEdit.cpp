#include "app/library/MP4LabelEdit.h"

#include "app/library/MP4Atom.h"
#include "app/library/MP4MovieBox.h"
#include "platform/audio/FourCharCode.h"

#include <algorithm>

namespace {

// An item holding one 'data' box: type indicator, locale word 0, value.
MP4MovieBox itemBox(uint32_t item, const QByteArray& prefix, uint32_t type,
                    const QByteArray& value) {
    MP4MovieBox box(item, prefix, true);
    box.children().emplace_back(FourCC("data"), mp4UInt32(type) + mp4UInt32(0) + value, false);
    return box;
}

QByteArray handlerPayload() {
    QByteArray handler(8, 0);
    handler.append("mdirappl");
    handler.append(QByteArray(10, 0));
    return handler;
}

} // namespace

void MP4LabelEdit::setItem(uint32_t item, uint32_t type, const QByteArray& value) {
    const auto same = std::find_if(mItems.begin(), mItems.end(),
                                   [&](const Item& existing) { return existing.item == item; });
    if (same != mItems.end()) {
        *same = {item, type, value};
    } else {
        mItems.push_back({item, type, value});
    }
}

void MP4LabelEdit::setUserData(const QByteArray& uuid, uint32_t type, const QByteArray& value) {
    mUserData = UserData{uuid, type, value};
}

void MP4LabelEdit::applyTo(MP4MovieBox& moov) const {
    if (isEmpty()) {
        return;
    }
    MP4MovieBox& udta = moov.childOrAppend(FourCC("udta"), {}, true);
    if (!mItems.empty()) {
        MP4MovieBox& meta = udta.childOrAppend(FourCC("meta"), mp4UInt32(0), true);
        if (!meta.child(FourCC("hdlr"))) {
            meta.children().emplace_back(FourCC("hdlr"), handlerPayload(), false);
        }
        MP4MovieBox& ilst = meta.childOrAppend(FourCC("ilst"), {}, true);
        for (const Item& item : mItems) {
            ilst.replaceOrAppend(itemBox(item.item, {}, item.type, item.value));
        }
    }
    if (mUserData) {
        // The tape letter takes the place of the first 'uuid' item, whatever it holds.
        udta.replaceOrAppend(
            itemBox(FourCC("uuid"), mUserData->uuid, mUserData->type, mUserData->value));
    }
}
