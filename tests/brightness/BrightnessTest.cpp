#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "platform/linux/I2CDevTransport.h"
#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "RecordingDDCTransport.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

namespace {
using Bytes = std::vector<std::uint8_t>;
// Replies as a monitor sends them, checksummed against the host's 0x50: 50 of 100.
const DDC::Reply half{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xF2};
const DDC::Reply noControl{0x6E, 0x88, 0x02, 0x01, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xF3};
const DDC::Reply zeroMax{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x32, 0x96};
const DDC::Reply busy{0x6E, 0x80, 0xBE};
const DDC::Reply corrupt{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x63, 0x00, 0x32, 0xF2};  // the maximum changed in transit
using States = std::vector<PWMState>;
using Sets = RecordingDDCTransport::Sets;
constexpr PWMState waiting = PWMState::waiting, active = PWMState::active, unsupported = PWMState::unsupported;
bool onMainThread() { return QThread::currentThread() == qApp->thread(); }
// Counts display queries made off the main thread (the X11 backend is not thread-safe).
struct ThreadCheckingDisplays : FakeDisplayServices {
    std::atomic<int> offMain{0};
    std::vector<DisplayID> activeDisplays() override { return offMain += !onMainThread(), FakeDisplayServices::activeDisplays(); }
    bool isBuiltin(DisplayID d) override { return offMain += !onMainThread(), FakeDisplayServices::isBuiltin(d); }
};
}  // namespace

TEST(DDC, ChecksummedMessagesABufferedLinkAsksOnceABareBusChecksAndAsksAgainOneAcknowledgedSetIsEnough)
{
    // The Get request and a Set of 100 are pinned by the traffic below.
    const std::pair<int, Bytes> sets[] = {{0, {0, 0, 0xA8}}, {0x1234, {0x12, 0x34, 0x8E}}, {70000, {0xFF, 0xFF, 0xA8}}, {-5, {0, 0, 0xA8}}};
    for (const auto& [value, tail] : sets) {
        const auto m = DDC::luminanceMessage(value);
        EXPECT_EQ(Bytes(m.begin(), m.end()), (Bytes{0x84, 0x03, 0x10, tail[0], tail[1], tail[2]})) << value;
    }
    EXPECT_EQ(DDC::parseLuminanceReply({0, 0, 0, 0, 0, 0, 0x01, 0x2C, 0x00, 0xFA}), (Luminance{250, 300}));
    for (size_t i : {0, 1, 2, 3, 4, 10}) {  // each field wrong under a good checksum, then the checksum
        DDC::Reply bad = half;
        bad[i] ^= 0x01, bad[10] ^= i == 10 ? 0 : 0x01;
        EXPECT_FALSE(DDC::replyIsValid(bad)) << "byte " << i;
    }
    EXPECT_TRUE(DDC::isNullMessage(busy) && !DDC::replyIsValid(busy));
    EXPECT_FALSE(DDC::isNullMessage(half) || DDC::isNullMessage({0x00, 0x00, 0xBE}));
    RecordingDDCTransport t;
    const DDCService s = t.addService("DP-1");
    const DDC ddc(&t);
    t.scriptedReplies = {{0, half}, {5, half}, {0, zeroMax}};
    EXPECT_EQ(ddc.readLuminance(s), (Luminance{50, 100}));
    EXPECT_FALSE(ddc.readLuminance(s) || ddc.readLuminance(s));  // a failed read, then a maximum of 0
    EXPECT_TRUE(ddc.writeLuminance(s, 100));
    std::string get = " p10000 w820110AC p10000 w820110AC p10000 r12";
    EXPECT_EQ(t.trace, get + get + get + " p10000 w8403100064CC p10000 w8403100064CC");
    t.trace.clear();  // a bare bus
    t.timingValue = I2CDevTransport::standardTiming();
    t.scriptedReplies = {{0, busy}, {0, corrupt}, {-1, {}}, {0, half}};
    EXPECT_EQ(ddc.readLuminance(s), (Luminance{50, 100}));
    EXPECT_TRUE(ddc.writeLuminance(s, 100));
    get = " p10000 w820110AC p10000 w820110AC p40000 r12";
    const std::string retry = " p50000" + get;
    EXPECT_EQ(t.trace, get + retry + retry + retry + " p10000 w8403100064CC p50000 w8403100064CC p50000");
    // A valid maximum of 0 and "unsupported" are final; silence is given up after four tries.
    t.trace.clear();
    t.scriptedReplies = {{0, zeroMax}, {0, noControl}, {0, half}};
    EXPECT_FALSE(ddc.readLuminance(s) || ddc.readLuminance(s));
    t.scriptedReplies.clear();
    EXPECT_FALSE(ddc.readLuminance(s));
    EXPECT_EQ(t.trace, get + get + get + retry + retry + retry);
    // One acknowledged write of the two is enough; without transport or service nothing happens.
    struct FirstOnly : RecordingDDCTransport {
        int writes = 0;
        int writeI2C(const DDCService&, std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint32_t) override { return writes++ ? -1 : 0; }
    } firstOnly;
    EXPECT_TRUE(DDC(&firstOnly).writeLuminance(firstOnly.addService("DP-1"), 80));
    DDC bare;
    EXPECT_FALSE(bare.available() || !bare.externalServices().empty() || bare.readLuminance(s) || bare.writeLuminance(s, 50));
    t.trace.clear();
    EXPECT_FALSE(ddc.readLuminance(nullptr) || ddc.writeLuminance(nullptr, 50) || !t.trace.empty());
}

