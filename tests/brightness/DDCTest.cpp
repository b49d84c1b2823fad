#include "brightness/DDC.h"
#include "platform/linux/I2CDevTransport.h"
#include "RecordingDDCTransport.h"
#include <gtest/gtest.h>

namespace {
using Bytes = std::vector<std::uint8_t>;
using Event = RecordingDDCTransport::Event;
// Replies as a monitor sends them, checksummed against the host's 0x50: 50 of 100.
const DDC::Reply half{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xF2};
const DDC::Reply unsupported{0x6E, 0x88, 0x02, 0x01, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xF3};
const DDC::Reply zeroMax{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x32, 0x96};
const DDC::Reply busy{0x6E, 0x80, 0xBE};
// The traffic in short: " p10000" a pause, " w820110AC" a write, " r12" a read.
std::string trace(const std::vector<Event>& events)
{
    std::string out;
    for (const Event& e : events) {
        EXPECT_TRUE(e.kind == Event::pause || (e.chip == 0x37 && e.dataAddress == 0x51));
        out += e.kind == Event::pause ? " p" + std::to_string(e.microseconds) : e.kind == Event::read ? " r" + std::to_string(e.length)
            : " w" + QByteArray(reinterpret_cast<const char*>(e.bytes.data()), qsizetype(e.bytes.size())).toHex().toUpper().toStdString();
    }
    return out;
}
}  // namespace

TEST(DDCMessages, TheBytesOnTheWireAndOnlyAChecksummedLuminanceReplyWithoutErrorIsValid)
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
}

TEST(DDCLink, ABufferedLinkAsksOnceABareBusChecksRepliesAndAsksAgainAndOneAcknowledgedSetIsEnough)
{
    RecordingDDCTransport t;
    const DDCService s = t.addService("DP-1");
    const DDC ddc(&t);
    t.scriptedReplies = {{0, half}, {5, half}, {0, zeroMax}};
    EXPECT_EQ(ddc.readLuminance(s), (Luminance{50, 100}));
    EXPECT_FALSE(ddc.readLuminance(s) || ddc.readLuminance(s));  // a failed read, then a maximum of 0
    EXPECT_TRUE(ddc.writeLuminance(s, 100));
    std::string get = " p10000 w820110AC p10000 w820110AC p10000 r12";
    EXPECT_EQ(trace(t.events()), get + get + get + " p10000 w8403100064CC p10000 w8403100064CC");
    t.clearEvents();  // a bare bus
    t.timingValue = I2CDevTransport::standardTiming();
    DDC::Reply corrupt = half;
    corrupt[7] = 0x63;
    t.scriptedReplies = {{0, busy}, {0, corrupt}, {-1, {}}, {0, half}};
    EXPECT_EQ(ddc.readLuminance(s), (Luminance{50, 100}));
    EXPECT_TRUE(ddc.writeLuminance(s, 100));
    get = " p10000 w820110AC p10000 w820110AC p40000 r12";
    const std::string retry = " p50000" + get;
    EXPECT_EQ(trace(t.events()), get + retry + retry + retry + " p10000 w8403100064CC p50000 w8403100064CC p50000");
    // A valid maximum of 0 and "unsupported" are final; silence is given up after four tries.
    t.clearEvents();
    t.scriptedReplies = {{0, zeroMax}, {0, unsupported}, {0, half}};
    EXPECT_FALSE(ddc.readLuminance(s) || ddc.readLuminance(s));
    t.scriptedReplies.clear();
    EXPECT_FALSE(ddc.readLuminance(s));
    EXPECT_EQ(trace(t.events()), get + get + get + retry + retry + retry);
    // One acknowledged write of the two is enough; without transport or service nothing happens.
    struct FirstOnly : RecordingDDCTransport {
        int writes = 0;
        int writeI2C(const DDCService&, std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint32_t) override { return writes++ ? -1 : 0; }
    } firstOnly;
    EXPECT_TRUE(DDC(&firstOnly).writeLuminance(firstOnly.addService("DP-1"), 80));
    DDC bare;
    EXPECT_FALSE(bare.available() || !bare.externalServices().empty() || bare.readLuminance(s) || bare.writeLuminance(s, 50));
    t.clearEvents();
    EXPECT_FALSE(ddc.readLuminance(nullptr) || ddc.writeLuminance(nullptr, 50) || !t.events().empty());
}
