// Runs one warmth animation of the engine against the X server and prints when it started
// and when each step was written, in CLOCK_MONOTONIC milliseconds (the clock gamma_watch
// uses, so a second process polling the CRTC can line its readings up with these).
//   transition_bench [FROM TO [SECONDS]]     default 20 80 0.35
#include "MonotonicClock.h"
#include "engine/VeskEngine.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11DisplayServices.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

int main(int argc, char** argv)
{
    const double from = argc > 2 ? std::atof(argv[1]) : 20.0;
    const double to = argc > 2 ? std::atof(argv[2]) : 80.0;
    const double seconds = argc > 3 ? std::atof(argv[3]) : 0.35;

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    auto connection = X11Connection::open();
    if (!connection) {
        std::fprintf(stderr, "transition_bench: no X display\n");
        return 2;
    }
    QTemporaryDir dir;
    X11DisplayServices displays(*connection, dir.path() + QStringLiteral("/backup.json"));
    VeskEngine engine;
    engine.setDisplayServices(&displays);
    engine.setWarmth(from);
    engine.setEnabled(true);
    connection->syncAndTakeError();

    std::vector<double> steps;
    double start = 0;
    engine.onWarmthAnim = [&](double) {
        connection->syncAndTakeError();  // the step has reached the server
        steps.push_back(nowMs());
        if (!engine.isAnimating())
            QTimer::singleShot(100, &app, [] { QApplication::quit(); });
    };
    // Let the ramp of the enable settle before the animation starts.
    QTimer::singleShot(200, &app, [&] {
        start = nowMs();
        engine.animateWarmth(to, seconds);
    });
    QApplication::exec();

    std::printf("start %.3f\n", start);
    for (double t : steps)
        std::printf("step %.3f\n", t);
    std::printf("end %.3f\n", nowMs());  // ramps after this are the filter going off
    engine.setEnabled(false);
    engine.setDisplayServices(nullptr);
    return 0;
}
