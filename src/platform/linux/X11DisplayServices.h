#pragma once
// Display services over X11 RandR: one display per active CRTC, named by the XID of the
// connected output it drives; tables become the CRTC's 16-bit gamma ramps.

#include "platform/DisplayServices.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/GammaRamp.h"

#include <QString>

#include <map>
#include <optional>

class X11DisplayServices : public DisplayServices {
public:
    // backupPath keeps the original ramps while the filter is on, so that the next start
    // after a crash can put them back. Any backup found there is restored at once.
    X11DisplayServices(X11Connection& connection, QString backupPath);

    std::vector<DisplayID> activeDisplays() override;
    GammaResult setTransferTables(DisplayID display, const TransferTables& tables) override;
    std::string name(DisplayID display) override;
    void restoreColorProfiles() override;
    void registerReconfigurationCallback(ReconfigurationCallback callback) override;
    bool isBuiltin(DisplayID display) override;
    std::uint32_t pixelsWide(DisplayID display) override;
    std::uint32_t pixelsHigh(DisplayID display) override;

    static QString defaultBackupPath();

private:
    struct Head {
        unsigned long crtc = 0;
        DisplayID id = 0;
        QString outputName;
        bool builtin = false;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
    };

    const std::vector<Head>& heads();
    const Head* find(DisplayID display);
    void onEvent(XEvent& event);
    std::optional<GammaRamp> readRamp(unsigned long crtc);
    bool writeRamp(unsigned long crtc, const GammaRamp& ramp);
    void writeBackup() const;
    void restoreFromBackup();

    X11Connection& connection_;
    QString backupPath_;
    int eventBase_ = 0;
    int errorBase_ = 0;
    bool headsValid_ = false;
    std::vector<Head> heads_;
    std::map<unsigned long, GammaRamp> originals_;
    ReconfigurationCallback callback_;
};
