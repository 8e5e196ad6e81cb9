// orvisk-sim: a simulated M30 instrument (or several) for Orvisk.
#include "sim/options.h"
#include "sim/simulator.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <pthread.h>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const sim::ParsedOptions parsed = sim::parse_options(args);
    if (parsed.help) {
        std::fputs(sim::help_text().c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "orvisk-sim: %s (see --help)\n", parsed.error.c_str());
        return 2;
    }

    // Every thread started from here on leaves SIGINT and SIGTERM to this one.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        sim::Simulator simulator(parsed.options);
        simulator.start();
        std::vector<std::string> ptys;
        for (const sim::SimInstrument& s : simulator.instruments()) {
            std::printf("instrument %zu: %s %s %s\n", s.number, s.family.c_str(), s.serial.c_str(),
                        s.tcp.c_str());
            if (!s.pty_path.empty())
                std::printf("instrument %zu: %s %s %s\n", s.number, s.family.c_str(),
                            s.serial.c_str(), sim::Simulator::serial_string(s.pty_path).c_str());
            ptys.push_back(s.pty_path);
        }
        if (simulator.discovery_port())
            std::printf("discovery: udp %s:%u\n", parsed.options.discovery_host.c_str(),
                        static_cast<unsigned>(simulator.discovery_port()));
        std::printf("ready\n");
        std::fflush(stdout);

        const timespec poll = {0, 250 * 1000 * 1000};
        for (;;) {
            const int sig = sigtimedwait(&stop_signals, nullptr, &poll);
            if (sig == SIGINT || sig == SIGTERM)
                break;
            // A pty hangs up when its client leaves and opens afresh elsewhere.
            for (std::size_t i = 0; i < ptys.size(); ++i) {
                const std::string now = simulator.pty_path(i);
                if (parsed.options.pty && now != ptys[i] && !now.empty()) {
                    const sim::SimInstrument& s = simulator.instruments()[i];
                    std::printf("instrument %zu: %s %s %s\n", s.number, s.family.c_str(),
                                s.serial.c_str(), sim::Simulator::serial_string(now).c_str());
                    std::fflush(stdout);
                    ptys[i] = now;
                }
            }
        }
        simulator.stop();
        std::printf("stopped\n");
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvisk-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
