// Cost of building the transfer tables and of one apply to a real X server.
// Run with bench/run-benchmarks.sh (it starts a private Xorg for the X11 cases).
#include "engine/ColorModel.h"
#include "engine/VeskEngine.h"
#include "platform/linux/GammaRamp.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11DisplayServices.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

namespace {

void BM_BuildTables(benchmark::State& state)
{
    double warmth = 0;
    for (auto _ : state) {
        warmth = warmth >= 100 ? 0 : warmth + 0.37;
        benchmark::DoNotOptimize(ColorModel::buildTables(warmth, 80));
    }
}
BENCHMARK(BM_BuildTables);

void BM_RampFromTables(benchmark::State& state)
{
    const TransferTables tables = ColorModel::buildTables(62, 80);
    for (auto _ : state)
        benchmark::DoNotOptimize(GammaRamp::fromTables(tables, static_cast<int>(state.range(0))));
}
BENCHMARK(BM_RampFromTables)->Arg(256)->Arg(1024)->Arg(4096);

// One engine apply (tables built and written to every CRTC), with a round trip at the end so
// the time includes the server taking the ramps.
void BM_ApplyToXServer(benchmark::State& state)
{
    auto connection = X11Connection::open();
    if (!connection) {
        state.SkipWithError("no X display");
        return;
    }
    QTemporaryDir dir;
    X11DisplayServices displays(*connection, dir.path() + QStringLiteral("/backup.json"));
    VeskEngine engine;
    engine.setDisplayServices(&displays);
    engine.setEnabled(true);
    double warmth = 0;
    for (auto _ : state) {
        warmth = warmth >= 100 ? 0 : warmth + 0.37;
        engine.setWarmth(warmth);
        connection->syncAndTakeError();
    }
    engine.setEnabled(false);
    engine.setDisplayServices(nullptr);
}
BENCHMARK(BM_ApplyToXServer)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
