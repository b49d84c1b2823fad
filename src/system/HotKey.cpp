#include "system/HotKey.h"

#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "system/EventLog.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QStringList>

namespace {

const char* const kKey = "vesk.hotkey.key";
const char* const kMods = "vesk.hotkey.mods";

}  // namespace

HotKey& HotKey::shared()
{
    static HotKey instance;
    return instance;
}

std::uint32_t HotKey::storedOrDefault(const char* key, std::uint32_t fallback) const
{
    const auto stored = SettingsStore::shared().integerValue(QString::fromLatin1(key));
    if (!stored || *stored < 0 || *stored > 0xFFFFFFFFLL)
        return fallback;
    return static_cast<std::uint32_t>(*stored);
}

std::uint32_t HotKey::keyCode() const
{
    return storedOrDefault(kKey, defaultKeyCode);
}

std::uint32_t HotKey::mods() const
{
    return storedOrDefault(kMods, defaultMods);
}

QString HotKey::label() const
{
    return describe(keyCode(), mods());
}

void HotKey::installHandler()
{
    if (installed_ || !service_)
        return;
    installed_ = true;
    service_->installHandler([] {
        // Hand the press to the main queue so the callback never runs inside dispatch.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [] {
                if (HotKey::shared().onTrigger)
                    HotKey::shared().onTrigger();
            },
            Qt::QueuedConnection);
    });
}

bool HotKey::registerCombination(std::uint32_t keyCode, std::uint32_t mods)
{
    if (!service_)
        return true;
    ref_ = service_->registerHotKey(keyCode, mods);
    if (ref_)
        refused_.reset();
    else
        refused_.emplace(keyCode, mods);
    return ref_.has_value();
}

void HotKey::registerHotKey()
{
    installHandler();
    if (ref_) {
        if (service_)
            service_->unregisterHotKey(*ref_);
        ref_.reset();
    }
    registerCombination(keyCode(), mods());
    EventLog::shared().add(QStringLiteral("hotkey: ") + symbolText(keyCode(), mods()));
}

bool HotKey::rebind(std::uint32_t keyCode, std::uint32_t mods)
{
    installHandler();
    // The old grab goes first: the service may not hold the same combination twice.
    const bool hadRef = ref_.has_value();
    if (ref_ && service_)
        service_->unregisterHotKey(*ref_);
    ref_.reset();
    if (!registerCombination(keyCode, mods)) {
        const auto taken = refused_;
        if (hadRef)
            registerCombination(this->keyCode(), this->mods());
        refused_ = taken;
        EventLog::shared().add(QStringLiteral("hotkey: ") + symbolText(keyCode, mods) + QStringLiteral(" is taken by another program"));
        return false;
    }
    SettingsStore::shared().setValue(QString::fromLatin1(kKey), static_cast<qint64>(keyCode));
    SettingsStore::shared().setValue(QString::fromLatin1(kMods), static_cast<qint64>(mods));
    EventLog::shared().add(QStringLiteral("hotkey: ") + symbolText(keyCode, mods));
    NotificationCenter::shared().post(QString::fromLatin1(didChange));
    return true;
}

std::optional<std::uint32_t> HotKey::keyCodeForNativeKey(std::uint32_t nativeKey, std::uint32_t nativeState) const
{
    if (!service_)
        return std::nullopt;
    return service_->keyCodeOf(nativeKey, nativeState);
}

QString HotKey::describe(std::uint32_t keyCode, std::uint32_t mods)
{
#ifdef Q_OS_MACOS
    return symbolText(keyCode, mods);
#else
    return plainText(keyCode, mods);
#endif
}

QString HotKey::symbolText(std::uint32_t keyCode, std::uint32_t mods)
{
    QString text;
    if (mods & HotKeyMask::control)
        text += QChar(0x2303);
    if (mods & HotKeyMask::option)
        text += QChar(0x2325);
    if (mods & HotKeyMask::shift)
        text += QChar(0x21E7);
    if (mods & HotKeyMask::command)
        text += QChar(0x2318);
    const auto key = KeyCodes::byCode(keyCode);
    text += key && key->symbol ? QString::fromUtf8(key->symbol) : QString(QChar(0x00B7));
    return text;
}

QString HotKey::plainText(std::uint32_t keyCode, std::uint32_t mods)
{
    QStringList parts;
    if (mods & HotKeyMask::control)
        parts << QStringLiteral("Ctrl");
    if (mods & HotKeyMask::option)
        parts << QStringLiteral("Alt");
    if (mods & HotKeyMask::shift)
        parts << QStringLiteral("Shift");
    if (mods & HotKeyMask::command)
        parts << QStringLiteral("Super");
    const auto key = KeyCodes::byCode(keyCode);
    parts << (key ? QString::fromUtf8(key->name) : QString(QChar(0x00B7)));
    return parts.join(QLatin1Char('+'));
}

std::uint32_t HotKey::carbonMods(std::uint64_t flags)
{
    std::uint32_t mods = 0;
    if (flags & ModifierFlag::command)
        mods |= HotKeyMask::command;
    if (flags & ModifierFlag::option)
        mods |= HotKeyMask::option;
    if (flags & ModifierFlag::control)
        mods |= HotKeyMask::control;
    if (flags & ModifierFlag::shift)
        mods |= HotKeyMask::shift;
    return mods;
}
