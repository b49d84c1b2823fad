// The stand-in compositor as a program, for the end-to-end tests and the benchmark:
//   standin_compositor SOCKET NAME:GAMMASIZE...
// It prints one line per event, with a monotonic time in nanoseconds:
//   <ns> held <output> 1|0
//   <ns> write <output> <last red> <last green> <last blue>
// and runs until SIGTERM or SIGINT.
#include "support/StandInCompositor.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

long long now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: standin_compositor SOCKET NAME:GAMMASIZE...\n");
        return 2;
    }
    std::vector<StandInCompositor::OutputConfig> outputs;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t colon = arg.find(':');
        outputs.push_back({arg.substr(0, colon), colon == std::string::npos ? 256u : static_cast<std::uint32_t>(std::stoul(arg.substr(colon + 1)))});
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // the compositor's thread inherits this

    StandInCompositor compositor(argv[1], outputs);
    compositor.onHeld = [](const std::string& name, bool held) {
        std::printf("%lld held %s %d\n", now(), name.c_str(), held ? 1 : 0);
        std::fflush(stdout);
    };
    compositor.onWrite = [](const std::string& name, const std::vector<std::uint16_t>& table) {
        const size_t size = table.size() / 3;
        std::printf("%lld write %s %u %u %u\n", now(), name.c_str(), table[size - 1], table[2 * size - 1], table[3 * size - 1]);
        std::fflush(stdout);
    };
    std::printf("%lld ready\n", now());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
