#include "online/Tips.h"

#include "online/Fetch.h"
#include "online/OnlineConfig.h"
#include "system/Localization.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace {

struct Texts {
    const char* en;
    const char* es;
    const char* ca;
};

const Texts kTips[] = {
    {"Did you know screen blue light can delay your sleep by over an hour?",
        "¿Sabías que la luz azul de la pantalla puede retrasar tu sueño más de una hora?",
        "Sabies que la llum blava de la pantalla pot endarrerir el son més d'una hora?"},
    {"Did you know PWM flicker gets worse the lower your brightness? Use PWM-Safe mode.",
        "¿Sabías que el parpadeo PWM empeora cuanto más bajas el brillo? Usa el modo Anti-PWM.",
        "Sabies que el parpelleig PWM empitjora com més baixes la brillantor? Fes servir el mode Anti-PWM."},
    {"20-20-20 rule: every 20 min look 20 ft away for 20 s to rest your eyes.",
        "Regla 20-20-20: cada 20 min mira algo a 6 m durante 20 s para descansar la vista.",
        "Regla 20-20-20: cada 20 min mira alguna cosa a 6 m durant 20 s per descansar la vista."},
    {"Did you know you blink half as much at a screen? That's why eyes get dry.",
        "¿Sabías que frente a una pantalla parpadeas la mitad? Por eso se secan los ojos.",
        "Sabies que davant d'una pantalla parpellegues la meitat? Per això s'assequen els ulls."},
    {"At night a red screen barely affects your melatonin. Try the NIGHT preset.",
        "De noche, una pantalla en rojo casi no afecta tu melatonina. Prueba el preset NOCHE.",
        "De nit, una pantalla en vermell gairebé no afecta la melatonina. Prova el preset NIT."},
    {"Tip: press ⌃⌥⌘Z to toggle the filter instantly from any app.",
        "Truco: pulsa ⌃⌥⌘Z para encender o apagar el filtro al instante desde cualquier app.",
        "Truc: prem ⌃⌥⌘Z per encendre o apagar el filtre a l'instant des de qualsevol app."},
    {"Did you know blue light suppresses melatonin twice as long as green?",
        "¿Sabías que la luz azul frena la melatonina el doble de tiempo que la verde?",
        "Sabies que la llum blava frena la melatonina el doble de temps que la verda?"},
    {"PWM-Safe mode pins brightness to 100 % and dims in software — no flicker.",
        "El modo Anti-PWM fija el brillo al 100 % y atenúa por software, sin parpadeo.",
        "El mode Anti-PWM fixa la brillantor al 100 % i atenua per programari, sense parpelleig."},
    {"Did you know screenshots and calls look normal even while filtering?",
        "¿Sabías que las capturas y videollamadas salen con color normal aunque filtres?",
        "Sabies que les captures i videotrucades surten amb color normal encara que filtris?"},
};

const Texts kAds[] = {
    {"Enjoying Ambrano? It's free forever — share it with anyone whose eyes get tired 💛",
        "¿Te gusta Ambrano? Es gratis para siempre — compártelo con quien le canse la pantalla 💛",
        "T'agrada Ambrano? És gratis per sempre — comparteix-lo amb qui se li cansin els ulls 💛"},
};

const QString kColor = QStringLiteral("color");
const QString kImage = QStringLiteral("image");
const QString kURL = QStringLiteral("url");

MessageSource code(const Texts& texts)
{
    return {
        {rawValue(Lang::en), QString::fromUtf8(texts.en)},
        {rawValue(Lang::es), QString::fromUtf8(texts.es)},
        {rawValue(Lang::ca), QString::fromUtf8(texts.ca)},
    };
}

template <size_t N>
QList<MessageSource> code(const Texts (&list)[N])
{
    QList<MessageSource> out;
    for (const Texts& texts : list)
        out.append(code(texts));
    return out;
}

MessageSource embeddedOnActivate()
{
    MessageSource source = code(Texts {"Filter on! Tap here to learn about blue light 👁️",
        "¡Filtro activado! Toca aquí para saber más sobre la luz azul 👁️",
        "Filtre activat! Toca aquí per saber-ne més sobre la llum blava 👁️"});
    source.insert(kColor, QStringLiteral("#7FB3FF"));
    source.insert(kImage, QStringLiteral("https://placehold.co/200x200/7FB3FF/0a0a0a.png?text=VESK"));
    source.insert(kURL, QStringLiteral("https://en.wikipedia.org/wiki/Blue_light"));
    return source;
}

MessageSource embeddedAbout()
{
    MessageSource source = code(Texts {"This is a 100% free app, made with care by Marren.",
        "Esta es una app 100% gratuita, creada con cariño por Marren.",
        "Aquesta és una app 100% gratuïta, feta amb cura per Marren."});
    source.insert(kURL, QStringLiteral("https://marren.dev"));
    return source;
}

QString lookup(const MessageSource& source)
{
    const QString current = rawValue(Localization::shared().lang());
    if (auto it = source.constFind(current); it != source.constEnd())
        return it.value();
    if (auto it = source.constFind(rawValue(Lang::en)); it != source.constEnd())
        return it.value();
    return {};
}

std::optional<QString> member(const MessageSource& source, const QString& key)
{
    if (auto it = source.constFind(key); it != source.constEnd())
        return it.value();
    return std::nullopt;
}

TipMessage message(const MessageSource& source, const QString& text)
{
    return TipMessage {text, member(source, kColor), member(source, kImage), member(source, kURL)};
}

std::optional<MessageSource> decodeSource(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    MessageSource source;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
        source.insert(it.key(), it.value().toString());
    }
    return source;
}

