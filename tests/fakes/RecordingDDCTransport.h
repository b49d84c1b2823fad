#pragma once
// A DDC transport that records every transfer and pause, in order, and answers reads from a
// script. Monitors can optionally be simulated: a Set message changes the monitor's
// luminance, and a Get request with no scripted reply answers with a correct reply.

#include "brightness/DDC.h"
#include "platform/DDCTransport.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class RecordingDDCTransport : public DDCTransport {
public:
    struct Event {
        enum Kind { write, read, pause } kind;
        std::string connector;
        std::uint32_t chip = 0;
        std::uint32_t dataAddress = 0;
        std::vector<std::uint8_t> bytes;  // written, or the length of a read in `length`
        std::uint32_t length = 0;
        std::uint32_t microseconds = 0;
    };
    struct Monitor {
        int current = 50;
        int max = 100;
        bool answers = true;  // replies to Get requests
        bool acks = true;     // acknowledges writes; with DDC/CI off in its menu it does neither
    };

    bool isAvailable = true;
    DDCTiming timingValue;
    std::vector<DDCService> services;
    std::map<std::string, Monitor> monitors;  // by connector
    std::deque<std::pair<int, DDC::Reply>> scriptedReplies;

    DDCService addService(const std::string& connector)
    {
        auto s = std::make_shared<const DDCEndpoint>(DDCEndpoint{"/dev/" + connector, connector});
        services.push_back(s);
        return s;
    }

    std::vector<Event> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clearEvents()
    {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    static DDC::Reply replyFor(int current, int max, std::uint8_t result = 0)
    {
        DDC::Reply r{0x6E, 0x88, 0x02, result, 0x10, 0x00, static_cast<std::uint8_t>(max >> 8),
            static_cast<std::uint8_t>(max & 0xFF), static_cast<std::uint8_t>(current >> 8),
            static_cast<std::uint8_t>(current & 0xFF), 0, 0};
        std::uint8_t sum = 0x50;
        for (int i = 0; i < 10; ++i)
            sum ^= r[static_cast<size_t>(i)];
        r[10] = sum;
        return r;
    }

    bool available() override { return isAvailable; }
    std::vector<DDCService> externalServices() override { return services; }

    int writeI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        const std::uint8_t* buffer, std::uint32_t length) override
    {
        std::lock_guard lock(mutex_);
        Event e{Event::write, service->connector, chip, dataAddress, {buffer, buffer + length}, length, 0};
        events_.push_back(e);
        auto it = monitors.find(service->connector);
        if (it != monitors.end() && !it->second.acks)
            return -1;
        if (it != monitors.end() && it->second.answers && length == 6 && buffer[1] == 0x03)
            it->second.current = buffer[3] * 256 + buffer[4];
        return 0;
    }

    int readI2C(const DDCService& service, std::uint32_t chip, std::uint32_t dataAddress,
        std::uint8_t* buffer, std::uint32_t length) override
    {
        std::lock_guard lock(mutex_);
        events_.push_back(Event{Event::read, service->connector, chip, dataAddress, {}, length, 0});
        if (!scriptedReplies.empty()) {
            auto [status, reply] = scriptedReplies.front();
            scriptedReplies.pop_front();
            std::copy_n(reply.begin(), std::min<std::uint32_t>(length, DDC::replyLength), buffer);
            return status;
        }
        auto it = monitors.find(service->connector);
        if (it == monitors.end() || !it->second.answers)
            return -1;
        const DDC::Reply r = replyFor(it->second.current, it->second.max);
        std::copy_n(r.begin(), std::min<std::uint32_t>(length, DDC::replyLength), buffer);
        return 0;
    }

    void pause(std::uint32_t microseconds) override
    {
        std::lock_guard lock(mutex_);
        events_.push_back(Event{Event::pause, {}, 0, 0, {}, 0, microseconds});
    }

    DDCTiming timing() const override { return timingValue; }

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};
