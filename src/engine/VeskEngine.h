#pragma once
// The single owner of the filter state. Every change ends in apply(), which writes the
// tables to every active display or hands the displays back to their own ramps.

#include "engine/ColorModel.h"
#include "platform/DisplayServices.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <string>
#include <vector>

class VeskEngine : public QObject {
    Q_OBJECT

public:
    static VeskEngine& shared();

    explicit VeskEngine(QObject* parent = nullptr);

    // The engine writes through these; without them apply() has nowhere to write.
    void setDisplayServices(DisplayServices* displays) { displays_ = displays; }
    DisplayServices* displayServices() const { return displays_; }

    double warmth() const { return warmth_; }
    double brightness() const { return brightness_; }
    // The lowest brightness admitted; a higher floor lifts the brightness to it at once.
    double brightnessFloor() const { return floor_; }
    void setBrightnessFloor(double floor);
    bool enabled() const { return enabled_; }
    bool isAnimating() const { return animTimer_.isActive(); }

    // Whether PWM-safe dimming was asked for; written by the panel, never read by the engine.
    bool pwmSafe = false;
    // Told the new `enabled` after setEnabled, toggle and the implicit enable of animateWarmth.
    std::function<void(bool)> onChange;
    // Told the warmth after each animation step.
    std::function<void(double)> onWarmthAnim;
    // Told when the list of displays whose colours could not be set changes.
    std::function<void()> onDisplayProblemsChange;

    // With the filter on: the displays the last writes did not reach, and why.
    struct DisplayProblem {
        DisplayID display;
        std::string name;
        GammaResult result;
    };
    std::vector<DisplayProblem> displayProblems() const;

    void setWarmth(double value);
    void setBrightness(double value);
    void setEnabled(bool value);
    void toggle();
    void reapply();
    void animateWarmth(double target, double duration = 0.35);
    void registerDisplayReconfigure();
    void apply();

    static double warmthForKelvin(double kelvin) { return ColorModel::warmthForKelvin(kelvin); }
    static ChannelGains rgbForWarmth(double warmth) { return ColorModel::rgbForWarmth(warmth); }

    static constexpr int reconfigureDelayMs = 300;
    static constexpr double animationStep = 1.0 / 60.0;

private:
    void stopAnimation();
    void animationTick();
    void scheduleNextTick();
    void record(DisplayID display, GammaResult result);
    void forgetResults();

    DisplayServices* displays_ = nullptr;
    double warmth_ = 62.0;
    double brightness_ = 100.0;
    double floor_ = 10.0;
    bool enabled_ = false;
    std::map<DisplayID, GammaResult> results_;

    // One running animation at most; its ticks are kept on a 60 Hz grid from its start.
    QTimer animTimer_;
    QElapsedTimer animClock_;
    double animFrom_ = 0.0;
    double animTarget_ = 0.0;
    double animDuration_ = 0.0;
    qint64 animTicks_ = 0;
};
