#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "system/Autostart.h"
#include "system/ConflictDetector.h"
#include "system/EventLog.h"
#include "system/HotKey.h"
#include "system/KeyCodes.h"
#include "system/Localization.h"

#include "FakeHotKeyService.h"
#include "FakeRunningApplications.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QProcess>
#include <QRegularExpression>
#include <thread>

// A handler may remove and add observers while a post runs.
TEST(NotificationCenter, DeliversByNameAndForgetsDeadObservers)
{
    NotificationCenter center;
    auto observer = std::make_unique<QObject>();
    QObject other;
    QString calls;
    center.addObserver(QStringLiteral("A"), observer.get(), [&] { calls += u'a'; });
    center.addObserver(QStringLiteral("B"), observer.get(), [&] { calls += u'b'; });
    center.addObserver(QStringLiteral("A"), &other, [&] {
        calls += u'o';
        center.removeObservers(&other);
        center.addObserver(QStringLiteral("A"), &other, [&] { calls += u'n'; });
    });
    center.post(QStringLiteral("A"));
    EXPECT_EQ(calls + QString::number(center.observerCount(QStringLiteral("A"))), QStringLiteral("ao2"));
    observer.reset();
    center.post(QStringLiteral("A"));
    EXPECT_EQ(calls, QStringLiteral("aon"));
    EXPECT_EQ(std::pair(center.observerCount(QStringLiteral("A")), center.observerCount(QStringLiteral("B"))), std::pair(1, 0));
}

TEST(Localization, TheStoredLanguageOrSpanish)
{
    FreshSettings settings;
    EXPECT_EQ(Localization().t(QStringLiteral("quit")), QStringLiteral("Salir"));
    for (const auto& [stored, lang] : {std::pair {"fr", Lang::es}, {"ES", Lang::es}, {"ca", Lang::ca}, {"en", Lang::en}}) {
        SettingsStore::shared().setValue(QStringLiteral("vesk.lang"), QString::fromLatin1(stored));
        EXPECT_EQ(Localization().lang(), lang) << stored;
    }
}

// The newest 200 entries, oldest first, each "[HH:mm:ss] message"; three threads add at once.
TEST(EventLog, KeepsTheNewest200Entries)
{
    EventLog log;
    std::vector<std::jthread> threads(3);
    for (auto& thread : threads)
        thread = std::jthread([&log] { for (int i = 0; i < 67; ++i) log.add(QStringLiteral("x")); });
    threads.clear();
    log.add(QStringLiteral("202"));
    const QStringList lines = log.dump().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 200);
    const QRegularExpression format(QStringLiteral("^\\[([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d\\] 202$"));
    EXPECT_TRUE(format.match(lines.back()).hasMatch()) << lines.back().toStdString();
}

// A rule takes what it names, not what merely contains it; the earlier rule, the first application wins.
TEST(ConflictDetector, Rules)
{
    const auto text = [](const char* s) { return s ? std::optional<QString>(QString::fromUtf8(s)) : std::nullopt; };
    const struct { const char *name, *id, *shown; } cases[] = {{"fLuX", nullptr, "f.lux"}, {"Fluxion", nullptr, nullptr},
        {"influx", nullptr, nullptr}, {"xiris", nullptr, nullptr}, {"My F.LUX helper", nullptr, "f.lux"}, {"Whatever", "org.HERF.Flux", "f.lux"},
        {nullptr, "com.herf.fluxion", "f.lux"}, {"iris-mini", nullptr, "Iris"}, {"osiris", nullptr, nullptr},
        {nullptr, "com.IRISTECH.app", "Iris"}, {"Lunar", nullptr, "Lunar"}, {"lunarclient", nullptr, nullptr},
        {nullptr, "fyi.lunar.Lunar", "Lunar"}, {"Gammy", nullptr, "Gammy"}, {nullptr, "io.github.gammy", nullptr},
        {"redshift-qt", nullptr, "Redshift"}, {nullptr, "org.redshift.Redshift", nullptr}, {nullptr, nullptr, nullptr},
        {"", "", nullptr}, {"gammastep-indicator", nullptr, "Gammastep"}, {"wlsunset", nullptr, "wlsunset"},
        {"xsct", nullptr, "xsct"}, {"sct", nullptr, "sct"}, {"sctd", nullptr, nullptr}, {"hyprsunset", nullptr, "hyprsunset"},
        {"wl-gammarelay", nullptr, "wl-gammarelay"}, {"wl-gammarelay-rs", nullptr, "wl-gammarelay-rs"}, {"clight", nullptr, "Clight"},
        {"clightd", nullptr, nullptr}, {"lunar iris", nullptr, "Iris"}, {"gammy redshift", nullptr, "Gammy"},
        {"Lunar", "com.herf.flux", "f.lux"}, {"Lunar", "iris", "Iris"}, {"gammy", "lunar", "Lunar"}};
    for (const auto& c : cases)
        EXPECT_EQ(ConflictDetector::conflicting({{text(c.name), text(c.id)}}), text(c.shown))
            << (c.name ? c.name : "-") << " / " << (c.id ? c.id : "-");
    FakeRunningApplications fake;  // the source is asked each time; the first application wins, not the first rule
    ConflictDetector::setRunningApplications(&fake);
    EXPECT_EQ(ConflictDetector::conflicting(), std::nullopt);
    fake.applications = {{QStringLiteral("bash"), {}}, {QStringLiteral("Lunar"), {}}, {QStringLiteral("Flux"), {}}};
    EXPECT_EQ(ConflictDetector::conflicting(), QStringLiteral("Lunar"));
    ConflictDetector::setRunningApplications(nullptr);
    EXPECT_EQ(ConflictDetector::conflicting(), std::nullopt);
}

