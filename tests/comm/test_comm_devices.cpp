// USB, FTDI and Bluetooth without hardware: listings that stay within their
// room, clean failures, and the sysfs look-up of FTDI bridges on a made-up tree.
#include "comm_internal.h"
#include "comm_test_util.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

void put(const QString& file, const char* text)
{
    QDir().mkpath(QFileInfo(file).path());
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

int discover_calls = 0;
void discover_cb(comm_bt_inquiry_result_t*, int, int, void*)
{
    ++discover_calls;
}

} // namespace

class TestCommDevices : public QObject
{
    Q_OBJECT

private slots:
    void init() { QCOMPARE(comm_init(), 0); }
    void cleanup() { QCOMPARE(comm_shut(), 0); }

    void listingsStayInRoom()
    {
        static_assert(sizeof(comm_bt_inquiry_result_t) == 92, "inquiry record layout");
        char ids[4][COMM_STRING_SIZE];
        int count = -1;
        QCOMPARE(comm_list_devices_usb(ids, 4, &count, "", "", 0x1781, 0x1781, 0x0C45, 0x0C4D), 0);
        QVERIFY(count >= 0 && count <= 4);
        for (int i = 0; i < count; ++i)
            QVERIFY(std::strncmp(ids[i], "USBU", 4) == 0 || std::strncmp(ids[i], "USBF", 4) == 0);
        QCOMPARE(comm_list_devices_usb(ids, 0, &count, "", "", 0, 0, 0, 0), 0);
        QCOMPARE(count, 0);
        QCOMPARE(comm_list_devices_ftdi(ids, 4, &count, 0x1781, 0x0C44), 0);
        QVERIFY(count >= 0 && count <= 4);
        QCOMPARE(comm_list_devices_usb(nullptr, 4, &count, "", "", 0, 0, 0, 0), int(COMM_ERR_ARG));
        QCOMPARE(comm_usb_register([](void*) {}, nullptr), 0);
        QCOMPARE(comm_usb_deregister(), 0);
    }

    void absentDevicesFailCleanly()
    {
        // No such USB device, FTDI bridge or Bluetooth peer here: kind 2 then 3.
        int available = comm_bt_is_available();
        QVERIFY(available == 0 || available == 1);
        const char* strings[] = {"USBU:1781:0C45:99-9", "USBF:1781:0C44:99-9",
                                 "ftdi:NOSUCHSERIAL:38400:8N1", "bt:00:11:22:33:44:55:1::300"};
        for (const char* s : strings) {
            if (available && s[0] == 'b')
                continue; // would page a real adapter's neighbourhood
            Recorder rec;
            int id = -1;
            QCOMPARE(rec.connect(&id, s, 200), 0);
            QVERIFY2(rec.wait_kind(COMM_EV_CLOSED, 10000), s);
            QCOMPARE(rec.kinds(), (std::vector<int>{COMM_EV_ERROR, COMM_EV_CLOSED}));
        }
        if (!available) {
            QCOMPARE(comm_bt_discover(discover_cb, 0xFFE050, nullptr), int(COMM_ERR_FAILED));
            QCOMPARE(comm_bt_discover_wait(10, 1), 0); // nothing running
            QCOMPARE(comm_bt_discover_cancel(), 0);
            QCOMPARE(discover_calls, 0);
        }
    }

    void ftdiFoundInSysfs()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString root = dir.path();
        put(root + "/3-1.2/idVendor", "1781\n");
        put(root + "/3-1.2/idProduct", "0c44\n");
        put(root + "/3-1.2/serial", "FT4XYZ\n");
        put(root + "/3-1.2/3-1.2:1.0/ttyUSB3/dev", "188:3\n");
        put(root + "/1-4/idVendor", "1781\n");
        put(root + "/1-4/idProduct", "0c44\n");
        put(root + "/1-4/1-4:1.0/tty/ttyUSB0/dev", "188:0\n"); // the other sysfs layout
        put(root + "/2-1/idVendor", "0403\n");                 // someone else's bridge
        put(root + "/2-1/idProduct", "6001\n");
        put(root + "/2-1/2-1:1.0/ttyUSB1/dev", "188:1\n");
        put(root + "/usb1/idVendor", "1d6b\n");
        std::string r = root.toStdString();
        auto found = comm::ftdi_scan(r, 0x1781, 0x0C44);
        QCOMPARE(found.size(), std::size_t(2));
        QCOMPARE(found[0].location, std::string("1-4"));
        QCOMPARE(found[0].tty, std::string("/dev/ttyUSB0"));
        QCOMPARE(found[0].serial, std::string());
        QCOMPARE(found[1].location, std::string("3-1.2"));
        QCOMPARE(found[1].serial, std::string("FT4XYZ"));
        QCOMPARE(comm::ftdi_find_tty(r, "FT4XYZ"), std::string("/dev/ttyUSB3"));
        QCOMPARE(comm::ftdi_find_tty(r, "3-1.2"), std::string("/dev/ttyUSB3"));
        QCOMPARE(comm::ftdi_find_tty(r, "2-1"), std::string());
        QCOMPARE(comm::ftdi_find_tty(r, ""), std::string());
    }
};

QTEST_GUILESS_MAIN(TestCommDevices)
#include "test_comm_devices.moc"
