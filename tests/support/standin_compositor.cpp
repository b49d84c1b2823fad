// The stand-in compositor as a program, for the end-to-end tests and the benchmark:
//   standin_compositor SOCKET NAME:GAMMASIZE...
// It prints one line per event, with a monotonic time in nanoseconds, until a signal ends it:
//   <ns> ready | <ns> held <output> 1|0 | <ns> write <output> <last red> <last green> <last blue>
#include "support/StandInCompositor.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

static void print(const std::string& line)
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::printf("%lld %s\n", ts.tv_sec * 1000000000LL + ts.tv_nsec, line.c_str());
    std::fflush(stdout);
}

int main(int argc, char** argv)
{
    std::vector<StandInCompositor::OutputConfig> outputs;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        outputs.push_back({arg.substr(0, arg.find(':')), static_cast<std::uint32_t>(std::stoul(arg.substr(arg.find(':') + 1)))});
    }
    StandInCompositor compositor(argc > 1 ? argv[1] : "", outputs);
    compositor.onHeld = [](const std::string& name, bool held) { print("held " + name + (held ? " 1" : " 0")); };
    compositor.onWrite = [](const std::string& name, const std::vector<std::uint16_t>& table) {
        std::string line = "write " + name;
        for (size_t channel = 1; channel <= 3; ++channel)
            line += ' ' + std::to_string(table[channel * table.size() / 3 - 1]);
        print(line);
    };
    print("ready");
    pause();  // SIGTERM's default action ends the process; a socket left behind is reused
}
