#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

SettingsStore& SettingsStore::shared()
{
    static SettingsStore instance(defaultPath());
    return instance;
}

QString SettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Halvex/settings.json");
}

SettingsStore::SettingsStore(QString path)
{
    open(path);
}

QString SettingsStore::path() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

void SettingsStore::open(const QString& path)
{
    std::lock_guard lock(mutex_);
    path_ = path;
    load();
}

void SettingsStore::load()
{
    values_ = QJsonObject();
    QFile file(path_);
    if (!file.exists())
        return;
    bool ok = file.open(QIODevice::ReadOnly);
    if (ok) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
        ok = error.error == QJsonParseError::NoError && doc.isObject();
        if (ok)
            values_ = doc.object();
    }
    file.close();
    if (!ok) {
        // Keep what we could not read for the user to inspect; start from the defaults.
        const QString aside = path_ + QStringLiteral(".corrupt");
        QFile::remove(aside);
        QFile::rename(path_, aside);
    }
}

void SettingsStore::save() const
{
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QJsonDocument(values_).toJson(QJsonDocument::Indented));
    file.commit();
}

std::optional<QJsonValue> SettingsStore::value(const QString& key) const
{
    std::lock_guard lock(mutex_);
    const auto it = values_.constFind(key);
    if (it == values_.constEnd() || it->isUndefined() || it->isNull())
        return std::nullopt;
    return *it;
}

bool SettingsStore::boolValue(const QString& key) const
{
    const auto v = value(key);
    if (!v)
        return false;
    if (v->isBool())
        return v->toBool();
    if (v->isDouble())
        return v->toDouble() != 0.0;
    return false;
}

double SettingsStore::doubleValue(const QString& key) const
{
    const auto v = value(key);
    return v && v->isDouble() ? v->toDouble() : 0.0;
}

QString SettingsStore::stringValue(const QString& key) const
{
    const auto v = value(key);
    return v && v->isString() ? v->toString() : QString();
}

std::optional<qint64> SettingsStore::integerValue(const QString& key) const
{
    const auto v = value(key);
    if (!v || !v->isDouble())
        return std::nullopt;
    const double d = v->toDouble();
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(d) || d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
        return std::nullopt;
    return v->toInteger(static_cast<qint64>(d));
}

void SettingsStore::setValue(const QString& key, const QJsonValue& value)
{
    std::lock_guard lock(mutex_);
    values_.insert(key, value);
    save();
}

void SettingsStore::remove(const QString& key)
{
    std::lock_guard lock(mutex_);
    values_.remove(key);
    save();
}
