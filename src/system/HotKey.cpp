#include "system/HotKey.h"

#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "system/EventLog.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <map>

namespace {

const char* const kKey = "vesk.hotkey.key";
const char* const kMods = "vesk.hotkey.mods";

const std::map<std::uint32_t, QString>& keyNames()
{
    static const std::map<std::uint32_t, QString> names = {
        {0, "A"}, {11, "B"}, {8, "C"}, {2, "D"}, {14, "E"}, {3, "F"}, {5, "G"}, {4, "H"}, {34, "I"},
        {38, "J"}, {40, "K"}, {37, "L"}, {46, "M"}, {45, "N"}, {31, "O"}, {35, "P"}, {12, "Q"},
        {15, "R"}, {1, "S"}, {17, "T"}, {32, "U"}, {9, "V"}, {13, "W"}, {7, "X"}, {16, "Y"}, {6, "Z"},
        {29, "0"}, {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {23, "5"}, {22, "6"}, {26, "7"},
        {28, "8"}, {25, "9"},
        {49, QString(QChar(0x2423))}, {36, QString(QChar(0x21A9))},
        {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"}, {97, "F6"}, {98, "F7"},
        {100, "F8"}, {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"},
    };
    return names;
}

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

void HotKey::registerHotKey()
{
    if (!installed_) {
        installed_ = true;
        if (service_) {
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
    }
    if (ref_) {
        if (service_)
            service_->unregisterHotKey(*ref_);
        ref_.reset();
    }
    if (service_)
        ref_ = service_->registerHotKey(keyCode(), mods());
    EventLog::shared().add(QStringLiteral("hotkey: ") + label());
}

void HotKey::rebind(std::uint32_t keyCode, std::uint32_t mods)
{
    SettingsStore::shared().setValue(QString::fromLatin1(kKey), static_cast<qint64>(keyCode));
    SettingsStore::shared().setValue(QString::fromLatin1(kMods), static_cast<qint64>(mods));
    registerHotKey();
    NotificationCenter::shared().post(QString::fromLatin1(didChange));
}

QString HotKey::describe(std::uint32_t keyCode, std::uint32_t mods)
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
    text += keyName(keyCode).value_or(QString(QChar(0x00B7)));
    return text;
}

std::optional<QString> HotKey::keyName(std::uint32_t keyCode)
{
    const auto it = keyNames().find(keyCode);
    if (it == keyNames().end())
        return std::nullopt;
    return it->second;
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
