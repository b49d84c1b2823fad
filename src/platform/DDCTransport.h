#pragma once
// The I2C channel to external monitors' DDC/CI endpoints: discovery of one endpoint per
// connected external monitor, raw transfers, and the pauses the channel needs.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One external monitor's I2C endpoint. Shared so that a caller may keep it between calls
// even after the monitor is gone; transfers to a vanished endpoint just fail.
struct DDCEndpoint {
    std::string device;     // e.g. "/dev/i2c-5"
    std::string connector;  // e.g. "card0-DP-1"
};
using DDCService = std::shared_ptr<const DDCEndpoint>;

// Pauses around transfers, in microseconds, and how replies are treated. The defaults are
// the short pauses that suffice for a display engine that buffers the exchange; a plain
// I2C bus needs the DDC/CI standard's longer ones and a check of each reply.
struct DDCTiming {
    std::uint32_t beforeTransferUs = 10000;  // before every transfer
    std::uint32_t beforeReadUs = 10000;      // between a request and reading its reply
    std::uint32_t afterSetUs = 0;            // after each Set message, before the next transfer
    std::uint32_t retryDelayUs = 0;          // before repeating a failed exchange
    int readAttempts = 1;                    // whole request/reply exchanges tried
    bool checkReplies = false;               // reject replies with a bad checksum, opcode or code
};

class DDCTransport {
public:
    virtual ~DDCTransport() = default;

    // Whether the channel exists at all and can be used by this process.
    virtual bool available() = 0;
    // The connected external monitors, in a stable order.
    virtual std::vector<DDCService> externalServices() = 0;
    // Sends dataAddress followed by length bytes to the 7-bit address chip. 0 = the device
    // acknowledged them all; a monitor with DDC/CI switched off does not acknowledge.
    virtual int writeI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        const std::uint8_t* buffer, std::uint32_t length) = 0;
    // Reads length bytes from chip into buffer. 0 = success.
    virtual int readI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        std::uint8_t* buffer, std::uint32_t length) = 0;
    // Blocks the calling thread.
    virtual void pause(std::uint32_t microseconds) = 0;
    virtual DDCTiming timing() const { return {}; }
};
