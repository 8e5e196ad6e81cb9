// Connection strings and device ids of the instruments: the command layer's
// settings for each medium over the transport's makers and listings.
#include "mxx_comm.h"

#include <algorithm>
#include <string.h>
#include <vector>

namespace {

const uint16_t kUsbVendor = 0x1781;
const uint16_t kUsbProductFtdi = 0x0C44;
const uint16_t kUsbProductUsb = 0x0C45;
const uint16_t kUsbProductOther = 0x0C4D;
// The instruments' FTDI bridges run at 38400 8N1.
const int kFtdiBaud = 38400;

bool isBridgeId(const char* id)
{
    return strncmp(id, "USBF:", 5) == 0 || strncmp(id, "USBS:", 5) == 0;
}

} // namespace

int MXX_make_usb_conn_string(char* out, const char* usb_id, int x)
{
    uint16_t product;
    if (!usb_id)
        return -1;
    if (strncmp(usb_id, "USBF", 4) == 0 || strncmp(usb_id, "USBS", 4) == 0)
        product = kUsbProductFtdi;
    else if (strncmp(usb_id, "USBU", 4) == 0)
        product = kUsbProductUsb;
    else
        return -1;
    return comm_make_conn_string_usb(out, usb_id, kUsbVendor, product, x);
}

int MXX_make_serial_conn_string(char* out, uint16_t port)
{
    return comm_make_conn_string_serial(out, port, 115200, 8, 1, 0, 0);
}

int MXX_make_serial_path_conn_string(char* out, const char* path)
{
    return comm_make_conn_string_serial_path(out, path, 115200, 8, 1, 0, 0);
}

int MXX_make_bt_conn_string(char* out, const char* address, const char* name)
{
    return comm_make_conn_string_bt(out, address, name, 0xFFE050, 1, "5823", 0xEA60);
}

int MXX_make_net_conn_string(char* out, const char* host, uint16_t port)
{
    return comm_make_conn_string_net(out, host, port, 1000);
}

int MXX_make_ftdi_conn_string(char* out, const char* usb_id)
{
    if (!usb_id || !isBridgeId(usb_id)) {
        if (out)
            out[0] = '\0';
        return -1;
    }
    return comm_make_conn_string_ftdi_serial(out, usb_id, kFtdiBaud, 8, 1, 0, 0);
}

int MXX_get_devid_string(const char* id, char* text)
{
    return comm_get_devid_string(id, text);
}

int MXX_append_device_ids(char out[][COMM_STRING_SIZE], int max, int* count,
                          const char extra[][COMM_STRING_SIZE], int extra_count)
{
    *count = std::clamp(*count, 0, std::max(max, 0));
    // Only as many as still fit behind the entries already listed.
    int n = std::clamp(extra_count, 0, std::max(max, 0) - *count);
    if (n > 0)
        memcpy(out[*count], extra, static_cast<size_t>(n) * COMM_STRING_SIZE);
    *count += n;
    return n;
}

int MXX_list_usb_devices(char out[][COMM_STRING_SIZE], int max, int* count)
{
    *count = 0;
    int result = comm_list_devices_usb(out, max, count, "", "", kUsbVendor, kUsbVendor,
                                       kUsbProductUsb, kUsbProductOther);
    if (max <= 0) {
        *count = 0;
        return result;
    }
    std::vector<char> storage(static_cast<size_t>(max) * COMM_STRING_SIZE);
    auto ftdi = reinterpret_cast<char(*)[COMM_STRING_SIZE]>(storage.data());
    int ftdi_count = 0;
    comm_list_devices_ftdi(ftdi, max, &ftdi_count, kUsbVendor, kUsbProductFtdi);
    MXX_append_device_ids(out, max, count, ftdi, ftdi_count);
    return result;
}
