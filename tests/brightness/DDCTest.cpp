#include "brightness/DDC.h"
#include "platform/linux/I2CDevTransport.h"

#include "RecordingDDCTransport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Event = RecordingDDCTransport::Event;

template <size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& a)
{
    return Bytes(a.begin(), a.end());
}

// A compact picture of the traffic: "p10000", "w82 01 10 AC", "r12".
std::vector<std::string> trace(const std::vector<Event>& events)
{
    std::vector<std::string> out;
    for (const Event& e : events) {
        char buf[8];
        switch (e.kind) {
        case Event::pause:
            out.push_back("p" + std::to_string(e.microseconds));
            break;
        case Event::read:
            EXPECT_EQ(e.chip, 0x37u);
            EXPECT_EQ(e.dataAddress, 0x51u);
            out.push_back("r" + std::to_string(e.length));
            break;
        case Event::write: {
            EXPECT_EQ(e.chip, 0x37u);
            EXPECT_EQ(e.dataAddress, 0x51u);
            std::string s = "w";
            for (size_t i = 0; i < e.bytes.size(); ++i) {
                std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", e.bytes[i]);
                s += buf;
            }
            out.push_back(s);
            break;
        }
        }
    }
    return out;
}

}  // namespace

TEST(DDCMessages, GetRequestIsTheFixedFourBytes)
{
    EXPECT_EQ(bytes(DDC::luminanceRequest()), (Bytes{0x82, 0x01, 0x10, 0xAC}));
}

TEST(DDCMessages, SetMessageCarriesValueAndChecksum)
{
    EXPECT_EQ(bytes(DDC::luminanceMessage(100)), (Bytes{0x84, 0x03, 0x10, 0x00, 0x64, 0xCC}));
    EXPECT_EQ(bytes(DDC::luminanceMessage(0)), (Bytes{0x84, 0x03, 0x10, 0x00, 0x00, 0xA8}));
    EXPECT_EQ(bytes(DDC::luminanceMessage(0x1234)), (Bytes{0x84, 0x03, 0x10, 0x12, 0x34, 0xA8 ^ 0x12 ^ 0x34}));
    // The checksum is the XOR of the addresses 0x6E, 0x51 and every message byte.
    const auto m = DDC::luminanceMessage(300);
    EXPECT_EQ(m[5], 0x6E ^ 0x51 ^ m[0] ^ m[1] ^ m[2] ^ m[3] ^ m[4]);
}

TEST(DDCMessages, SetMessageClampsToSixteenBits)
{
    EXPECT_EQ(bytes(DDC::luminanceMessage(70000)), (Bytes{0x84, 0x03, 0x10, 0xFF, 0xFF, 0xA8}));
    EXPECT_EQ(bytes(DDC::luminanceMessage(-5)), (Bytes{0x84, 0x03, 0x10, 0x00, 0x00, 0xA8}));
}

TEST(DDCMessages, ReplyGivesCurrentAndMaximum)
{
    const DDC::Reply reply{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00};
    EXPECT_EQ(DDC::parseLuminanceReply(reply), (Luminance{50, 100}));
    const DDC::Reply big{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x01, 0x2C, 0x00, 0xFA, 0x00, 0x00};
    EXPECT_EQ(DDC::parseLuminanceReply(big), (Luminance{250, 300}));
}

TEST(DDCMessages, ZeroMaximumIsNoResultEvenWithACurrentValue)
{
    const DDC::Reply reply{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00};
    EXPECT_FALSE(DDC::parseLuminanceReply(reply).has_value());
}

TEST(DDCMessages, ReplyCheckCoversChecksumOpcodeCodeAndResult)
{
    const DDC::Reply good = RecordingDDCTransport::replyFor(50, 100);
    EXPECT_TRUE(DDC::replyIsValid(good));
    for (size_t i = 0; i <= 10; ++i) {
        DDC::Reply bad = good;
        bad[i] ^= 0x01;
        EXPECT_FALSE(DDC::replyIsValid(bad)) << "byte " << i;
    }
    EXPECT_FALSE(DDC::replyIsValid(RecordingDDCTransport::replyFor(50, 100, 1)));  // unsupported
    const DDC::Reply nullMessage{0x6E, 0x80, 0xBE};
    EXPECT_TRUE(DDC::isNullMessage(nullMessage));
    EXPECT_FALSE(DDC::replyIsValid(nullMessage));
    EXPECT_FALSE(DDC::isNullMessage(good));
}

TEST(DDCLink, ReadSendsTheRequestTwiceThenReadsTwelveBytes)
{
    RecordingDDCTransport t;
    DDCService s = t.addService("DP-1");
    t.scriptedReplies.push_back({0, DDC::Reply{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0, 0}});
    DDC ddc(&t);
    EXPECT_EQ(ddc.readLuminance(s), (Luminance{50, 100}));
    EXPECT_EQ(trace(t.events()), (std::vector<std::string>{"p10000", "w82 01 10 AC", "p10000", "w82 01 10 AC",
                                     "p10000", "r12"}));
}

TEST(DDCLink, WriteSendsTheMessageTwiceEachAfterAPause)
{
    RecordingDDCTransport t;
    DDCService s = t.addService("DP-1");
    DDC ddc(&t);
    EXPECT_TRUE(ddc.writeLuminance(s, 100));
    EXPECT_EQ(trace(t.events()), (std::vector<std::string>{"p10000", "w84 03 10 00 64 CC", "p10000",
                                     "w84 03 10 00 64 CC"}));
    t.monitors["DP-1"] = {50, 100, false, false};  // DDC/CI off: neither write acknowledged
    EXPECT_FALSE(ddc.writeLuminance(s, 100));
}

