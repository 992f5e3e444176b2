#include "platform/desktop/UserDefaults.h"

UserDefaults& UserDefaults::standard() {
    static UserDefaults* defaults = new UserDefaults(
        std::make_unique<QSettings>(QStringLiteral("Cassora"), QStringLiteral("Cassora")));
    return *defaults;
}

UserDefaults::UserDefaults(std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent), mSettings(std::move(settings)) {}

UserDefaults::~UserDefaults() {
    mSettings->sync();
}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        mRegistered.insert(it.key(), it.value());
    }
}

QVariant UserDefaults::value(const QString& key) const {
    if (mSettings->contains(key)) {
        return mSettings->value(key);
    }
    return mRegistered.value(key);
}

bool UserDefaults::hasStoredValue(const QString& key) const {
    return mSettings->contains(key);
}

void UserDefaults::setValue(const QString& key, const QVariant& value) {
    if (mSettings->contains(key) && mSettings->value(key) == value) {
        return;
    }
    mSettings->setValue(key, value);
    emit valueChanged(key, value);
}

void UserDefaults::removeValue(const QString& key) {
    if (!mSettings->contains(key)) {
        return;
    }
    mSettings->remove(key);
    emit valueChanged(key, value(key));
}

QMetaObject::Connection UserDefaults::observe(const QString& key, QObject* receiver,
                                              std::function<void(const QVariant&)> handler,
                                              bool initial) {
    auto connection = connect(this, &UserDefaults::valueChanged, receiver,
                              [key, handler](const QString& changedKey, const QVariant& value) {
                                  if (changedKey == key) {
                                      handler(value);
                                  }
                              });
    if (initial) {
        handler(value(key));
    }
    return connection;
}

void UserDefaults::synchronize() {
    mSettings->sync();
}
