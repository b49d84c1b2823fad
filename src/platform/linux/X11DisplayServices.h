#pragma once
// Display services over X11 RandR: one display per active CRTC, named by the XID of the
// connected output it drives; tables become the CRTC's 16-bit gamma ramps. While a CRTC holds
// our tables a guard reads them back and puts them back when another client resets them.

#include "platform/DisplayServices.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/GammaRamp.h"
#include "platform/linux/X11GammaGuard.h"

#include <QString>

#include <map>
#include <optional>

class X11DisplayServices : public DisplayServices {
public:
    // backupFolder keeps the original ramps while the filter is on, one file per X display, so
    // that the next start on the same display after a crash can put them back. This display's
    // backup is restored at once; another display's is left alone.
    X11DisplayServices(X11Connection& connection, QString backupFolder);
    ~X11DisplayServices() override;

    std::vector<DisplayID> activeDisplays() override;
    GammaResult setTransferTables(DisplayID display, const TransferTables& tables) override;
    std::string name(DisplayID display) override;
    void registerGammaResultCallback(GammaResultCallback callback) override;
    void registerLogCallback(LogCallback callback) override;
    void restoreColorProfiles() override;
    void registerReconfigurationCallback(ReconfigurationCallback callback) override;
    bool isBuiltin(DisplayID display) override;
    std::uint32_t pixelsWide(DisplayID display) override;
    std::uint32_t pixelsHigh(DisplayID display) override;

    static QString defaultBackupFolder();
    // ":0", ":0.0" and "unix:0" are one display; a remote or forwarded one keeps its host.
    static QString normalizedDisplayName(const QString& displayName);
    // The backup file of one display inside the folder.
    static QString backupFileName(const QString& displayName);

    // Seams for tests: the guard's period, whether its timer runs, how often it checked.
    void setGuardInterval(int ms) { guard_.setInterval(ms); }
    bool guardActive() const { return guard_.active(); }
    int guardChecks() const { return guard_.ticks(); }

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
    void restoreFromBackup(const QString& path);
    void guardCheck();
    void updateGuard();
    void log(const QString& line);

    // What we last wrote to a CRTC, and whether another program keeps taking it from us.
    struct Written {
        TransferTables tables;
        GammaRamp ramp;
        bool contested = false;
    };

    X11Connection& connection_;
    QString backupFolder_;
    QString backupPath_;
    int eventBase_ = 0;
    int errorBase_ = 0;
    bool headsValid_ = false;
    std::vector<Head> heads_;
    std::map<unsigned long, GammaRamp> originals_;
    std::map<unsigned long, Written> written_;
    ReconfigurationCallback callback_;
    GammaResultCallback resultCallback_;
    LogCallback logCallback_;
    X11GammaGuard guard_{[this] { guardCheck(); }};
};
