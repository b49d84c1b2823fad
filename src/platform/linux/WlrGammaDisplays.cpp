#include "platform/linux/WlrGammaDisplays.h"

#include "platform/linux/GammaRamp.h"
#include "platform/linux/PanelConnectors.h"

#include "wlr-gamma-control-unstable-v1-client-protocol.h"

#include <QSocketNotifier>

#include <wayland-client.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
// wl_output 4 adds the connector name ("eDP-1"); older compositors give make and model only.
constexpr std::uint32_t outputVersion = 4;
}  // namespace

struct WlrGammaDisplays::Output {
    WlrGammaDisplays* owner = nullptr;
    std::uint32_t global = 0;  // the registry's name for it: our display identifier
    wl_output* output = nullptr;
    std::string name;
    std::string model;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    enum class Control { none, asked, ready, failed };
    zwlr_gamma_control_v1* control = nullptr;
    Control state = Control::none;
    std::uint32_t gammaSize = 0;
    GammaResult failure = GammaResult::heldByOther;
    // A set_gamma still on its way to the compositor, and the newest tables waiting for it:
    // a fast animation never queues more than one table.
    wl_callback* inFlight = nullptr;
    std::optional<TransferTables> waiting;
};

struct WlrListeners {
    using Self = WlrGammaDisplays;
    using Output = WlrGammaDisplays::Output;

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version)
    {
        auto* self = static_cast<Self*>(data);
        if (std::strcmp(interface, wl_output_interface.name) == 0) {
            self->addOutput(name, version);
        } else if (std::strcmp(interface, zwlr_gamma_control_manager_v1_interface.name) == 0 && !self->manager_) {
            self->manager_ = static_cast<zwlr_gamma_control_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_gamma_control_manager_v1_interface, 1));
        }
    }
    static void globalRemove(void* data, wl_registry*, std::uint32_t name) { static_cast<Self*>(data)->removeOutput(name); }

    static void geometry(void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
        const char*, const char* model, std::int32_t)
    {
        static_cast<Output*>(data)->model = model ? model : "";
    }
    static void mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height, std::int32_t)
    {
        if (!(flags & WL_OUTPUT_MODE_CURRENT))
            return;
        auto* out = static_cast<Output*>(data);
        out->width = static_cast<std::uint32_t>(std::max(width, 0));
        out->height = static_cast<std::uint32_t>(std::max(height, 0));
    }
    static void done(void*, wl_output*) {}
    static void scale(void*, wl_output*, std::int32_t) {}
    static void name(void* data, wl_output*, const char* name) { static_cast<Output*>(data)->name = name ? name : ""; }
    static void description(void*, wl_output*, const char*) {}

    static void gammaSize(void* data, zwlr_gamma_control_v1*, std::uint32_t size)
    {
        auto* out = static_cast<Output*>(data);
        out->gammaSize = size;
        out->state = size > 0 ? Output::Control::ready : Output::Control::failed;
    }
    static void failed(void* data, zwlr_gamma_control_v1*) { static_cast<Output*>(data)->owner->controlFailed(*static_cast<Output*>(data)); }

    static void written(void* data, wl_callback*, std::uint32_t) { static_cast<Output*>(data)->owner->writeDone(*static_cast<Output*>(data)); }

    static constexpr wl_registry_listener registryListener{global, globalRemove};
    static constexpr wl_output_listener outputListener{geometry, mode, done, scale, name, description};
    static constexpr zwlr_gamma_control_v1_listener controlListener{gammaSize, failed};
    static constexpr wl_callback_listener writtenListener{written};
};

std::unique_ptr<WlrGammaDisplays> WlrGammaDisplays::connect(std::string& whyNot)
{
    whyNot.clear();
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return nullptr;
    std::unique_ptr<WlrGammaDisplays> self(new WlrGammaDisplays(display));
    // The first round trip lists the globals, the second the outputs' names and modes.
    if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
        whyNot = "wayland: the connection failed";
        return nullptr;
    }
    if (!self->manager_) {
        whyNot = "wayland: the compositor offers no wlr-gamma-control";
        return nullptr;
    }
    self->notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
    QObject::connect(self->notifier_.get(), &QSocketNotifier::activated, self->notifier_.get(),
        [raw = self.get()] { raw->readEvents(); });
    return self;
}

