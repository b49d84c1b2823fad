#include "app/CommandLine.h"
#include "app/PlatformWiring.h"
#include "app/RemoteControl.h"
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "platform/NoDisplayServices.h"
#include "platform/Platform.h"
#include "platform/linux/UnixLocalOwner.h"
#include "system/EventLog.h"

#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "FakeHotKeyService.h"
#include "FakeProcessLauncher.h"
#include "FakeRunningApplications.h"
#include "RecordingDDCTransport.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <future>
#include <unistd.h>

using Verb = RemoteRequest::Verb;

TEST(RemoteRequest, OnlyExactShortLinesAreRequests)
{
    const struct { QByteArray line; Verb verb; double value = 0; } accepted[] = {{"toggle", Verb::toggle}, {"on", Verb::on},
        {"off", Verb::off}, {"quit", Verb::quit}, {"warmth 0", Verb::warmth, 0}, {"warmth 100", Verb::warmth, 100},
        {"brightness 55.5", Verb::brightness, 55.5}};
    for (const auto& c : accepted) {
        const std::optional<RemoteRequest> request = RemoteRequest::parse(c.line);
        ASSERT_TRUE(request) << c.line.toStdString();
        EXPECT_EQ(std::tuple(request->verb, request->value, request->line()), std::tuple(c.verb, c.value, c.line));
    }
    for (const char* line : {"", "TOGGLE", " toggle", "toggle ", "toggle\r", "on 5", "warmth", "warmth ", "warmth  40",
             "warmth 40 40", "warmth 101", "warmth 100.01", "warmth -1", "warmth +1", "warmth 1e2", "warmth 0x10", "warmth 40.",
             "warmth .5", "warmth 4.125", "warmth nan", "brightness 0040"})
        EXPECT_FALSE(RemoteRequest::parse(line)) << line;
    for (const QByteArray& line : {QByteArray("on\0", 3), "quit" + QByteArray(40, ' '), QByteArray(4096, 'a')})
        EXPECT_FALSE(RemoteRequest::parse(line)) << line.left(40).toStdString();
}

TEST(CommandLine, OneRequestWithAValidNumberOrAUsageError)
{
    using Kind = CommandLine::Invocation::Kind;
    const struct { QStringList arguments; Kind kind; Verb verb = Verb::toggle; double value = 0; } cases[] = {
        {{}, Kind::run}, {{"--help"}, Kind::help}, {{"--version"}, Kind::version}, {{"--quit"}, Kind::control, Verb::quit},
        {{"--warmth", "40"}, Kind::control, Verb::warmth, 40}, {{"--brightness=70.5"}, Kind::control, Verb::brightness, 70.5},
        {{"--warmth", "150"}, Kind::error}, {{"--warmth", "-3"}, Kind::error}, {{"--warmth", "warm"}, Kind::error}, {{"--warmth"}, Kind::error},
        {{"--on", "--off"}, Kind::error}, {{"--on", "--on"}, Kind::error}, {{"--brighter"}, Kind::error}, {{"toggle"}, Kind::error}};
    UnixLocalOwner owner;
    for (const auto& c : cases) {
        const CommandLine::Invocation invocation = CommandLine::parse(QStringList {"ambrano"} + c.arguments);
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        EXPECT_EQ(std::tuple(invocation.kind, invocation.request.verb, invocation.request.value), std::tuple(c.kind, c.verb, c.value));
        EXPECT_EQ(invocation.kind == Kind::error, invocation.error.startsWith("ambrano: "));
        // The exit status without a display: 0, or 2 for wrong arguments.
        EXPECT_EQ(c.kind == Kind::control ? 0 : CommandLine::runWithoutDisplay(invocation, owner, 0, nullptr), c.kind == Kind::error ? 2 : 0);
    }
}

