// The engine and the wlr-gamma-control backend against the in-process stand-in compositor:
// time from a warmth change to set_gamma read by the compositor, and the set_gamma requests
// of one 0.35 s transition. Run by bench/wayland-side-by-side.py; prints one figure a line:
//   latency <ms>            (one per warmth change, the slower of the two outputs)
//   step <ms since start>   (each set_gamma of the transition on the first output)
#include "MonotonicClock.h"
#include "engine/VeskEngine.h"
#include "platform/linux/WlrGammaDisplays.h"
#include "support/StandInCompositor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unistd.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string socket = "ambrano-bench-" + std::to_string(getpid());
    StandInCompositor compositor(socket, {{"eDP-1", 256}, {"DP-2", 1024}});
    std::mutex mutex;
    std::vector<std::pair<std::string, double>> received;
    compositor.onWrite = [&](const std::string& name, const std::vector<std::uint16_t>&) {
        std::lock_guard lock(mutex);
        received.emplace_back(name, nowMs());
    };
    qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString(socket));
    std::string whyNot;
    auto displays = WlrGammaDisplays::connect(whyNot);
    if (!displays) {
        std::fprintf(stderr, "wayland_bench: %s\n", whyNot.c_str());
        return 2;
    }
    VeskEngine engine;
    engine.setDisplayServices(displays.get());
    engine.setEnabled(true);

    auto waitForWrites = [&](size_t n) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (received.size() >= n || clock.elapsed() > 2000)
                    return;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
    };
    waitForWrites(2);
    for (int i = 0; i < 50; ++i) {
        {
            std::lock_guard lock(mutex);
            received.clear();
        }
        const double start = nowMs();
        engine.setWarmth(i % 2 ? 40 : 80);
        waitForWrites(2);
        std::lock_guard lock(mutex);
        double last = 0;
        for (const auto& r : received)
            last = std::max(last, r.second);
        std::printf("latency %.3f\n", last - start);
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 20)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    engine.setWarmth(62);
    waitForWrites(2);
    {
        std::lock_guard lock(mutex);
        received.clear();
    }
    const double start = nowMs();
    engine.animateWarmth(100, 0.35);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 600)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::lock_guard lock(mutex);
    for (const auto& r : received) {
        if (r.first == "eDP-1")
            std::printf("step %.3f\n", r.second - start);
    }
    engine.setEnabled(false);
    engine.setDisplayServices(nullptr);
    return 0;
}
