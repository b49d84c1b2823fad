#include "system/Localization.h"

#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"

QString rawValue(Lang lang)
{
    switch (lang) {
    case Lang::en:
        return QStringLiteral("en");
    case Lang::ca:
        return QStringLiteral("ca");
    case Lang::es:
        break;
    }
    return QStringLiteral("es");
}

std::optional<Lang> langFromRawValue(const QString& raw)
{
    for (Lang lang : allLangs()) {
        if (rawValue(lang) == raw)
            return lang;
    }
    return std::nullopt;
}

const std::vector<Lang>& allLangs()
{
    static const std::vector<Lang> langs = {Lang::es, Lang::en, Lang::ca};
    return langs;
}

Localization& Localization::shared()
{
    static Localization instance;
    return instance;
}

Localization::Localization()
{
    const QString stored = SettingsStore::shared().stringValue(QString::fromLatin1(defaultsKey));
    lang_ = langFromRawValue(stored).value_or(Lang::es);
}

void Localization::set(Lang lang)
{
    if (lang == lang_)
        return;
    lang_ = lang;
    SettingsStore::shared().setValue(QString::fromLatin1(defaultsKey), rawValue(lang));
    NotificationCenter::shared().post(QString::fromLatin1(didChange));
}

QString Localization::t(const QString& key) const
{
    const QByteArray utf8 = key.toUtf8();
    for (const Entry& entry : table()) {
        if (utf8 != entry.key)
            continue;
        const char* text = lang_ == Lang::en ? entry.en : lang_ == Lang::ca ? entry.ca : entry.es;
        return QString::fromUtf8(text ? text : entry.en);
    }
    return key;
}

QString L(const QString& key)
{
    return Localization::shared().t(key);
}