WlrGammaDisplays::WlrGammaDisplays(wl_display* display)
    : display_(display)
{
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &WlrListeners::registryListener, this);
}

WlrGammaDisplays::~WlrGammaDisplays()
{
    notifier_.reset();
    for (auto& out : outputs_) {
        releaseControl(*out);
        if (out->inFlight)
            wl_callback_destroy(out->inFlight);
        wl_output_destroy(out->output);
    }
    if (manager_)
        zwlr_gamma_control_manager_v1_destroy(manager_);
    if (registry_)
        wl_registry_destroy(registry_);
    // Closing the connection also hands every output back, as a crash would.
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void WlrGammaDisplays::addOutput(std::uint32_t global, std::uint32_t version)
{
    auto out = std::make_unique<Output>();
    out->owner = this;
    out->global = global;
    out->output = static_cast<wl_output*>(
        wl_registry_bind(registry_, global, &wl_output_interface, std::min(version, outputVersion)));
    wl_output_add_listener(out->output, &WlrListeners::outputListener, out.get());
    outputs_.push_back(std::move(out));
    if (onReconfigure_)
        onReconfigure_(global);
}

void WlrGammaDisplays::removeOutput(std::uint32_t global)
{
    auto it = std::find_if(outputs_.begin(), outputs_.end(), [global](const auto& out) { return out->global == global; });
    if (it == outputs_.end())
        return;
    Output& out = **it;
    releaseControl(out);
    if (out.inFlight)
        wl_callback_destroy(out.inFlight);
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(out.output)) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
        wl_output_release(out.output);
    else
        wl_output_destroy(out.output);
    outputs_.erase(it);
    wl_display_flush(display_);
    if (onReconfigure_)
        onReconfigure_(global);
}

void WlrGammaDisplays::releaseControl(Output& out)
{
    if (out.control)
        zwlr_gamma_control_v1_destroy(out.control);
    out.control = nullptr;
    out.state = Output::Control::none;
    out.gammaSize = 0;
    out.waiting.reset();
}

WlrGammaDisplays::Output* WlrGammaDisplays::find(DisplayID display)
{
    for (auto& out : outputs_) {
        if (out->global == display)
            return out.get();
    }
    return nullptr;
}

std::vector<DisplayID> WlrGammaDisplays::activeDisplays()
{
    std::vector<DisplayID> ids;
    for (const auto& out : outputs_)
        ids.push_back(out->global);
    return ids;
}

GammaResult WlrGammaDisplays::setTransferTables(DisplayID display, const TransferTables& tables)
{
    Output* out = find(display);
    if (!out || lost_)
        return GammaResult::unsupported;
    if (out->state == Output::Control::failed)
        return out->failure;  // never asked again until the filter is switched off and on
    if (out->state == Output::Control::none) {
        out->control = zwlr_gamma_control_manager_v1_get_gamma_control(manager_, out->output);
        zwlr_gamma_control_v1_add_listener(out->control, &WlrListeners::controlListener, out);
        out->state = Output::Control::asked;
        // The answer comes at once: the size, or a failure.
        asking_ = display;
        const int status = wl_display_roundtrip(display_);
        asking_.reset();
        if (status < 0) {
            dispatchLost();
            return GammaResult::unsupported;
        }
        out = find(display);  // the round trip may have seen it unplugged
        if (!out)
            return GammaResult::unsupported;
        if (out->state == Output::Control::asked) {
            // No answer at all: wlroots 0.15 does that when it has just taken the output away
            // from another program. Leave it to that program.
            zwlr_gamma_control_v1_destroy(out->control);
            out->control = nullptr;
            out->state = Output::Control::failed;
            out->failure = GammaResult::heldByOther;
        }
        if (out->state == Output::Control::failed)
            return out->failure;
    }
    if (out->inFlight)
        out->waiting = tables;
    else
        write(*out, tables);
    return GammaResult::applied;
}

