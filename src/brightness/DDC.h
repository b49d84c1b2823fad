#pragma once
// The DDC/CI link to external monitors: discovery, and reading and writing the luminance
// control (VCP code 0x10). It keeps no state of its own besides the transport it talks to.

#include "platform/DDCTransport.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

struct Luminance {
    int current = 0;
    int max = 0;
    bool operator==(const Luminance&) const = default;
};

class DDC {
public:
    static constexpr std::uint32_t CHIP = 0x37;
    static constexpr std::uint32_t INPUT = 0x51;
    static constexpr std::uint8_t LUMINANCE = 0x10;
    static constexpr std::uint32_t WAIT = 10000;
    static constexpr int replyLength = 12;

    using Reply = std::array<std::uint8_t, replyLength>;

    static DDC& shared();

    DDC() = default;
    explicit DDC(DDCTransport* transport) { setTransport(transport); }

    // Without a transport the link is unavailable and does nothing.
    void setTransport(DDCTransport* transport) { transport_.store(transport); }
    DDCTransport* transport() const { return transport_.load(); }

    bool available() const;
    std::vector<DDCService> externalServices() const;
    // Absent when the monitor does not answer, answers nonsense or reports a maximum of 0.
    std::optional<Luminance> readLuminance(const DDCService& service) const;
    // True if the monitor acknowledged the message at least once (it is sent twice).
    bool writeLuminance(const DDCService& service, int value) const;

    // The messages, without the addresses that precede them on the wire.
    static std::array<std::uint8_t, 4> luminanceRequest();
    static std::array<std::uint8_t, 6> luminanceMessage(int value);
    // Bytes 6-7 are the maximum and 8-9 the current value; nothing else is looked at.
    static std::optional<Luminance> parseLuminanceReply(const Reply& reply);
    // Whether the reply is a well-formed, successful Get VCP Feature reply for luminance.
    static bool replyIsValid(const Reply& reply);
    // The monitor's "busy, ask again" answer.
    static bool isNullMessage(const Reply& reply);

private:
    std::atomic<DDCTransport*> transport_{nullptr};
};
