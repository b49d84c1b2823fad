// The settings file, as whatever last wrote it left it: loaded, then read with every accessor.
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/settings.json");
    QFile::remove(path + QStringLiteral(".corrupt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    SettingsStore store(path);
    for (const char* key : {"vesk.enabled", "vesk.warmth", "vesk.latitude", "vesk.locationName", "", "x"}) {
        const QString k = QString::fromLatin1(key);
        store.value(k);
        store.boolValue(k);
        store.doubleValue(k);
        store.stringValue(k);
        store.integerValue(k);
    }
    return 0;
}