// Outer nullopt: invalid. Inner nullopt: absent (missing or null).
std::optional<std::optional<QList<MessageSource>>> decodeList(const QJsonObject& root, const QString& key)
{
    const QJsonValue value = root.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<QList<MessageSource>>();
    if (!value.isArray())
        return std::nullopt;
    QList<MessageSource> list;
    for (const QJsonValue& item : value.toArray()) {
        std::optional<MessageSource> source = decodeSource(item);
        if (!source)
            return std::nullopt;
        list.append(*source);
    }
    return std::optional<QList<MessageSource>>(list);
}

std::optional<std::optional<MessageSource>> decodeMember(const QJsonObject& root, const QString& key)
{
    const QJsonValue value = root.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<MessageSource>();
    std::optional<MessageSource> source = decodeSource(value);
    if (!source)
        return std::nullopt;
    return std::optional<MessageSource>(*source);
}

}  // namespace

Tips& Tips::shared()
{
    static Tips* instance = new Tips;  // never destroyed
    return *instance;
}

QString Tips::defaultRemoteURL()
{
    return OnlineConfig::serverURL() + QStringLiteral("/tips.json");
}

Tips::Tips(QString remoteURLString, QObject* parent)
    : QObject(parent)
    , remoteURLString_(std::move(remoteURLString))
    , random_([](int bound) { return static_cast<int>(QRandomGenerator::global()->bounded(bound)); })
{
}

Tips::~Tips() = default;

void Tips::setRandomSource(RandomSource source)
{
    random_ = std::move(source);
}

void Tips::setCachePath(const QString& path)
{
    cachePath_ = path;
}

QString Tips::cacheURL() const
{
    QString path = cachePath_;
    if (path.isEmpty()) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (data.isEmpty())
            return {};
        path = data + QStringLiteral("/Halvex/tips.json");
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

int Tips::draw(int bound)
{
    const int value = random_ ? random_(bound) : 0;
    return (value >= 0 && value < bound) ? value : 0;
}

QList<MessageSource> Tips::tipPool() const
{
    return remoteTips_ ? *remoteTips_ : code(kTips);
}

QList<MessageSource> Tips::adPool() const
{
    return remoteAds_ ? *remoteAds_ : code(kAds);
}

TipMessage Tips::next()
{
    const QList<MessageSource> ads = adPool();
    const QList<MessageSource> pool = (!ads.isEmpty() && draw(5) == 0) ? ads : tipPool();
    if (pool.isEmpty())
        return {};
    const MessageSource* entry = &pool[draw(static_cast<int>(pool.size()))];
    QString text = lookup(*entry);
    if (text == last_ && pool.size() > 1) {
        entry = &pool[draw(static_cast<int>(pool.size()))];
        text = lookup(*entry);
    }
    last_ = text;
    return message(*entry, text);
}

std::optional<TipMessage> Tips::activationMessage() const
{
    const MessageSource source = onActivate_ ? *onActivate_ : embeddedOnActivate();
    const QString text = lookup(source);
    if (text.isEmpty() && !source.contains(kImage))
        return std::nullopt;
    return message(source, text);
}

Tips::About Tips::aboutInfo() const
{
    const MessageSource source = about_ ? *about_ : embeddedAbout();
    if (source.isEmpty())
        return {};
    return About {lookup(source), member(source, kURL)};
}

std::optional<Tips::Document> Tips::decode(const QByteArray& body)
{
    QJsonParseError error {};
    const QJsonDocument json = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject())
        return std::nullopt;
    const QJsonObject root = json.object();
    const auto tips = decodeList(root, QStringLiteral("tips"));
    const auto ads = decodeList(root, QStringLiteral("ads"));
    const auto onActivate = decodeMember(root, QStringLiteral("onActivate"));
    const auto about = decodeMember(root, QStringLiteral("about"));
    if (!tips || !ads || !onActivate || !about)
        return std::nullopt;
    return Document {*tips, *ads, *onActivate, *about};
}

bool Tips::accepted(const Document& document)
{
    return (document.tips && !document.tips->isEmpty()) || document.ads.has_value();
}

void Tips::apply(const Document& document)
{
    if (document.tips && !document.tips->isEmpty())
        remoteTips_ = document.tips;
    if (document.ads)
        remoteAds_ = document.ads;
    if (document.onActivate)
        onActivate_ = document.onActivate;
    if (document.about)
        about_ = document.about;
}

void Tips::refreshRemote()
{
    const QString cache = cacheURL();
    if (!cache.isEmpty()) {
        QFile file(cache);
        if (file.open(QIODevice::ReadOnly) && file.size() <= maxFeedBytes) {
            if (const std::optional<Document> document = decode(file.readAll()))
                apply(*document);
        }
    }

    if (remoteURLString_.contains(QStringLiteral("REPLACE")))
        return;
    const QUrl url(remoteURLString_, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return;

    // Tied to this object: if we are gone, so is the callback.
    Fetch::get(url, {maxFeedBytes, fetchTimeoutMs, 0, "tips feed"}, this, [this](const Fetch::Result& result) {
        // The HTTP status does not matter: any body that came whole is tried.
        if (result.ok())
            handleBody(result.body);
        if (onFetchFinished)
            onFetchFinished();
    });
}

void Tips::handleBody(const QByteArray& body)
{
    if (body.isEmpty())
        return;
    const std::optional<Document> document = decode(body);
    if (!document || !accepted(*document))
        return;
    const QString cache = cacheURL();
    if (!cache.isEmpty()) {
        // Written whole or not at all: a crash mid-write never leaves a truncated cache.
        QSaveFile file(cache);
        if (file.open(QIODevice::WriteOnly) && file.write(body) == body.size())
            file.commit();
    }
    apply(*document);
}
