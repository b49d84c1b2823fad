#pragma once
// A DDC transport that records the traffic and answers reads from a script, or else as the
// simulated monitor on that connector, whose luminance a Set message changes. Not locked:
// PWMSafe never overlaps its calls, and the tests read it once PWMSafe is idle.

#include "brightness/DDC.h"
#include "platform/DDCTransport.h"
#include <QByteArray>
#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <numeric>
#include <string>
#include <vector>

class RecordingDDCTransport : public DDCTransport {
public:
    // answers: replies to Get requests; acks: acknowledges writes (neither with DDC/CI off in its menu)
    struct Monitor { int current = 50, max = 100; bool answers = true, acks = true; };
    using Sets = std::vector<std::pair<std::string, int>>;

    bool isAvailable = true;
    DDCTiming timingValue;
    std::vector<DDCService> services;
    std::map<std::string, Monitor> monitors;  // by connector
    std::deque<std::pair<int, DDC::Reply>> scriptedReplies;
    std::string trace;  // in short: " p10000" a pause, " w820110AC" a write, " r12" a read
    Sets sets;          // the Set messages, as connector and value

    DDCService addService(const std::string& connector)
    {
        return services.emplace_back(std::make_shared<const DDCEndpoint>(DDCEndpoint {"/dev/" + connector, connector}));
    }

    bool available() override { return isAvailable; }
    std::vector<DDCService> externalServices() override { return services; }
    DDCTiming timing() const override { return timingValue; }
    void pause(std::uint32_t microseconds) override { trace += " p" + std::to_string(microseconds); }

    int writeI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        const std::uint8_t* buffer, std::uint32_t length) override
    {
        record(chip, dataAddress, " w" + QByteArray(reinterpret_cast<const char*>(buffer), length).toHex().toUpper().toStdString());
        if (length == 6)
            sets.emplace_back(service->connector, buffer[3] * 256 + buffer[4]);
        const auto it = monitors.find(service->connector);
        if (it != monitors.end() && !it->second.acks)
            return -1;
        if (it != monitors.end() && length == 6)
            it->second.current = buffer[3] * 256 + buffer[4];
        return 0;
    }

    int readI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        std::uint8_t* buffer, std::uint32_t length) override
    {
        record(chip, dataAddress, " r" + std::to_string(length));
        int status = -1;
        DDC::Reply reply {};
        if (!scriptedReplies.empty()) {
            std::tie(status, reply) = scriptedReplies.front();
            scriptedReplies.pop_front();
        } else if (const auto it = monitors.find(service->connector); it != monitors.end() && it->second.answers) {
            const int max = it->second.max, current = it->second.current;
            status = 0;
            reply = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, std::uint8_t(max >> 8), std::uint8_t(max),
                std::uint8_t(current >> 8), std::uint8_t(current)};
            reply[10] = std::accumulate(reply.begin(), reply.begin() + 10, std::uint8_t(0x50), std::bit_xor<std::uint8_t>());
        }
        std::copy_n(reply.begin(), std::min<std::uint32_t>(length, DDC::replyLength), buffer);
        return status;
    }

private:
    void record(std::uint32_t chip, std::uint32_t dataAddress, const std::string& what)
    {
        trace += (chip == DDC::CHIP && dataAddress == DDC::INPUT ? "" : " wrong address") + what;
    }
};
