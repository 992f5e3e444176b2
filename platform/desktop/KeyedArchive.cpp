#include "platform/desktop/KeyedArchive.h"

#include <plist/plist.h>

#include <cstdlib>
#include <map>

namespace {

constexpr int kMaxDepth = 32; // against reference cycles in damaged archives

plist_t asPlist(const void* node) {
    return const_cast<plist_t>(node);
}

std::optional<QString> stringOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    char* text = nullptr;
    plist_get_string_val(node, &text);
    QString value = QString::fromUtf8(text ? text : "");
    std::free(text);
    return value;
}

plist_t objectsOf(const void* archive) {
    plist_t objects = plist_dict_get_item(asPlist(archive), "$objects");
    return objects && plist_get_node_type(objects) == PLIST_ARRAY ? objects : nullptr;
}

// The object a CF$UID reference names; nothing for "$null" or a bad reference.
plist_t resolve(const void* archive, plist_t reference) {
    if (!reference || plist_get_node_type(reference) != PLIST_UID) {
        return nullptr;
    }
    uint64_t uid = 0;
    plist_get_uid_val(reference, &uid);
    plist_t objects = objectsOf(archive);
    if (!objects || uid == 0 || uid >= plist_array_get_size(objects)) {
        return nullptr;
    }
    return plist_array_get_item(objects, static_cast<uint32_t>(uid));
}

} // namespace

// Archiver

struct KeyedArchiver::State {
    plist_t objects = plist_new_array();
    plist_t top = plist_new_dict();
    std::map<QString, uint64_t> classes; // class name -> uid
    plist_t current = nullptr;           // the dictionary being filled; top when null
};

KeyedArchiver::KeyedArchiver() : mState(std::make_unique<State>()) {
    plist_array_append_item(mState->objects, plist_new_string("$null"));
}

KeyedArchiver::~KeyedArchiver() {
    if (mState->objects) {
        plist_free(mState->objects);
    }
    if (mState->top) {
        plist_free(mState->top);
    }
}

void KeyedArchiver::encodeObject(const QString& key, const KeyedArchivable* object) {
    plist_t target = mState->current ? mState->current : mState->top;
    if (!object) {
        plist_dict_set_item(target, key.toUtf8().constData(), plist_new_uid(0));
        return;
    }
    // The object's slot comes first; its class is added after its values.
    const uint64_t uid = plist_array_get_size(mState->objects);
    plist_t dictionary = plist_new_dict();
    plist_array_append_item(mState->objects, dictionary);
    plist_dict_set_item(target, key.toUtf8().constData(), plist_new_uid(uid));

    plist_t outer = mState->current;
    mState->current = dictionary;
    object->encodeWithCoder(*this);
    mState->current = outer;

    const QString className = object->archiveClassName();
    auto known = mState->classes.find(className);
    if (known == mState->classes.end()) {
        plist_t description = plist_new_dict();
        plist_t hierarchy = plist_new_array();
        plist_array_append_item(hierarchy, plist_new_string(className.toUtf8().constData()));
        plist_array_append_item(hierarchy, plist_new_string("NSObject"));
        plist_dict_set_item(description, "$classes", hierarchy);
        plist_dict_set_item(description, "$classname",
                            plist_new_string(className.toUtf8().constData()));
        known = mState->classes.emplace(className, plist_array_get_size(mState->objects)).first;
        plist_array_append_item(mState->objects, description);
    }
    plist_dict_set_item(dictionary, "$class", plist_new_uid(known->second));
}

void KeyedArchiver::encodeString(const QString& key, const QString& value) {
    plist_t target = mState->current ? mState->current : mState->top;
    const uint64_t uid = plist_array_get_size(mState->objects);
    plist_array_append_item(mState->objects, plist_new_string(value.toUtf8().constData()));
    plist_dict_set_item(target, key.toUtf8().constData(), plist_new_uid(uid));
}

void KeyedArchiver::encodeInteger(const QString& key, qint64 value) {
    plist_t target = mState->current ? mState->current : mState->top;
    plist_dict_set_item(target, key.toUtf8().constData(),
                        plist_new_uint(static_cast<uint64_t>(value)));
}

QByteArray KeyedArchiver::finish() {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "$version", plist_new_uint(100000));
    plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(root, "$top", mState->top);
    plist_dict_set_item(root, "$objects", mState->objects);
    mState->top = nullptr; // now owned by root
    mState->objects = nullptr;
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    QByteArray data(bytes, static_cast<qsizetype>(length));
    std::free(bytes);
    plist_free(root);
    return data;
}

QByteArray KeyedArchiver::archivedData(const QString& rootKey, const KeyedArchivable& root) {
    KeyedArchiver archiver;
    archiver.encodeObject(rootKey, &root);
    return archiver.finish();
}

// Unarchiver

std::optional<KeyedUnarchiver> KeyedUnarchiver::fromData(const QByteArray& data) {
    if (data.size() < 8 || !data.startsWith("bplist")) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_bin(data.constData(), static_cast<uint32_t>(data.size()), &root);
    if (!root) {
        return std::nullopt;
    }
    std::shared_ptr<const void> archive(root, [](const void* node) { plist_free(asPlist(node)); });
    plist_t top = plist_dict_get_item(root, "$top");
    if (plist_get_node_type(root) != PLIST_DICT || !objectsOf(root) || !top ||
        plist_get_node_type(top) != PLIST_DICT) {
        return std::nullopt;
    }
    return KeyedUnarchiver(std::move(archive));
}

std::optional<KeyedUnarchiver::Object> KeyedUnarchiver::rootObject(const QString& key) const {
    plist_t top = plist_dict_get_item(asPlist(mArchive.get()), "$top");
    plist_t node = resolve(mArchive.get(), plist_dict_get_item(top, key.toUtf8().constData()));
    if (!node || plist_get_node_type(node) != PLIST_DICT) {
        return std::nullopt;
    }
    return Object(mArchive, node, 0);
}

QString KeyedUnarchiver::Object::className() const {
    plist_t description = resolve(mArchive.get(), plist_dict_get_item(asPlist(mNode), "$class"));
    if (!description || plist_get_node_type(description) != PLIST_DICT) {
        return {};
    }
    return stringOf(plist_dict_get_item(description, "$classname")).value_or(QString());
}

std::optional<qint64> KeyedUnarchiver::Object::decodeInteger(const QString& key) const {
    plist_t node = plist_dict_get_item(asPlist(mNode), key.toUtf8().constData());
    if (!node || plist_get_node_type(node) != PLIST_UINT) {
        return std::nullopt;
    }
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return static_cast<qint64>(value);
}

std::optional<QString> KeyedUnarchiver::Object::decodeString(const QString& key) const {
    plist_t node =
        resolve(mArchive.get(), plist_dict_get_item(asPlist(mNode), key.toUtf8().constData()));
    if (auto text = stringOf(node)) {
        return text;
    }
    // A mutable string is archived as an object holding "NS.string".
    if (node && plist_get_node_type(node) == PLIST_DICT) {
        return stringOf(plist_dict_get_item(node, "NS.string"));
    }
    return std::nullopt;
}

std::optional<KeyedUnarchiver::Object>
KeyedUnarchiver::Object::decodeObject(const QString& key) const {
    if (mDepth >= kMaxDepth) {
        return std::nullopt;
    }
    plist_t node =
        resolve(mArchive.get(), plist_dict_get_item(asPlist(mNode), key.toUtf8().constData()));
    if (!node || plist_get_node_type(node) != PLIST_DICT) {
        return std::nullopt;
    }
    return Object(mArchive, node, mDepth + 1);
}
