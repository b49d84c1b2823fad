#include "support/StandInCompositor.h"

#include "wlr-gamma-control-unstable-v1-server-protocol.h"

#include <wayland-server.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

struct StandInCompositor::Output {
    StandInCompositor* owner = nullptr;
    OutputConfig config;
    wl_global* global = nullptr;
    std::vector<wl_resource*> resources;
    wl_resource* holder = nullptr;  // the live gamma control
};

struct StandInHandlers {
    using Self = StandInCompositor;
    using Output = StandInCompositor::Output;

    static void setHeld(Output& out, wl_resource* holder)
    {
        out.holder = holder;
        Self& self = *out.owner;
        {
            std::lock_guard lock(self.mutex_);
            self.state_[out.config.name].held = holder != nullptr;
        }
        self.changed_.notify_all();
        if (self.onHeld)
            self.onHeld(out.config.name, holder != nullptr);
    }

    // wl_output
    static void outputRelease(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }
    static void outputGone(wl_resource* resource)
    {
        if (auto* out = static_cast<Output*>(wl_resource_get_user_data(resource)))
            std::erase(out->resources, resource);
    }
    static constexpr struct wl_output_interface outputImpl{outputRelease};

    static void bindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        auto* out = static_cast<Output*>(data);
        wl_resource* resource = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &outputImpl, out, outputGone);
        out->resources.push_back(resource);
        wl_output_send_geometry(resource, 0, 0, 300, 200, WL_OUTPUT_SUBPIXEL_UNKNOWN, "stand-in", "stand-in",
            WL_OUTPUT_TRANSFORM_NORMAL);
        wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, out->config.width, out->config.height, 60000);
        if (version >= WL_OUTPUT_NAME_SINCE_VERSION)
            wl_output_send_name(resource, out->config.name.c_str());
        if (version >= WL_OUTPUT_DONE_SINCE_VERSION)
            wl_output_send_done(resource);
    }

    // zwlr_gamma_control_v1
    static void controlGone(wl_resource* resource)
    {
        auto* out = static_cast<Output*>(wl_resource_get_user_data(resource));
        if (out && out->holder == resource)
            setHeld(*out, nullptr);
    }
    static void setGamma(wl_client*, wl_resource* resource, std::int32_t fd)
    {
        auto* out = static_cast<Output*>(wl_resource_get_user_data(resource));
        if (!out || out->holder != resource) {
            close(fd);
            return;
        }
        // Like wlroots 0.15: from the current offset, and the whole table or an error.
        std::vector<std::uint16_t> table(3 * static_cast<size_t>(out->config.gammaSize));
        const auto bytes = static_cast<ssize_t>(table.size() * sizeof(std::uint16_t));
        const ssize_t got = read(fd, table.data(), static_cast<size_t>(bytes));
        close(fd);
        if (got != bytes) {
            ++out->owner->protocolErrors_;
            wl_resource_post_error(resource, ZWLR_GAMMA_CONTROL_V1_ERROR_INVALID_GAMMA, "short gamma table");
            return;
        }
        Self& self = *out->owner;
        if (self.onWrite)
            self.onWrite(out->config.name, table);
        {
            std::lock_guard lock(self.mutex_);
            self.state_[out->config.name].writes.push_back(std::move(table));
        }
        self.changed_.notify_all();
    }
    static void controlDestroy(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }
    static constexpr struct zwlr_gamma_control_v1_interface controlImpl{setGamma, controlDestroy};

    // zwlr_gamma_control_manager_v1
    static void getControl(wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource* outputResource)
    {
        wl_resource* control = wl_resource_create(client, &zwlr_gamma_control_v1_interface,
            wl_resource_get_version(manager), id);
        auto* out = static_cast<Output*>(wl_resource_get_user_data(outputResource));
        if (out) {
            std::lock_guard lock(out->owner->mutex_);
            ++out->owner->state_[out->config.name].controlRequests;
        }
        out->owner->changed_.notify_all();
        // Today's wlroots: no gamma, or already held by someone, fails the newcomer.
        if (!out || out->config.gammaSize == 0 || out->holder) {
            wl_resource_set_implementation(control, &controlImpl, nullptr, nullptr);
            zwlr_gamma_control_v1_send_failed(control);
            return;
        }
        wl_resource_set_implementation(control, &controlImpl, out, controlGone);
        setHeld(*out, control);
        zwlr_gamma_control_v1_send_gamma_size(control, out->config.gammaSize);
    }
    static void managerDestroy(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }
    static constexpr struct zwlr_gamma_control_manager_v1_interface managerImpl{getControl, managerDestroy};

    static void bindManager(wl_client* client, void*, std::uint32_t version, std::uint32_t id)
    {
        wl_resource* resource = wl_resource_create(client, &zwlr_gamma_control_manager_v1_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &managerImpl, nullptr, nullptr);
    }

    static int wake(int fd, std::uint32_t, void*)
    {
        std::uint64_t n = 0;
        [[maybe_unused]] ssize_t r = read(fd, &n, sizeof n);
        return 0;
    }
};

