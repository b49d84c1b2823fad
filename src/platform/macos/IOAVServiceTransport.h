#pragma once
// DDC/CI over the display engine's IOAVService of each external monitor (Apple silicon).
// The three IOAVService functions are private; they are looked up at run time among the
// images already loaded, and any one missing makes the channel unavailable.

#include "platform/DDCTransport.h"

class IOAVServiceTransport : public DDCTransport {
public:
    IOAVServiceTransport();

    bool available() override;
    // One service per "DCPAVServiceProxy" registry entry whose "Location" is "External".
    std::vector<DDCService> externalServices() override;
    int writeI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        const std::uint8_t* buffer, std::uint32_t length) override;
    int readI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        std::uint8_t* buffer, std::uint32_t length) override;
    void pause(std::uint32_t microseconds) override;
    // The display engine buffers each exchange, so the default 10 ms pauses suffice.

private:
    // The looked-up functions, absent when not found.
    void* createWithService_ = nullptr;
    void* writeI2C_ = nullptr;
    void* readI2C_ = nullptr;
};
