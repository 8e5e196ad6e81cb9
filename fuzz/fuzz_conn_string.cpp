// Connection strings: the one parser behind comm_connect, the display text,
// and the makers with arbitrary arguments. A string the parser takes comes
// back the same after formatting, and every string a maker writes parses.
#include <comm_internal.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool terminated(const char* text)
{
    return std::memchr(text, 0, COMM_STRING_SIZE) != nullptr;
}

// A maker's result: 0 with a string that parses, or an error with an empty one.
void checkMade(int result, const char* out)
{
    if (!terminated(out))
        std::abort();
    comm::ConnParams p;
    if (result == 0 && comm::parse_conn_string(out, p) != 0)
        std::abort();
    if (result != 0 && out[0] != '\0')
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(200);

    comm::ConnParams params;
    if (comm::parse_conn_string(text.c_str(), params) == 0) {
        char out[COMM_STRING_SIZE];
        std::memset(out, 'x', sizeof out);
        if (comm::format_conn_string(params, out) == 0) {
            comm::ConnParams again;
            char twice[COMM_STRING_SIZE];
            if (comm::parse_conn_string(out, again) != 0 ||
                comm::format_conn_string(again, twice) != 0 || std::strcmp(out, twice) != 0)
                std::abort();
        }
        (void)comm::display_text(params);
    }
    char text_out[COMM_STRING_SIZE];
    comm_get_devid_string(text.c_str(), text_out);
    if (!terminated(text_out))
        std::abort();

    const std::string other = in.ConsumeRandomLengthString(200);
    const int number = in.ConsumeIntegral<int>();
    const int small = in.ConsumeIntegralInRange<int>(-2, 12);
    char out[COMM_STRING_SIZE];
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        checkMade(
            comm_make_conn_string_net(out, text.c_str(), in.ConsumeIntegral<uint16_t>(), number),
            out);
        break;
    case 1:
        checkMade(comm_make_conn_string_serial_path(
                      out, text.c_str(), number, small, in.ConsumeIntegralInRange<int>(0, 3),
                      in.ConsumeIntegralInRange<int>(-1, 3), in.ConsumeIntegralInRange<int>(-1, 3)),
                  out);
        break;
    case 2:
        checkMade(comm_make_conn_string_serial(out, in.ConsumeIntegral<uint16_t>(), number, small,
                                               1, 0, 0),
                  out);
        break;
    case 3:
        checkMade(comm_make_conn_string_ftdi_serial(out, text.c_str(), number, small, 1, 0,
                                                    in.ConsumeIntegralInRange<int>(-1, 3)),
                  out);
        break;
    case 4:
        checkMade(comm_make_conn_string_bt(out, text.c_str(), other.c_str(), 0xFFE050,
                                           in.ConsumeIntegralInRange<int>(-1, 40), "5823", number),
                  out);
        break;
    default:
        checkMade(comm_make_conn_string_usb(out, text.c_str(), in.ConsumeIntegral<uint16_t>(),
                                            in.ConsumeIntegral<uint16_t>(), 0),
                  out);
        break;
    }
    return 0;
}
