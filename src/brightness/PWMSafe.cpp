#include "brightness/PWMSafe.h"

#include "system/EventLog.h"

#include <QCoreApplication>
#include <QThread>

PWMSafe& PWMSafe::shared()
{
    // Never destroyed: its worker may still be parked when the process ends.
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
}

PWMSafe::~PWMSafe()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    cv_.notify_all();
    acquire();  // lets a running request finish, answering its display queries
    release();
    if (worker_.joinable())
        worker_.join();
}

void PWMSafe::setDisplayServices(DisplayServices* displays)
{
    acquire();
    displays_ = displays;
    release();
}

void PWMSafe::setBacklight(const Backlight& backlight)
{
    acquire();
    setBrightness_ = backlight.setBrightness;
    getBrightness_ = backlight.getBrightness;
    enableALC_ = backlight.enableALC;
    alcEnabled_ = backlight.alcEnabled;
    release();
}

void PWMSafe::setDDC(DDC* ddc)
{
    acquire();
    ddc_ = ddc;
    release();
}

void PWMSafe::setSleep(std::function<void(std::chrono::microseconds)> sleep)
{
    acquire();
    sleep_ = std::move(sleep);
    release();
}

bool PWMSafe::onMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void PWMSafe::callOnMain(const std::function<void()>& fn)
{
    if (onMainThread()) {
        fn();
        return;
    }
    auto task = std::make_shared<MainTask>();
    task->fn = fn;
    {
        std::lock_guard lock(mutex_);
        mainTasks_.push_back(task);
    }
    // Whichever comes first runs it: the event loop, or a main thread waiting for this worker.
    cv_.notify_all();
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            std::unique_lock lock(mutex_);
            runMainTasks(lock);
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return task->done; });
}

void PWMSafe::runMainTasks(std::unique_lock<std::mutex>& lock)
{
    while (!mainTasks_.empty()) {
        std::shared_ptr<MainTask> task = mainTasks_.front();
        mainTasks_.pop_front();
        lock.unlock();
        task->fn();
        lock.lock();
        task->done = true;
        cv_.notify_all();
    }
}

void PWMSafe::acquire()
{
    const bool main = onMainThread();
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!busy_) {
            busy_ = true;
            return;
        }
        if (main && !mainTasks_.empty())
            runMainTasks(lock);
        else
            cv_.wait(lock);
    }
}

void PWMSafe::release()
{
    {
        std::lock_guard lock(mutex_);
        busy_ = false;
    }
    cv_.notify_all();
}

void PWMSafe::request(Job job)
{
    std::lock_guard lock(mutex_);
    if (stopping_)
        return;
    queue_.push_back(job);
    if (!worker_.joinable())
        worker_ = std::thread([this] { workerLoop(); });
    cv_.notify_all();
}

void PWMSafe::workerLoop()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [this] { return stopping_ || (!queue_.empty() && !busy_); });
            if (stopping_)
                return;
            job = queue_.front();
            queue_.pop_front();
            busy_ = true;
        }
        if (job == Job::enable)
            doEnable();
        else
            doDisable();
        release();
    }
}

void PWMSafe::enableInBackground() { request(Job::enable); }
void PWMSafe::disableInBackground() { request(Job::disable); }

void PWMSafe::waitUntilIdle()
{
    const bool main = onMainThread();
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!busy_ && queue_.empty())
            return;
        if (main && !mainTasks_.empty())
            runMainTasks(lock);
        else
            cv_.wait(lock);
    }
}

void PWMSafe::enable()
{
    acquire();
    doEnable();
    release();
}

void PWMSafe::disable()
{
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
    }
    acquire();
    doDisable();
    release();
}

std::vector<DisplayID> PWMSafe::builtinDisplays()
{
    std::vector<DisplayID> ids;
    callOnMain([&] {
        if (!displays_)
            return;
        for (DisplayID id : displays_->activeDisplays()) {
            if (displays_->isBuiltin(id))
                ids.push_back(id);
        }
    });
    return ids;
}

bool PWMSafe::available()
{
    bool builtin = false;
    bool external = false;
    callOnMain([&] {
        if (!displays_)
            return;
        for (DisplayID id : displays_->activeDisplays()) {
            if (displays_->isBuiltin(id))
                builtin = true;
            else
                external = true;
        }
    });
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

void PWMSafe::doEnable()
{
    setState(PWMState::waiting);

    bool handled = false;
    const std::vector<DisplayID> builtins = setBrightness_ ? builtinDisplays() : std::vector<DisplayID>{};
    if (setBrightness_ && !builtins.empty()) {
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
            setBrightness_(d, 1.0f);
        }

        bool held = false;
        for (int attempt = 0; attempt < verifyAttempts && !held; ++attempt) {
            sleep_(verifyInterval);
            if (!getBrightness_)
                continue;
            const std::vector<DisplayID> now = builtinDisplays();
            if (now.empty())
                continue;
            float value = -1.0f;
            held = getBrightness_(now.front(), &value) == 0 && value >= 0.0f && value > 0.95f;
        }
        if (!held)
            EventLog::shared().add(QStringLiteral("pwm: built-in did not hold 100%, keeping setting"));
        handled = true;
    }

    PWMState next = handled ? PWMState::active : PWMState::unsupported;
    if (savedExternal_.empty() && ddc_) {
        const std::vector<DDCService> services = ddc_->externalServices();
        for (const DDCService& s : services) {
            if (const std::optional<Luminance> l = ddc_->readLuminance(s)) {
                savedExternal_.emplace_back(s, l->current);
                ddc_->writeLuminance(s, l->max);
            } else {
                savedExternal_.emplace_back(s, 100);
                ddc_->writeLuminance(s, 100);
            }
        }
        if (!services.empty()) {
            next = PWMState::active;
            handled = true;
        }
    }

    setState(next);
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
