#include "brightness/DDC.h"

#include <algorithm>

namespace {

// Destination and source addresses that the checksum of host messages covers.
constexpr std::uint8_t kDisplayAddress = 0x6E;
// Replies are checksummed against this virtual host address instead of 0x51.
constexpr std::uint8_t kReplyChecksumSeed = 0x50;

}  // namespace

DDC& DDC::shared()
{
    static DDC* instance = new DDC;
    return *instance;
}

bool DDC::available() const
{
    DDCTransport* t = transport();
    return t && t->available();
}

std::vector<DDCService> DDC::externalServices() const
{
    DDCTransport* t = transport();
    if (!t)
        return {};
    return t->externalServices();
}

std::array<std::uint8_t, 4> DDC::luminanceRequest()
{
    std::array<std::uint8_t, 4> m{0x82, 0x01, LUMINANCE, 0};
    m[3] = static_cast<std::uint8_t>(kDisplayAddress ^ INPUT ^ m[0] ^ m[1] ^ m[2]);
    return m;
}

std::array<std::uint8_t, 6> DDC::luminanceMessage(int value)
{
    const int v = std::clamp(value, 0, 65535);
    const auto hi = static_cast<std::uint8_t>(v / 256);
    const auto lo = static_cast<std::uint8_t>(v % 256);
    return {0x84, 0x03, LUMINANCE, hi, lo, static_cast<std::uint8_t>(0xA8 ^ hi ^ lo)};
}

std::optional<Luminance> DDC::parseLuminanceReply(const Reply& reply)
{
    const int max = reply[6] * 256 + reply[7];
    const int current = reply[8] * 256 + reply[9];
    if (max == 0)
        return std::nullopt;
    return Luminance{current, max};
}

namespace {

// A Get VCP Feature reply for luminance with a correct checksum, whatever its result code.
bool isLuminanceReply(const DDC::Reply& reply)
{
    std::uint8_t sum = kReplyChecksumSeed;
    for (int i = 0; i < 10; ++i)
        sum ^= reply[static_cast<size_t>(i)];
    return reply[0] == kDisplayAddress && reply[1] == 0x88 && reply[2] == 0x02 && reply[4] == DDC::LUMINANCE
        && reply[10] == sum;
}

}  // namespace

bool DDC::replyIsValid(const Reply& reply)
{
    return isLuminanceReply(reply) && reply[3] == 0x00;
}

bool DDC::isNullMessage(const Reply& reply)
{
    return reply[0] == kDisplayAddress && reply[1] == 0x80 && reply[2] == 0xBE;
}

std::optional<Luminance> DDC::readLuminance(const DDCService& service) const
{
    DDCTransport* t = transport();
    if (!t || !service)
        return std::nullopt;
    const DDCTiming timing = t->timing();
    const auto request = luminanceRequest();
    const int attempts = std::max(1, timing.readAttempts);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0 && timing.retryDelayUs > 0)
            t->pause(timing.retryDelayUs);
        t->pause(timing.beforeTransferUs);
        t->writeI2C(service, CHIP, INPUT, request.data(), request.size());
        t->pause(timing.beforeTransferUs);
        t->writeI2C(service, CHIP, INPUT, request.data(), request.size());
        t->pause(std::max(timing.beforeTransferUs, timing.beforeReadUs));
        Reply reply{};
        if (t->readI2C(service, CHIP, INPUT, reply.data(), replyLength) != 0)
            continue;
        if (!timing.checkReplies)
            return parseLuminanceReply(reply);
        if (replyIsValid(reply))
            return parseLuminanceReply(reply);  // a valid maximum of 0 is an answer, not noise
        // A monitor that says it has no luminance control will not change its mind.
        if (isLuminanceReply(reply) && reply[3] == 0x01)
            return std::nullopt;
        // Busy (null message), garbage or a bad checksum: ask again.
    }
    return std::nullopt;
}

bool DDC::writeLuminance(const DDCService& service, int value) const
{
    DDCTransport* t = transport();
    if (!t || !service)
        return false;
    const DDCTiming timing = t->timing();
    const auto message = luminanceMessage(value);
    t->pause(timing.beforeTransferUs);
    const int first = t->writeI2C(service, CHIP, INPUT, message.data(), message.size());
    t->pause(std::max(timing.beforeTransferUs, timing.afterSetUs));
    const int second = t->writeI2C(service, CHIP, INPUT, message.data(), message.size());
    if (timing.afterSetUs > 0)
        t->pause(timing.afterSetUs);
    return first == 0 || second == 0;
}
