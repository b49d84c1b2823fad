#include "support/StandInCompositor.h"
#include "wlr-gamma-control-unstable-v1-server-protocol.h"
#include <wayland-server.h>
#include <poll.h>
#include <unistd.h>
#include <stdexcept>

namespace {

using Output = StandInCompositor::Output;

Output* outputOf(wl_resource* resource) { return static_cast<Output*>(wl_resource_get_user_data(resource)); }
void destroy(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }

// A control let go of goes inert: the client's later requests on it are ignored.
void setHolder(Output& out, wl_resource* holder)
{
    if (out.holder && !holder)
        wl_resource_set_user_data(out.holder, nullptr);
    out.holder = holder;
    out.seen.held = holder != nullptr;
    if (out.owner->onHeld)
        out.owner->onHeld(out.config.name, out.seen.held);
}

void setGamma(wl_client*, wl_resource* resource, std::int32_t fd)
{
    Output* out = outputOf(resource);
    std::vector<std::uint16_t> table(out ? 3 * out->config.gammaSize : 0);
    const auto bytes = static_cast<ssize_t>(table.size() * sizeof(std::uint16_t));
    const bool whole = out && read(fd, table.data(), static_cast<size_t>(bytes)) == bytes;
    close(fd);
    if (!whole)
        return;  // wlroots makes a short table a protocol error; here it is just not seen
    if (out->owner->onWrite)
        out->owner->onWrite(out->config.name, table);
    out->seen.writes.push_back(std::move(table));
}

const struct wl_output_interface outputImpl{destroy};
const struct zwlr_gamma_control_v1_interface controlImpl{setGamma, destroy};

void getControl(wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource* output)
{
    wl_resource* control = wl_resource_create(client, &zwlr_gamma_control_v1_interface, wl_resource_get_version(manager), id);
    Output* out = outputOf(output);
    ++out->seen.controlRequests;
    // Today's wlroots: no gamma, unplugged, or held by someone already fails the newcomer.
    const bool fails = out->config.gammaSize == 0 || !out->global || out->holder;
    wl_resource_set_implementation(control, &controlImpl, fails ? nullptr : out, [](wl_resource* gone) {
        if (Output* out = outputOf(gone))
            setHolder(*out, nullptr);
    });
    if (fails)
        return zwlr_gamma_control_v1_send_failed(control);
    setHolder(*out, control);
    zwlr_gamma_control_v1_send_gamma_size(control, out->config.gammaSize);
}

const struct zwlr_gamma_control_manager_v1_interface managerImpl{getControl, destroy};

void bindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
{
    auto* out = static_cast<Output*>(data);
    wl_resource* resource = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
    wl_resource_set_implementation(resource, &outputImpl, out, nullptr);
    wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, 1920, 1080, 60000);
    wl_output_send_name(resource, out->config.name.c_str());  // our client binds version 4
    wl_output_send_done(resource);
}

}  // namespace

StandInCompositor::StandInCompositor(const std::string& socketName, const std::vector<OutputConfig>& outputs)
    : display_(wl_display_create())
{
    if (wl_display_add_socket(display_, socketName.c_str()) != 0)
        throw std::runtime_error("stand-in compositor: cannot listen on " + socketName);
    wl_global_create(display_, &zwlr_gamma_control_manager_v1_interface, 1, nullptr,
        [](wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
            wl_resource* manager = wl_resource_create(client, &zwlr_gamma_control_manager_v1_interface, static_cast<int>(version), id);
            wl_resource_set_implementation(manager, &managerImpl, nullptr, nullptr);
        });
    for (const OutputConfig& config : outputs)
        addOutput(config);
    thread_ = std::thread([this] {
        wl_event_loop* loop = wl_display_get_event_loop(display_);
        pollfd ready{wl_event_loop_get_fd(loop), POLLIN, 0};
        while (!stop_) {
            {
                std::lock_guard lock(mutex_);
                wl_event_loop_dispatch(loop, 0);
                wl_display_flush_clients(display_);  // also what the test's thread queued
            }
            poll(&ready, 1, 5);
        }
    });
}

StandInCompositor::~StandInCompositor()
{
    stop_ = true;
    thread_.join();
    wl_display_destroy_clients(display_);
    wl_display_destroy(display_);
}

void StandInCompositor::addOutput(const OutputConfig& config)
{
    std::lock_guard lock(mutex_);
    Output& out = outputs_[config.name] = Output{this, config, {}};
    out.global = wl_global_create(display_, &wl_output_interface, 4, &out, bindOutput);
}

void StandInCompositor::removeOutput(const std::string& name)
{
    std::lock_guard lock(mutex_);
    Output& out = outputs_.at(name);
    if (out.holder)
        setHolder(out, nullptr);
    wl_global_destroy(out.global);
    out.global = nullptr;
}

void StandInCompositor::takeAway(const std::string& name)
{
    std::lock_guard lock(mutex_);
    Output& out = outputs_.at(name);
    if (out.holder) {
        zwlr_gamma_control_v1_send_failed(out.holder);
        setHolder(out, nullptr);
    }
}

StandInCompositor::OutputState StandInCompositor::state(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    return outputs_.at(name).seen;
}