void WlrGammaDisplays::write(Output& out, const TransferTables& tables)
{
    const GammaRamp ramp = GammaRamp::fromTables(tables, static_cast<int>(out.gammaSize));
    // A fresh file for every write: the compositor reads from the current offset.
    const int fd = memfd_create("ambrano-gamma", MFD_CLOEXEC);
    if (fd < 0)
        return;
    bool complete = true;
    for (const auto* channel : {&ramp.red, &ramp.green, &ramp.blue}) {
        const auto bytes = static_cast<ssize_t>(channel->size() * sizeof(std::uint16_t));
        complete = complete && ::write(fd, channel->data(), static_cast<size_t>(bytes)) == bytes;
    }
    if (complete && lseek(fd, 0, SEEK_SET) == 0) {
        zwlr_gamma_control_v1_set_gamma(out.control, fd);
        out.inFlight = wl_display_sync(display_);
        wl_callback_add_listener(out.inFlight, &WlrListeners::writtenListener, &out);
        wl_display_flush(display_);
    }
    close(fd);
}

void WlrGammaDisplays::writeDone(Output& out)
{
    wl_callback_destroy(out.inFlight);
    out.inFlight = nullptr;
    if (out.waiting && out.state == Output::Control::ready) {
        const TransferTables tables = *out.waiting;
        out.waiting.reset();
        write(out, tables);
    }
}

void WlrGammaDisplays::controlFailed(Output& out)
{
    // Failing at once means no gamma (or a holder that keeps it); failing later, that
    // another program has taken the output.
    out.failure = out.state == Output::Control::ready ? GammaResult::heldByOther : GammaResult::unsupported;
    zwlr_gamma_control_v1_destroy(out.control);
    out.control = nullptr;
    out.state = Output::Control::failed;
    out.waiting.reset();
    if (onResult_ && asking_ != out.global)
        onResult_(out.global, out.failure);
}

void WlrGammaDisplays::restoreColorProfiles()
{
    bool any = false;
    for (auto& out : outputs_) {
        any = any || out->control || out->state == Output::Control::failed;
        releaseControl(*out);
    }
    if (any)
        wl_display_flush(display_);
}

void WlrGammaDisplays::readEvents()
{
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0)
            return dispatchLost();
    }
    wl_display_flush(display_);
    // The notifier may be late: a round trip can have read what woke it.
    pollfd ready{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0) {
        if (wl_display_read_events(display_) < 0)
            return dispatchLost();
    } else {
        wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0)
        return dispatchLost();
    wl_display_flush(display_);  // what the events asked for (binding a new output)
}

void WlrGammaDisplays::dispatchLost()
{
    if (lost_)
        return;
    lost_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    std::fprintf(stderr, "ambrano: display: the Wayland connection was lost\n");
    for (const auto& out : outputs_) {
        if (onResult_)
            onResult_(out->global, GammaResult::unsupported);
    }
}

void WlrGammaDisplays::registerReconfigurationCallback(ReconfigurationCallback callback)
{
    onReconfigure_ = std::move(callback);
}

void WlrGammaDisplays::registerGammaResultCallback(GammaResultCallback callback)
{
    onResult_ = std::move(callback);
}

bool WlrGammaDisplays::isBuiltin(DisplayID display)
{
    const Output* out = find(display);
    return out && isPanelConnector(QString::fromStdString(out->name));
}

std::uint32_t WlrGammaDisplays::pixelsWide(DisplayID display)
{
    const Output* out = find(display);
    return out ? out->width : 0;
}

std::uint32_t WlrGammaDisplays::pixelsHigh(DisplayID display)
{
    const Output* out = find(display);
    return out ? out->height : 0;
}

std::string WlrGammaDisplays::name(DisplayID display)
{
    const Output* out = find(display);
    if (!out)
        return {};
    return out->name.empty() ? out->model : out->name;
}
