#pragma once
// Display services over a wlroots compositor's wlr-gamma-control. Our own Wayland connection,
// never the toolkit's, read on the main thread whenever its socket has data. One gamma
// control per output while the filter is on; destroying the controls gives the outputs back.

#include "platform/DisplayServices.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
struct wl_display;
struct wl_registry;
struct zwlr_gamma_control_manager_v1;

class WlrGammaDisplays : public DisplayServices {
public:
    // Absent when the session has no Wayland display, or one without gamma control; then
    // whyNot is empty, or says what the compositor lacks.
    static std::unique_ptr<WlrGammaDisplays> connect(std::string& whyNot);
    ~WlrGammaDisplays() override;

    std::vector<DisplayID> activeDisplays() override;
    GammaResult setTransferTables(DisplayID display, const TransferTables& tables) override;
    void restoreColorProfiles() override;
    void registerReconfigurationCallback(ReconfigurationCallback callback) override;
    void registerGammaResultCallback(GammaResultCallback callback) override;
    bool isBuiltin(DisplayID display) override;
    std::uint32_t pixelsWide(DisplayID display) override;
    std::uint32_t pixelsHigh(DisplayID display) override;
    std::string name(DisplayID display) override;

    struct Output;  // the listeners reach it

private:
    explicit WlrGammaDisplays(wl_display* display);
    Output* find(DisplayID display);
    void readEvents();
    void dispatchLost();
    void write(Output& output, const TransferTables& tables);
    void writeDone(Output& output);
    void controlFailed(Output& output);
    void addOutput(std::uint32_t global, std::uint32_t version);
    void removeOutput(std::uint32_t global);
    static void releaseControl(Output& output);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    zwlr_gamma_control_manager_v1* manager_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<std::unique_ptr<Output>> outputs_;
    ReconfigurationCallback onReconfigure_;
    GammaResultCallback onResult_;
    // The output whose control is being asked for: its answer is returned, not told.
    std::optional<DisplayID> asking_;
    bool lost_ = false;

    friend struct WlrListeners;
};