StandInCompositor::StandInCompositor(const std::string& socketName, std::vector<OutputConfig> outputs)
{
    display_ = wl_display_create();
    if (wl_display_add_socket(display_, socketName.c_str()) != 0)
        throw std::runtime_error("stand-in compositor: cannot listen on " + socketName);
    wl_global_create(display_, &zwlr_gamma_control_manager_v1_interface, 1, this, StandInHandlers::bindManager);
    for (const OutputConfig& config : outputs)
        createOutput(config);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wake_ = wl_event_loop_add_fd(wl_display_get_event_loop(display_), wakeFd_, WL_EVENT_READABLE, StandInHandlers::wake, nullptr);
    thread_ = std::thread([this] {
        wl_event_loop* loop = wl_display_get_event_loop(display_);
        while (!stop_) {
            wl_event_loop_dispatch(loop, 100);
            std::vector<std::function<void()>> tasks;
            {
                std::lock_guard lock(mutex_);
                tasks.swap(tasks_);
            }
            for (auto& task : tasks)
                task();
            wl_display_flush_clients(display_);
        }
    });
}

StandInCompositor::~StandInCompositor()
{
    stop_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(wakeFd_, &one, sizeof one);
    thread_.join();
    wl_event_source_remove(wake_);
    wl_display_destroy_clients(display_);
    wl_display_destroy(display_);
    close(wakeFd_);
}

void StandInCompositor::run(std::function<void()> task)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back([task = std::move(task), done, this] {
            task();
            *done = true;
            changed_.notify_all();
        });
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(wakeFd_, &one, sizeof one);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done->load(); });
}

void StandInCompositor::createOutput(const OutputConfig& config)
{
    auto out = std::make_unique<Output>();
    out->owner = this;
    out->config = config;
    out->global = wl_global_create(display_, &wl_output_interface, 4, out.get(), StandInHandlers::bindOutput);
    {
        std::lock_guard lock(mutex_);
        state_[config.name] = OutputState{};
    }
    outputs_.push_back(std::move(out));
}

void StandInCompositor::addOutput(const OutputConfig& config)
{
    run([this, config] { createOutput(config); });
}

void StandInCompositor::removeOutput(const std::string& name)
{
    run([this, name] {
        auto it = std::find_if(outputs_.begin(), outputs_.end(), [&](const auto& o) { return o->config.name == name; });
        if (it == outputs_.end())
            return;
        Output& out = **it;
        if (out.holder) {
            wl_resource_set_user_data(out.holder, nullptr);
            StandInHandlers::setHeld(out, nullptr);
        }
        for (wl_resource* resource : out.resources)
            wl_resource_set_user_data(resource, nullptr);
        wl_global_destroy(out.global);
        {
            std::lock_guard lock(mutex_);
            state_[name].present = false;
        }
        outputs_.erase(it);
    });
}

void StandInCompositor::takeAway(const std::string& name)
{
    run([this, name] {
        for (auto& out : outputs_) {
            if (out->config.name == name && out->holder) {
                wl_resource* holder = out->holder;
                zwlr_gamma_control_v1_send_failed(holder);
                wl_resource_set_user_data(holder, nullptr);
                StandInHandlers::setHeld(*out, nullptr);
            }
        }
    });
}

std::map<std::string, StandInCompositor::OutputState> StandInCompositor::state() const
{
    std::lock_guard lock(mutex_);
    return state_;
}
