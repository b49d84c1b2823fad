#pragma once
// The one settings window: language flags, extreme dimming, the global shortcut and its
// recorder, the automatic schedule, credits and the button that copies the support report. Every control writes
// through the shared services at once; the content is rebuilt from their state on every
// show and on every language change.

#include "system/Localization.h"
#include "ui/FlippedView.h"
#include "ui/Theme.h"

#include <QCheckBox>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QKeyEvent;

class SettingsWindowController : public QObject {
    Q_OBJECT

public:
    static constexpr int W = 440;
    static constexpr int H = 660;
    static constexpr int pad = 24;
    static constexpr int cw = W - 2 * pad;
    static constexpr int copiedResetMs = 1500;

    struct Flag {
        QPointer<VeskFlatButton> btn;
        Lang lang;
    };

    static SettingsWindowController& shared();

    // The shared instance is never destroyed; tests make their own.
    explicit SettingsWindowController(QObject* parent = nullptr);
    ~SettingsWindowController() override;

    // Creates the window the first time, rebuilds it, centres it and brings it forward.
    void show();
    // Re-creates every control from the current state; nothing before the first show.
    void rebuild();

    // Control actions.
    void flagTapped(const VeskFlatButton* sender);
    void dimToggled(const QCheckBox* sender);
    void autoToggled(const QCheckBox* sender);
    void solarToggled(const QCheckBox* sender);
    void detectLocationTapped();
    void hourChanged(const QComboBox* sender);
    void toggleRecord();
    void openAbout();
    void copyFeedback();

    // How a link reaches the user's browser; tests replace it.
    std::function<void(const QUrl&)> openURL;

    // State, for the application and its tests.
    QWidget* window() const { return window_; }
    FlippedView* contentView() const { return content_; }
    bool recording() const { return recording_; }
    std::optional<QString> aboutURL() const { return aboutURL_; }
    const std::vector<Flag>& flags() const { return flags_; }
    QCheckBox* dimCheck() const { return dimCheck_; }
    QCheckBox* autoCheck() const { return autoCheck_; }
    QCheckBox* useSolarCheck() const { return useSolarCheck_; }
    QLabel* locLabel() const { return locLabel_; }
    QLabel* hkLabel() const { return hkLabel_; }
    // Says when the system refused the shortcut, empty otherwise.
    QLabel* hkTakenLabel() const { return hkTakenLabel_; }
    VeskFlatButton* recordButton() const { return recordButton_; }
    VeskFlatButton* feedbackButton() const { return feedbackButton_; }
    // How many times rebuild() has laid out the controls.
    int buildCount() const { return buildCount_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCheckBox* makeCheck(const QString& title, bool on, void (SettingsWindowController::*action)(const QCheckBox*));
    QLabel* makeLabel(const QString& text, qreal size, int weight, const QColor& color, int x, int y, int w, int h);
    void startLocationLookup();
    QString locationStatus() const;
    void showHotKey();
    void handleRecordedKey(const QKeyEvent& key);
    void stopRecording();

    QPointer<QWidget> window_;
    QPointer<FlippedView> content_;
    QPointer<QCheckBox> dimCheck_;
    QPointer<QCheckBox> autoCheck_;
    QPointer<QCheckBox> useSolarCheck_;
    QPointer<QLabel> locLabel_;
    QPointer<VeskFlatButton> feedbackButton_;
    QPointer<QLabel> hkLabel_;
    QPointer<QLabel> hkTakenLabel_;
    QPointer<VeskFlatButton> recordButton_;
    bool keyMonitor_ = false;
    bool recording_ = false;
    std::optional<QString> aboutURL_;
    std::vector<Flag> flags_;
    int buildCount_ = 0;
};
