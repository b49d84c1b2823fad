#pragma once
// A Wayland compositor reduced to what a gamma client meets: wl_output globals (names, a 1920×1080 mode)
// and wlr-gamma-control on a real socket, run on its own thread. Like wlroots 0.15 it reads
// set_gamma from the fd's current offset.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
struct wl_display;
struct wl_global;
struct wl_resource;

class StandInCompositor {
public:
    struct OutputConfig {
        std::string name;
        std::uint32_t gammaSize = 256;  // 0: no gamma, get_gamma_control fails
    };
    struct OutputState {
        bool held = false;  // a gamma control is live on it
        int controlRequests = 0;
        std::vector<std::vector<std::uint16_t>> writes;  // each set_gamma: red, green, blue
    };
    struct Output {
        StandInCompositor* owner;
        OutputConfig config;
        OutputState seen;
        wl_global* global = nullptr;  // null once unplugged; kept, as clients may still name it
        wl_resource* holder = nullptr;  // the live gamma control
    };

    // Listens on socketName in $XDG_RUNTIME_DIR.
    StandInCompositor(const std::string& socketName, const std::vector<OutputConfig>& outputs);
    ~StandInCompositor();
    void addOutput(const OutputConfig& output);
    void removeOutput(const std::string& name);
    void takeAway(const std::string& name);  // by another program: the holder is told `failed`
    OutputState state(const std::string& name) const;
    // Told each set_gamma and change of holder, on the compositor's thread.
    std::function<void(const std::string&, const std::vector<std::uint16_t>&)> onWrite;
    std::function<void(const std::string&, bool held)> onHeld;

private:
    wl_display* display_;
    std::map<std::string, Output> outputs_;
    mutable std::mutex mutex_;  // held by the compositor's thread while it dispatches
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
