#include "brightness/PWMSafe.h"

#include "system/EventLog.h"

#include <QCoreApplication>

#include <thread>

PWMSafe& PWMSafe::shared()
{
    // Never destroyed, like every service.
    static PWMSafe* instance = new PWMSafe;
    return *instance;
}

PWMSafe::PWMSafe()
    : ddc_(&DDC::shared())
    , sleep_([](std::chrono::microseconds d) { std::this_thread::sleep_for(d); })
    , context_(std::make_unique<QObject>())
{
    if (QCoreApplication* app = QCoreApplication::instance())
        context_->moveToThread(app->thread());
    worker_.setMaxThreadCount(1);
}

PWMSafe::~PWMSafe()
{
    ++generation_;
    worker_.waitForDone();
}

void PWMSafe::setDisplayServices(DisplayServices* displays)
{
    std::lock_guard lock(running_);
    displays_ = displays;
}

void PWMSafe::setBacklight(const Backlight& backlight)
{
    std::lock_guard lock(running_);
    setBrightness_ = backlight.setBrightness;
    getBrightness_ = backlight.getBrightness;
    enableALC_ = backlight.enableALC;
    alcEnabled_ = backlight.alcEnabled;
}

void PWMSafe::setDDC(DDC* ddc)
{
    std::lock_guard lock(running_);
    ddc_ = ddc;
}

void PWMSafe::setSleep(std::function<void(std::chrono::microseconds)> sleep)
{
    std::lock_guard lock(running_);
    sleep_ = std::move(sleep);
}

void PWMSafe::request(std::function<void()> job)
{
    const unsigned generation = generation_.load();
    worker_.start([this, generation, job = std::move(job)] {
        std::lock_guard lock(running_);
        if (generation_.load() == generation)
            job();
    });
}

void PWMSafe::enableInBackground()
{
    request([this, builtins = builtinDisplays()] { doEnable(builtins); });
}

void PWMSafe::disableInBackground()
{
    request([this] { doDisable(); });
}

void PWMSafe::waitUntilIdle()
{
    worker_.waitForDone();
}

void PWMSafe::enable()
{
    const std::vector<DisplayID> builtins = builtinDisplays();
    std::lock_guard lock(running_);
    doEnable(builtins);
}

void PWMSafe::disable()
{
    ++generation_;
    std::lock_guard lock(running_);
    doDisable();
}

std::vector<DisplayID> PWMSafe::builtinDisplays()
{
    std::vector<DisplayID> ids;
    if (!displays_)
        return ids;
    for (DisplayID id : displays_->activeDisplays()) {
        if (displays_->isBuiltin(id))
            ids.push_back(id);
    }
    return ids;
}

bool PWMSafe::available()
{
    bool builtin = false;
    bool external = false;
    if (displays_) {
        for (DisplayID id : displays_->activeDisplays()) {
            if (displays_->isBuiltin(id))
                builtin = true;
            else
                external = true;
        }
    }
    if (setBrightness_ && builtin)
        return true;
    return external && ddc_ && ddc_->available();
}

std::optional<float> PWMSafe::builtinHardwareBrightness()
{
    if (!getBrightness_)
        return std::nullopt;
    const std::vector<DisplayID> builtins = builtinDisplays();
    if (builtins.empty())
        return std::nullopt;
    float level = -1.0f;
    if (getBrightness_(builtins.front(), &level) == 0 && level >= 0.0f)
        return level;
    return std::nullopt;
}

void PWMSafe::setState(PWMState s)
{
    state_.store(s);
    if (!QCoreApplication::instance()) {
        if (onStateChange)
            onStateChange(s);
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(),
        [this, s] {
            if (onStateChange)
                onStateChange(s);
        },
        Qt::QueuedConnection);
}

void PWMSafe::doEnable(const std::vector<DisplayID>& builtins)
{
    setState(PWMState::waiting);

    // Pinned means the hardware took the write (or a poll saw the level): a write nobody
    // accepted leaves the display flickering, and that is not PWM-safe.
    bool handled = false;
    if (setBrightness_ && !builtins.empty()) {
        bool accepted = false;
        for (DisplayID d : builtins) {
            if (alcEnabled_) {
                bool flag = false;
                if (alcEnabled_(d, &flag) == 0 && !savedALC_.contains(d))
                    savedALC_[d] = flag;
            }
            if (enableALC_)
                enableALC_(d, false);
            float level = 1.0f;
            if (getBrightness_)
                getBrightness_(d, &level);
            // An earlier enable's entry is kept: it holds the level from before any pinning.
            if (!savedBuiltin_.contains(d))
                savedBuiltin_[d] = level;
            if (setBrightness_(d, 1.0f) == 0)
                accepted = true;
        }

        bool held = false;
        for (int attempt = 0; attempt < verifyAttempts && !held; ++attempt) {
            sleep_(verifyInterval);
            if (!getBrightness_)
                continue;
            float value = -1.0f;
            held = getBrightness_(builtins.front(), &value) == 0 && value >= 0.0f && value > 0.95f;
        }
        if (!held)
            EventLog::shared().add(QStringLiteral("pwm: built-in did not hold 100%, keeping setting"));
        handled = accepted || held;
    }

    if (savedExternal_.empty() && ddc_) {
        for (const DDCService& s : ddc_->externalServices()) {
            // An unreadable monitor is pinned at 100, and 100 is what it gets back.
            const std::optional<Luminance> l = ddc_->readLuminance(s);
            if (ddc_->writeLuminance(s, l ? l->max : 100))
                savedExternal_.emplace_back(s, l ? l->current : 100);
            else  // DDC/CI off in the monitor's menu, or no monitor there: left as it is
                EventLog::shared().add(QStringLiteral("pwm: ") + QString::fromStdString(s ? s->connector : std::string())
                    + QStringLiteral(" did not accept DDC/CI"));
        }
    }
    if (!savedExternal_.empty())
        handled = true;

    setState(handled ? PWMState::active : PWMState::unsupported);
    EventLog::shared().add(QStringLiteral("pwm enable \u2192 ") + (handled ? QStringLiteral("active") : QStringLiteral("unsupported")));
}

void PWMSafe::doDisable()
{
    if (setBrightness_) {
        for (const auto& [d, level] : savedBuiltin_)
            setBrightness_(d, level);
    }
    for (const auto& [d, flag] : savedALC_) {
        if (enableALC_)
            enableALC_(d, flag);
    }
    savedBuiltin_.clear();
    savedALC_.clear();
    if (ddc_) {
        for (const auto& [s, value] : savedExternal_)
            ddc_->writeLuminance(s, value);
    }
    savedExternal_.clear();
    setState(PWMState::off);
    EventLog::shared().add(QStringLiteral("pwm disable"));
}
