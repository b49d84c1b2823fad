// The settings file, as whatever last wrote it left it: loaded, then read with every accessor.
#include "platform/SettingsStore.h"
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    QFile file(folder.path() + QStringLiteral("/settings.json"));
    QFile::remove(file.fileName() + QStringLiteral(".corrupt"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();
    SettingsStore store(file.fileName());
    for (const QString key : {"vesk.enabled", "vesk.warmth", "vesk.latitude", "vesk.locationName", "", "x"})
        store.value(key), store.boolValue(key), store.doubleValue(key), store.stringValue(key), store.integerValue(key);
    return 0;
}