// GLib's launcher, as a desktop session would, runs a program whose path holds every
// character the Exec key quotes or escapes. A line break cannot be put in the key.
TEST(Autostart, TheEntryStartsTheProgramWhateverItsPath)
{
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/my \"apps\" $HOME `x` back\\slash/ambrano");
    const QString entry = dir.path() + QStringLiteral("/autostart/ambrano.desktop");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(program).path()));
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\ntouch \"$0.started\"\n") > 0);
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    Autostart autostart(entry);
    EXPECT_FALSE(autostart.enable(QStringLiteral("/opt/a\nExec=rm -rf ~")) || autostart.enable(QStringLiteral("relative/ambrano")));
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(autostart.enable(program) && autostart.enabled());
    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), entry});
    ASSERT_TRUE(gio.waitForFinished(10000));
    EXPECT_EQ(gio.exitCode(), 0) << gio.readAllStandardError().toStdString();
    EXPECT_TRUE(waitFor([&] { return QFile::exists(program + QStringLiteral(".started")); }));
    EXPECT_TRUE(autostart.disable() && autostart.disable());
    EXPECT_FALSE(autostart.enabled());
}

using Combination = std::pair<std::uint32_t, std::uint32_t>;

TEST(HotKeyText, SymbolsAndNamesInTheirOrder)
{
    const struct { std::uint32_t key, mods; const char *symbols, *names; } cases[] = {
        {6, 6400, "⌃⌥⌘Z", "Ctrl+Alt+Super+Z"}, {0, 0x200, "⇧A", "Shift+A"},
        {36, 0xFFFFFFFF, "⌃⌥⇧⌘↩", "Ctrl+Alt+Shift+Super+Return"}, {49, 0x900, "⌥⌘␣", "Alt+Super+Space"},
        {126, 0x1000, "⌃·", "Ctrl+Up"}, {50, 0x100, "⌘·", "Super+`"}, {1000, 0, "·", "·"}, {111, 0x1000, "⌃F12", "Ctrl+F12"}};
    for (const auto& c : cases)
        EXPECT_EQ(HotKey::symbolText(c.key, c.mods) + u'|' + HotKey::describe(c.key, c.mods), QString::fromUtf8(c.symbols) + u'|' + c.names);
    // Only the four modifiers count: not caps lock, device bits, fn or the numeric pad.
    EXPECT_EQ(std::tuple(HotKey::carbonMods(0x10000 | 0xFFFF | 0x800000 | 0x200000), HotKey::carbonMods(0x20000 | 0x100000),
                  HotKey::carbonMods(0x40000 | 0x80000 | 0x100000)), std::tuple(0u, 0x300u, 6400u));
    for (std::uint32_t keysym = 0; keysym < 0x10000; ++keysym) {
        const auto key = KeyCodes::byKeysym(keysym);
        EXPECT_TRUE(!key || KeyCodes::byCode(key->code)->keysym == key->keysym) << keysym;
    }
    EXPECT_EQ(KeyCodes::byKeysym(0x51)->code, 12u);  // Q, typed with Shift
    EXPECT_FALSE(KeyCodes::byKeysym(0x28));  // "(" is no key of its own
}

TEST(HotKey, StoredRegisteredRebound)
{
    FreshSettings settings;
    FakeHotKeyService service;
    HotKey& hotKey = HotKey::shared();  // it owns the callback the handler hands presses to
    hotKey.setService(&service);
    auto& store = SettingsStore::shared();
    QObject observer;
    int posts = 0;
    NotificationCenter::shared().addObserver(QString::fromLatin1(HotKey::didChange), &observer, [&posts] { ++posts; });
    // Posts, what is stored, what is registered, the last line logged.
    const auto now = [&] {
        const Combination stored(store.integerValue("vesk.hotkey.key").value_or(-1), store.integerValue("vesk.hotkey.mods").value_or(-1));
        return std::tuple(posts, stored, service.registered.size() == 1 ? service.registered.begin()->second : Combination {},
            EventLog::shared().dump().section("] ", -1));
    };
    hotKey.registerHotKey();
    hotKey.registerHotKey();
    EXPECT_EQ(service.installs, 1);
    EXPECT_EQ(now(), std::tuple(0, Combination(-1, -1), Combination(6, 6400), QStringLiteral("hotkey: ⌃⌥⌘Z")));
    EXPECT_TRUE(hotKey.rebind(0, 0x200));
    // A combination another program holds is not taken, nor stored, and the old one stays.
    service.taken.insert({12, 0x1100});
    EXPECT_FALSE(hotKey.rebind(12, 0x1100));
    EXPECT_EQ(now(), std::tuple(1, Combination(0, 0x200), Combination(0, 0x200), QStringLiteral("hotkey: ⌃⌘Q is taken by another program")));
    const auto storeAndRead = [&](const QJsonValue& key, const QJsonValue& mods) {
        store.setValue(QStringLiteral("vesk.hotkey.key"), key);
        store.setValue(QStringLiteral("vesk.hotkey.mods"), mods);
        return Combination(hotKey.keyCode(), hotKey.mods());
    };
    EXPECT_EQ(storeAndRead("0", -1), Combination(6, 6400));  // outside unsigned 32 bits: the default
    EXPECT_EQ(storeAndRead(0, 4294967296.0), Combination(0, 6400));
    EXPECT_EQ(storeAndRead(0, 4294967295.0), Combination(0, 0xFFFFFFFF));
    EXPECT_EQ(hotKey.keyCodeForNativeKey(38, 0), 1038U);  // the recorder asks the facility
    hotKey.setService(nullptr);
    EXPECT_FALSE(hotKey.keyCodeForNativeKey(38, 0));
}