template <typename F>
auto offThread(F f)
{
    auto result = std::async(std::launch::async, f);
    waitFor([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 8000);
    return result.get();
}

// The running side in this process, the sending side on another thread, as two processes would.
TEST(RemoteControl, TheFloorHoldsAndNothingElseGetsIn)
{
    FreshSettings settings;
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    UnixLocalOwner owner;
    VeskEngine& engine = VeskEngine::shared();
    engine.setEnabled(false);
    RemoteControl remote(owner);
    RemoteControl::Answer answer;
    const auto send = [&](const char* line) {
        answer = offThread([&] { return RemoteControl::send(owner, dir.path(), *RemoteRequest::parse(line), 3000); });
        return answer.outcome;
    };
    const auto sendRaw = [&](const QByteArray& bytes) {
        return offThread([&] {
            QLocalSocket socket;
            socket.connectToServer(RemoteControl::socketPath(dir.path()));
            socket.waitForConnected(2000);
            socket.write(bytes);
            socket.waitForDisconnected(3000);
            return socket.readAll();
        });
    };
    ASSERT_TRUE(remote.listen(dir.path()));
    EXPECT_EQ(send("brightness 10"), RemoteControl::Outcome::done);
    EXPECT_EQ(send("brightness 9.99"), RemoteControl::Outcome::refused);  // below the panel's floor
    EXPECT_EQ(answer.message, QStringLiteral("brightness must be between 10 and 100"));
    // Malformed or oversized: refused; no line feed ever: dropped unanswered.
    for (const QByteArray& bytes : {QByteArray("TOGGLE\n"), QByteArray("on\nquit\n"), QByteArray("warmth 1e2\n"),
             QByteArray(1 << 16, 'x'), QByteArray("toggle\0\n", 8)})
        EXPECT_EQ(sendRaw(bytes), QByteArray("refused malformed request\n")) << bytes.left(20).toStdString();
    EXPECT_EQ(sendRaw("toggle"), QByteArray());
    // Another user, once the folder and socket are opened up, meets the peer check alone.
    if (getuid() == 0 && !QStandardPaths::findExecutable("setpriv").isEmpty() && QFile::exists("/usr/bin/python3")) {
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther);
        QFile::setPermissions(RemoteControl::socketPath(dir.path()), QFileDevice::Permissions(0x7777));
        QProcess other;
        other.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
            "import socket,sys\ns=socket.socket(socket.AF_UNIX)\ns.connect(sys.argv[1])\n"
            "try:\n s.sendall(b'on\\n'); answered=s.recv(64)!=b''\nexcept OSError:\n answered=False\n"
            "print(answered, end='')", RemoteControl::socketPath(dir.path())});
        ASSERT_TRUE(waitFor([&] { return other.state() == QProcess::NotRunning; }, 8000));
        EXPECT_EQ(other.readAllStandardOutput() + other.readAllStandardError(), QByteArray("False"));
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) & ~QFileDevice::ExeOther);
    }
    EXPECT_EQ(std::pair(engine.enabled(), engine.brightness()), std::pair(true, 10.0));
    // A folder others may enter is not used at all.
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther);
    EXPECT_FALSE(RemoteControl(owner).listen(dir.path()));
}

namespace {
struct FakePlatform : Platform, SleepWatcher, ArchiveExtractor, Installer {
    FakePlatform(DisplayServices& displays, const char* backend) : displays_(displays), backend_(backend) {}
    DisplayServices& displays() override { return displays_; }
    std::string displayBackend() const override { return backend_; }
    HotKeyService& hotKeys() override { return hotKeys_; }
    SleepWatcher& sleepWatcher() override { return *this; }
    RunningApplications& runningApplications() override { return apps_; }
    const Backlight& backlight() override { return functions_; }
    DDCTransport& ddcTransport() override { return ddc_; }
    ArchiveExtractor& archiveExtractor() override { return *this; }
    ProcessLauncher& processLauncher() override { return launcher_; }
    Installer& installer() override { return *this; }
    void onTerminationRequest(std::function<void()>) override {}
    void setOnWake(std::function<void()>) override {}
    bool extract(const QString&, const QString&) override { return false; }
    bool install(const QByteArray&, const QString&) override { return false; }
    DisplayServices& displays_;
    std::string backend_;
    FakeHotKeyService hotKeys_;
    FakeRunningApplications apps_;
    FakeBacklight backlight_;
    Backlight functions_ = backlight_.functions();
    RecordingDDCTransport ddc_;
    FakeProcessLauncher launcher_;
};
}  // namespace

// PWM-safe needs gamma tables that reach the screen (an external monitor answers DDC/CI in every case).
TEST(PlatformWiringTest, TheLogNamesTheBackendAndPwmSafeNeedsTables)
{
    FakeDisplayServices one;
    one.addDisplay(7);
    NoDisplayServices none;
    const struct { DisplayServices* displays; const char *backend, *line; bool pwmSafe; } cases[] = {
        {&one, "wayland wlr-gamma-control", "display: wayland wlr-gamma-control (1 output)", true},
        {&none, "none (Xwayland)", "display: none (Xwayland)", false}};
    for (const auto& c : cases) {
        FakePlatform platform(*c.displays, c.backend);
        PlatformWiring wiring(platform);
        EXPECT_EQ(VeskEngine::shared().displayServices(), c.displays);
        EXPECT_EQ(std::pair(EventLog::shared().dump().endsWith(QString::fromLatin1(c.line)), PWMSafe::shared().available()),
            std::pair(true, c.pwmSafe)) << c.line;
    }
    EXPECT_EQ(VeskEngine::shared().displayServices(), nullptr);
}
