// Starts the transport with everything it runs (a connection, USB hot-plug,
// discovery datagrams) and ends the process without comm_shut: by returning
// from main, or by exit() with "exit" as the second argument.
#include "comm.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::atomic<bool> opened{false};

int handler(int, int kind, const uint8_t*, int, void*)
{
    if (kind == COMM_EV_OPENED)
        opened = true;
    if (kind == COMM_EV_CLOSED) {
        std::printf("closed\n");
        std::fflush(stdout);
    }
    return 0;
}

int datagram(void*, int, void*)
{
    return 0;
}

void usbChanged(void*) {}

} // namespace

int main(int argc, char** argv)
{
    setenv("ORVISK_LOOPBACK_ONLY", "1", 1);
    if (argc < 2 || comm_init() != 0)
        return 2;
    comm_usb_register(usbChanged, nullptr);
    comm_net_broadcast_register(datagram, nullptr);
    int id = -1;
    if (comm_connect(&id, argv[1], handler, 4096, 200, nullptr) != 0)
        return 3;
    for (int i = 0; i < 5000 && !opened; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!opened)
        return 4;
    if (argc > 2 && std::strcmp(argv[2], "exit") == 0)
        std::exit(0);
    return 0;
}
