#pragma once
// A Wayland compositor reduced to what a gamma client meets: wl_output globals (with names and
// modes) and wlr-gamma-control, on a real socket, run on its own thread. It reads set_gamma
// the way wlroots 0.15 does (from the fd's current offset; a short read is a protocol error).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct wl_display;
struct wl_event_source;

class StandInCompositor {
public:
    struct OutputConfig {
        std::string name;
        std::uint32_t gammaSize = 256;  // 0: the output has no gamma (get_gamma_control fails)
        std::int32_t width = 1920;
        std::int32_t height = 1080;
    };
    // What one output has seen; read through state().
    struct OutputState {
        bool present = true;
        bool held = false;         // a gamma control is live on it
        int controlRequests = 0;   // get_gamma_control calls
        std::vector<std::vector<std::uint16_t>> writes;  // each set_gamma: red, green, blue
    };
    // Optional: told each set_gamma as it is read (compositor thread), with its output name.
    std::function<void(const std::string&, const std::vector<std::uint16_t>&)> onWrite;
    std::function<void(const std::string&, bool held)> onHeld;

    // Listens on socketName in $XDG_RUNTIME_DIR.
    StandInCompositor(const std::string& socketName, std::vector<OutputConfig> outputs);
    ~StandInCompositor();

    void addOutput(const OutputConfig& output);
    void removeOutput(const std::string& name);
    // Another program takes the output: the holder is told `failed`, as wlroots does.
    void takeAway(const std::string& name);
    // Whether a client has broken the protocol (the compositor disconnected it).
    int protocolErrors() const { return protocolErrors_.load(); }

    std::map<std::string, OutputState> state() const;

    struct Output;

private:
    void run(std::function<void()> task);  // on the compositor thread, waited for
    void createOutput(const OutputConfig& config);

    wl_display* display_ = nullptr;
    std::thread thread_;
    int wakeFd_ = -1;
    wl_event_source* wake_ = nullptr;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::function<void()>> tasks_;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::map<std::string, OutputState> state_;
    std::atomic<int> protocolErrors_{0};

    friend struct StandInHandlers;
};