TEST(PWMSafe, PinsAndPutsBackOnlyAcknowledgedLevelsAvailabilityAndRequestsOneAtATimeUntilQuitting)
{
    ThreadCheckingDisplays displays;
    FakeBacklight backlight;
    RecordingDDCTransport transport;
    DDC ddc{&transport};
    std::atomic<int> polls{0};
    States states;
    PWMSafe pwm;  // after the things it uses: destroyed first
    pwm.setDisplayServices(&displays);
    pwm.setDDC(&ddc);
    pwm.setBacklight(backlight.functions());
    pwm.setSleep([&](std::chrono::microseconds d) { polls += d.count() == 120000; });
    pwm.onStateChange = [&](PWMState s) { states.push_back(onMainThread() ? s : PWMState::off); };  // told off the main thread: wrong
    const auto addPanel = [&](DisplayID id, float level, bool alc = true) { displays.addDisplay(id, true), backlight.panels[id] = {level, alc}; };
    const auto addMonitor = [&](const std::string& connector, int current, int max, bool answers = true, bool acks = true) {
        transport.monitors[connector] = {current, max, answers, acks}, transport.addService(connector);
    };
    const auto delivered = [&](size_t n) { return waitFor([&] { return states.size() >= n; }); };
    addPanel(7, 0.37f, true);  // not display 1, so that a display mixed up with its flag shows
    addPanel(8, 0.42f, false);
    addMonitor("DP-1", 35, 255);
    addMonitor("HDMI-A-1", 20, 80, false);  // unreadable: pinned at 100, and 100 is what it gets back
    pwm.enable();
    pwm.enable();  // the monitors are left as they are
    EXPECT_TRUE(pwm.state() == active && backlight.level(7) == 1.0f && backlight.level(8) == 1.0f && !backlight.alc(7));
    EXPECT_EQ(polls, 2);  // held at the first poll
    EXPECT_EQ(transport.sets, (Sets{{"DP-1", 255}, {"DP-1", 255}, {"HDMI-A-1", 100}, {"HDMI-A-1", 100}}));
    transport.sets.clear();
    pwm.disable();
    EXPECT_TRUE(backlight.level(7) == 0.37f && backlight.alc(7) && backlight.level(8) == 0.42f && !backlight.alc(8)
        && pwm.savedBuiltin().empty() && pwm.savedALC().empty() && pwm.savedExternal().empty());
    EXPECT_EQ(transport.sets, (Sets{{"DP-1", 35}, {"DP-1", 35}, {"HDMI-A-1", 100}, {"HDMI-A-1", 100}}));
    ASSERT_TRUE(delivered(5));
    EXPECT_EQ(states, (States{waiting, active, waiting, active, PWMState::off}));
    polls = 0, states.clear(), displays.displays.clear(), transport.services.clear();
    displays.addDisplay(2);
    addMonitor("DP-1", 60, 100);
    EXPECT_TRUE(pwm.available());
    transport.isAvailable = false;
    EXPECT_FALSE(pwm.available() || pwm.builtinHardwareBrightness());  // no built-in display
    displays.addDisplay(1, true);
    EXPECT_FALSE(pwm.builtinHardwareBrightness());  // the backlight cannot read it
    backlight.panels[1] = {-1.0f, false};
    EXPECT_FALSE(pwm.builtinHardwareBrightness());  // nor a level below 0
    backlight.panels[1] = {0.25f, false};
    EXPECT_TRUE(pwm.builtinHardwareBrightness() == 0.25f && pwm.available());
    pwm.setBacklight({});
    EXPECT_FALSE(pwm.builtinHardwareBrightness() || pwm.available());
    transport.services.clear();
    pwm.enable();  // a built-in display without backlight functions
    EXPECT_TRUE(pwm.state() == unsupported && pwm.savedBuiltin().empty() && pwm.savedALC().empty() && pwm.savedExternal().empty() && polls == 0);
    // A write nobody acknowledged pinned nothing: the display still flickers.
    const struct { std::optional<float> settles; bool refuses, monitors; PWMState state; int polls; } cases[] = {
        {0.9f, false, false, active, 5},  // taken, though it never holds
        {{}, true, false, unsupported, 5},
        {{}, false, false, unsupported, 0},  // beside a monitor with DDC/CI off
        {{}, false, true, active, 0},  // beside another that is on
    };
    Backlight refusing = backlight.functions();
    refusing.setBrightness = [](DisplayID, float) { return -1; };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        pwm.disable();  // forgets what the case before pinned
        displays.displays.clear(), transport.services.clear(), polls = 0;
        if (c.settles || c.refuses)
            addPanel(1, 0.3f);
        if (!c.settles)
            addMonitor("HDMI-A-1", 20, 100, false, false);
        if (c.monitors)
            addMonitor("DP-1", 40, 100);
        backlight.settlesAt = c.settles;
        pwm.setBacklight(c.refuses ? refusing : backlight.functions());
        pwm.enable();
        EXPECT_TRUE(pwm.state() == c.state && polls == c.polls);
        ASSERT_EQ(pwm.savedExternal().size(), c.monitors ? 1u : 0u);
        EXPECT_TRUE(!c.monitors || pwm.savedExternal()[0].first->connector == "DP-1");
    }
    pwm.disable();
    spin(50);  // the state it told arrives before the walk below counts them
    states.clear(), displays.displays.clear(), transport.services.clear(), backlight.settlesAt.reset();
    addPanel(1, 0.3f);
    addMonitor("DP-1", 40, 100);
    std::atomic<int> inside{0}, overlaps{0};
    std::atomic<bool> slow{false}, polling{false};
    Backlight b = backlight.functions();
    b.setBrightness = [&, set = b.setBrightness](DisplayID d, float level) {
        overlaps += inside++ != 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // wide enough to be caught inside
        return --inside, set(d, level);
    };
    pwm.setBacklight(b);
    pwm.setSleep([&](std::chrono::microseconds) { polling = true, slow ? std::this_thread::sleep_for(std::chrono::milliseconds(30)) : void(); });
    for (int k = 0; k < 6; ++k) {
        pwm.enableInBackground();
        pwm.disableInBackground();
        if (k % 2)
            pwm.enable();  // direct calls take turns with the background
    }
    pwm.disableInBackground();  // queued after the last direct call, so it runs last
    pwm.waitUntilIdle();
    EXPECT_TRUE(overlaps == 0 && displays.offMain == 0 && backlight.level(1) == 0.3f && transport.monitors["DP-1"].current == 40);
    ASSERT_TRUE(delivered(25));  // nine enables of two states, seven disables of one
    for (size_t i = 0; i + 1 < states.size(); ++i)
        EXPECT_EQ(states[i] == waiting, states[i + 1] == active) << i;
    EXPECT_EQ(states.back(), PWMState::off);
    states.clear();
    slow = true, polling = false;
    backlight.settlesAt = 0.9f;  // all five polls, so the enable is still running below
    pwm.enableInBackground();
    pwm.enableInBackground();
    ASSERT_TRUE(waitFor([&] { return polling.load(); }));
    backlight.settlesAt.reset();
    pwm.disable();  // on the main thread, like quitting
    EXPECT_TRUE(backlight.level(1) == 0.3f && transport.monitors["DP-1"].current == 40);
    pwm.waitUntilIdle();
    spin(50);
    EXPECT_TRUE(pwm.state() == PWMState::off && states.back() == PWMState::off && std::count(states.begin(), states.end(), waiting) == 1);
}
