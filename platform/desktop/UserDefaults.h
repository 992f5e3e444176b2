#pragma once

#include <QObject>
#include <QSettings>
#include <QVariant>

#include <functional>
#include <memory>

// The application's user defaults: values stored in QSettings (organisation
// and application "Cassora") over a registration domain of defaults that are
// never written. Every change is announced per key.
class UserDefaults : public QObject {
    Q_OBJECT

public:
    // The process-wide defaults of the application.
    static UserDefaults& standard();

    // Defaults over the given settings store.
    explicit UserDefaults(std::unique_ptr<QSettings> settings, QObject* parent = nullptr);
    ~UserDefaults() override;

    // Adds to the registration domain; stored values win over these.
    void registerDefaults(const QVariantMap& defaults);

    // The stored value, else the registered one, else an invalid QVariant.
    QVariant value(const QString& key) const;
    bool hasStoredValue(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    void removeValue(const QString& key);

    bool boolForKey(const QString& key) const { return value(key).toBool(); }
    int integerForKey(const QString& key) const { return value(key).toInt(); }
    double doubleForKey(const QString& key) const { return value(key).toDouble(); }
    QString stringForKey(const QString& key) const { return value(key).toString(); }
    QVariantMap dictionaryForKey(const QString& key) const { return value(key).toMap(); }

    // Calls `handler` with the key's new value after every change of that key,
    // for as long as `receiver` lives; with `initial`, also once right away.
    QMetaObject::Connection observe(const QString& key, QObject* receiver,
                                    std::function<void(const QVariant&)> handler,
                                    bool initial = false);

    // Writes pending changes to permanent storage.
    void synchronize();

signals:
    void valueChanged(const QString& key, const QVariant& value);

private:
    std::unique_ptr<QSettings> mSettings;
    QVariantMap mRegistered;
};
