#pragma once
// The filter's display operations through Quartz Display Services.
//
// No backup of the tables is kept for repair after a crash, as the X11 backend does: the
// window server puts every display's ColorSync profile back when our process ends, however
// it ends.

#include "platform/DisplayServices.h"

#include <QObject>

class QuartzDisplayServices : public QObject, public DisplayServices {
public:
    QuartzDisplayServices() = default;
    ~QuartzDisplayServices() override;

    std::vector<DisplayID> activeDisplays() override;
    // Any refusal counts as unsupported: Quartz does not tell another program's hold apart.
    GammaResult setTransferTables(DisplayID display, const TransferTables& tables) override;
    void restoreColorProfiles() override;
    void registerReconfigurationCallback(ReconfigurationCallback callback) override;
    bool isBuiltin(DisplayID display) override;
    std::uint32_t pixelsWide(DisplayID display) override;
    std::uint32_t pixelsHigh(DisplayID display) override;

private:
    static void reconfigured(std::uint32_t display, std::uint32_t flags, void* userInfo);

    ReconfigurationCallback callback_;
    bool registered_ = false;
};
