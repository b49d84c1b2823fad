#include "engine/VeskEngine.h"

#include "system/EventLog.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

VeskEngine& VeskEngine::shared()
{
    static VeskEngine* instance = new VeskEngine;  // never destroyed, like every service
    return *instance;
}

VeskEngine::VeskEngine(QObject* parent)
    : QObject(parent)
{
    animTimer_.setSingleShot(true);
    animTimer_.setTimerType(Qt::PreciseTimer);
    connect(&animTimer_, &QTimer::timeout, this, &VeskEngine::animationTick);
}

void VeskEngine::setWarmth(double value)
{
    stopAnimation();
    if (std::isnan(value))
        return;
    warmth_ = std::max(std::min(value, 100.0), 0.0);
    apply();
}

void VeskEngine::setBrightness(double value)
{
    if (std::isnan(value))
        return;
    brightness_ = std::max(std::min(value, 100.0), floor_);
    apply();
}

void VeskEngine::setBrightnessFloor(double floor)
{
    // Handed in by the app as the extreme-dimming setting changes, so 1 % can be reached.
    if (!(floor > 0.0))  // also NaN: the tables need a brightness above 0
        return;
    floor_ = std::min(floor, 100.0);
    if (brightness_ < floor_) {
        brightness_ = floor_;
        apply();
    }
}

void VeskEngine::setEnabled(bool value)
{
    enabled_ = value;
    apply();
    if (onChange)
        onChange(enabled_);
}

void VeskEngine::toggle()
{
    setEnabled(!enabled_);
}

void VeskEngine::reapply()
{
    apply();
}

void VeskEngine::animateWarmth(double target, double duration)
{
    stopAnimation();
    if (!enabled_) {
        enabled_ = true;
        apply();
        if (onChange)
            onChange(true);
    }
    animFrom_ = warmth_;
    animTarget_ = target;
    animDuration_ = duration;
    animTicks_ = 0;
    animClock_.start();
    scheduleNextTick();
}

void VeskEngine::scheduleNextTick()
{
    // Deadlines on a fixed grid from the start, so the steps stay 1/60 s apart on average
    // even though a timer only takes whole milliseconds. Rounded up: a step that came early
    // would find the animation not quite done and add a 22nd, redundant one.
    ++animTicks_;
    const qint64 deadlineNs = static_cast<qint64>(std::llround(animTicks_ * animationStep * 1e9));
    const qint64 waitMs = std::max<qint64>(0, (deadlineNs - animClock_.nsecsElapsed() + 999999) / 1000000);
    animTimer_.start(static_cast<int>(waitMs));
}

void VeskEngine::animationTick()
{
    const double elapsed = animClock_.nsecsElapsed() / 1e9;
    double p = 1.0;
    if (animDuration_ > 0.0)
        p = std::min(elapsed / animDuration_, 1.0);
    const double e = p * p * (3.0 - 2.0 * p);
    warmth_ = (animTarget_ - animFrom_) * e + animFrom_;
    if (p < 1.0)
        scheduleNextTick();
    apply();
    if (onWarmthAnim)
        onWarmthAnim(warmth_);
}

void VeskEngine::stopAnimation()
{
    animTimer_.stop();
}

void VeskEngine::registerDisplayReconfigure()
{
    if (!displays_)
        return;
    QPointer<VeskEngine> self(this);
    displays_->registerGammaResultCallback([self](DisplayID display, GammaResult result) {
        if (self && self->enabled_)
            self->record(display, result);
    });
    displays_->registerLogCallback([](const std::string& line) { EventLog::shared().add(QString::fromStdString(line)); });
    displays_->registerReconfigurationCallback([self](DisplayID) {
        // No coalescing: every change gets its own re-apply after the display has settled.
        QTimer::singleShot(reconfigureDelayMs, self.data(), [self] {
            if (self)
                self->apply();
        });
    });
}

void VeskEngine::apply()
{
    if (!displays_)
        return;
    if (!enabled_) {
        displays_->restoreColorProfiles();
        forgetResults();
        return;
    }
    const TransferTables tables = ColorModel::buildTables(warmth_, brightness_);
    const std::vector<DisplayID> active = displays_->activeDisplays();
    // A display that went away takes its problem with it.
    bool gone = false;
    for (auto it = results_.begin(); it != results_.end();) {
        if (std::find(active.begin(), active.end(), it->first) == active.end()) {
            it = results_.erase(it);
            gone = true;
        } else {
            ++it;
        }
    }
    if (gone && onDisplayProblemsChange)
        onDisplayProblemsChange();
    for (DisplayID display : active)
        record(display, displays_->setTransferTables(display, tables));
}

void VeskEngine::record(DisplayID display, GammaResult result)
{
    auto [it, inserted] = results_.try_emplace(display, result);
    if (!inserted && it->second == result)
        return;
    it->second = result;
    if ((result != GammaResult::applied || !inserted) && onDisplayProblemsChange)
        onDisplayProblemsChange();
}

void VeskEngine::forgetResults()
{
    const bool hadProblems = std::any_of(results_.begin(), results_.end(),
        [](const auto& entry) { return entry.second != GammaResult::applied; });
    results_.clear();
    if (hadProblems && onDisplayProblemsChange)
        onDisplayProblemsChange();
}

std::vector<VeskEngine::DisplayProblem> VeskEngine::displayProblems() const
{
    std::vector<DisplayProblem> problems;
    if (!enabled_ || !displays_)
        return problems;
    for (const auto& [display, result] : results_) {
        if (result != GammaResult::applied)
            problems.push_back({display, displays_->name(display), result});
    }
    return problems;
}
