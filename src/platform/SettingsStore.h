#pragma once
// The persistent per-user key-value store: one flat JSON object in
// $XDG_CONFIG_HOME/Halvex/settings.json, typed values, rewritten atomically on every change.

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <mutex>
#include <optional>

class SettingsStore {
public:
    static SettingsStore& shared();
    static QString defaultPath();

    explicit SettingsStore(QString path);

    QString path() const;
    // Points the store at another file and reads it (tests, and the shared store's first use).
    void open(const QString& path);

    std::optional<QJsonValue> value(const QString& key) const;
    // Absent or not a boolean (or number) reads as false.
    bool boolValue(const QString& key) const;
    // Absent or not a number reads as 0.0.
    double doubleValue(const QString& key) const;
    // Absent or not a string reads as "".
    QString stringValue(const QString& key) const;
    // Only a whole JSON number is an integer; anything else is absent.
    std::optional<qint64> integerValue(const QString& key) const;

    void setValue(const QString& key, const QJsonValue& value);
    void remove(const QString& key);

private:
    void load();
    void save() const;

    mutable std::mutex mutex_;
    QString path_;
    QJsonObject values_;
};
