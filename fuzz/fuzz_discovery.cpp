// Network discovery answers: datagrams through MXX_broadcast_event_proc into
// the answer list, and the device finder's read of that list at its ticks.
#include "fake_comm.h"

#include <mxx_comm.h>
#include <mxx_seeker.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool terminated(const char* text, size_t size)
{
    return memchr(text, 0, size) != nullptr;
}

MXXSeeker& seeker()
{
    static int argc = 1;
    static char name[] = "fuzz_discovery";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static MXXSeeker instance;
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MXXSeeker& finder = seeker();
    FuzzedDataProvider in(data, size);
    MXX_net_broadcast_reset_list();
    while (in.remaining_bytes() > 0) {
        const std::vector<uint8_t> datagram =
            in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 2048));
        MXX_broadcast_event_proc(datagram.data(), static_cast<int>(datagram.size()));

        MXX_message_list list;
        MXX_broadcast_list(&list);
        if (list.count < 0 || list.count > MXX_MESSAGE_LIST_ENTRIES)
            std::abort();
        for (int i = 0; i < list.count; ++i) {
            const MXX_message_entry& e = list.entries[i];
            if (!terminated(e.id, sizeof e.id) || !terminated(e.ipv4, sizeof e.ipv4) ||
                !terminated(e.ipv6, sizeof e.ipv6))
                std::abort();
            for (int j = 0; j < i; ++j)
                if (std::strcmp(e.id, list.entries[j].id) == 0)
                    std::abort(); // one entry per identity
        }
        QMetaObject::invokeMethod(&finder, "updateNetList", Qt::DirectConnection);
    }
    return 0;
}