TEST(DDCLink, FailedReadOrZeroMaximumGivesNothing)
{
    RecordingDDCTransport t;
    DDCService s = t.addService("DP-1");
    DDC ddc(&t);
    t.scriptedReplies.push_back({5, RecordingDDCTransport::replyFor(50, 100)});
    EXPECT_FALSE(ddc.readLuminance(s).has_value());
    t.scriptedReplies.push_back({0, RecordingDDCTransport::replyFor(50, 0)});
    EXPECT_FALSE(ddc.readLuminance(s).has_value());
    // One exchange each: without checked replies nothing is asked twice.
    int reads = 0;
    for (const Event& e : t.events())
        reads += e.kind == Event::read;
    EXPECT_EQ(reads, 2);
}

TEST(DDCLink, BusTimingWaitsForTheReplyAndAfterEachSet)
{
    RecordingDDCTransport t;
    t.timingValue = I2CDevTransport::standardTiming();
    DDCService s = t.addService("DP-1");
    t.monitors["DP-1"] = {30, 100};
    DDC ddc(&t);
    EXPECT_EQ(ddc.readLuminance(s), (Luminance{30, 100}));
    ddc.writeLuminance(s, 100);
    EXPECT_EQ(trace(t.events()), (std::vector<std::string>{"p10000", "w82 01 10 AC", "p10000", "w82 01 10 AC",
                                     "p40000", "r12", "p10000", "w84 03 10 00 64 CC", "p50000",
                                     "w84 03 10 00 64 CC", "p50000"}));
    EXPECT_EQ(t.monitors["DP-1"].current, 100);
}

TEST(DDCLink, BusRetriesBusyGarbageAndFailedReads)
{
    RecordingDDCTransport t;
    t.timingValue = I2CDevTransport::standardTiming();
    DDCService s = t.addService("DP-1");
    DDC ddc(&t);
    DDC::Reply corrupt = RecordingDDCTransport::replyFor(70, 100);
    corrupt[7] = 0x63;  // checksum no longer matches
    t.scriptedReplies.push_back({0, DDC::Reply{0x6E, 0x80, 0xBE}});
    t.scriptedReplies.push_back({0, corrupt});
    t.scriptedReplies.push_back({-1, {}});
    t.scriptedReplies.push_back({0, RecordingDDCTransport::replyFor(70, 100)});
    EXPECT_EQ(ddc.readLuminance(s), (Luminance{70, 100}));

    const std::vector<std::string> tr = trace(t.events());
    const std::vector<std::string> exchange{"p10000", "w82 01 10 AC", "p10000", "w82 01 10 AC", "p40000", "r12"};
    std::vector<std::string> expected;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            expected.push_back("p50000");
        expected.insert(expected.end(), exchange.begin(), exchange.end());
    }
    EXPECT_EQ(tr, expected);
}

TEST(DDCLink, BusGivesUpAfterItsAttempts)
{
    RecordingDDCTransport t;
    t.timingValue = I2CDevTransport::standardTiming();
    DDCService s = t.addService("DP-1");
    t.monitors["DP-1"] = {30, 100, false};  // never answers
    DDC ddc(&t);
    EXPECT_FALSE(ddc.readLuminance(s).has_value());
    int reads = 0;
    for (const Event& e : t.events())
        reads += e.kind == Event::read;
    EXPECT_EQ(reads, 4);
}

TEST(DDCLink, BusTakesAValidZeroMaximumOrUnsupportedAsFinal)
{
    RecordingDDCTransport t;
    t.timingValue = I2CDevTransport::standardTiming();
    DDCService s = t.addService("DP-1");
    DDC ddc(&t);
    t.scriptedReplies.push_back({0, RecordingDDCTransport::replyFor(30, 0)});
    EXPECT_FALSE(ddc.readLuminance(s).has_value());
    t.scriptedReplies.push_back({0, RecordingDDCTransport::replyFor(30, 100, 1)});
    t.scriptedReplies.push_back({0, RecordingDDCTransport::replyFor(30, 100)});
    EXPECT_FALSE(ddc.readLuminance(s).has_value());
    EXPECT_EQ(t.scriptedReplies.size(), 1u);  // the unsupported answer was not asked again
}

TEST(DDCLink, WithoutTransportNothingHappens)
{
    DDC ddc;
    EXPECT_FALSE(ddc.available());
    EXPECT_TRUE(ddc.externalServices().empty());
    auto s = std::make_shared<const DDCEndpoint>(DDCEndpoint{"/dev/i2c-1", "card0-DP-1"});
    EXPECT_FALSE(ddc.readLuminance(s).has_value());
    EXPECT_FALSE(ddc.writeLuminance(s, 50));

    RecordingDDCTransport t;
    t.isAvailable = false;
    ddc.setTransport(&t);
    EXPECT_FALSE(ddc.available());
    t.isAvailable = true;
    EXPECT_TRUE(ddc.available());
    EXPECT_FALSE(ddc.readLuminance(nullptr).has_value());
    EXPECT_TRUE(t.events().empty());
}
