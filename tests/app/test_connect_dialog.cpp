// The connection dialog over a real seeker, with every discovery broadcast
// redirected to a simulated instrument on loopback.
#include "connect_dialog.h"
#include "message_dialogs.h"

#include <mxx_comm.h>
#include <mxx_seeker.h>

#include <sim/simulator.h>

#include <QCheckBox>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

template <class T> T* child(QObject& dialog, const char* name)
{
    T* found = dialog.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no %s", name);
    return found;
}

// Runs the dialog modally with `act` done from inside its event loop; a
// check that fails inside `act` still ends the run.
bool runWith(ConnectDialog& dialog, const std::function<void()>& act)
{
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        act();
        if (dialog.isVisible())
            dialog.reject();
    });
    return dialog.execute();
}

QString netString(const char* host, uint16_t port)
{
    char s[COMM_STRING_SIZE] = {};
    MXX_make_net_conn_string(s, host, port);
    return QString::fromUtf8(s);
}

QStringList rows(QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QString currentRowText(QListWidget* list)
{
    return list->currentItem() ? list->currentItem()->text() : QString();
}

} // namespace

class TestConnectDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void formAndStoredTab();
    void serialPortsOfADirectory();
    void typedNetworkAddress();
    void closeEscapeAndWindowCloseKeepTheString();
    void arrowKeysMoveWithinTheList();
    void networkDiscoveryFindsTheSimulator();
    void bluetoothRows();
    void usbRows();

private:
    std::unique_ptr<sim::Simulator> simulator;
    std::shared_ptr<MXXSeeker> seeker;
    QStringList messages;
};

void TestConnectDialog::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Korvenix"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvisk"));
    ui::setMessageSink([this](const QString& text) { messages << text; });

    sim::SimOptions options;
    options.listen_port = 0;
    options.discovery_port = 0;
    options.records = 1;
    options.events_hz = 0;
    simulator = std::make_unique<sim::Simulator>(options);
    simulator->start();
    // Before any dialog shows: the seeker's timer broadcasts while one does.
    QCOMPARE(comm_net_broadcast_redirect("127.0.0.1", simulator->discovery_port()), 0);
    seeker = std::make_shared<MXXSeeker>();
}

void TestConnectDialog::cleanupTestCase()
{
    seeker.reset();
    comm_net_broadcast_redirect(nullptr, 0);
    simulator.reset();
}

void TestConnectDialog::init()
{
    QSettings().clear();
    messages.clear();
}

void TestConnectDialog::formAndStoredTab()
{
    {
        ConnectDialog dialog(seeker);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Connect to device"));
        QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
        auto* tabs = child<QTabWidget>(dialog, "tabWidget");
        QCOMPARE(tabs->count(), 4);
        const char* names[] = {"usbTab", "bluetoothTab", "com_tab", "net_tab"};
        const char* titles[] = {"USB", "Bluetooth", "COM", "Net"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(tabs->widget(i)->objectName(), QLatin1String(names[i]));
            QCOMPARE(tabs->tabText(i), QLatin1String(titles[i]));
        }
        // No stored tab: USB, where nothing is attached, so Select stays off.
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(child<QListWidget>(dialog, "listUSB")->count(), 0);
        auto* select = child<QPushButton>(dialog, "connectButton");
        QCOMPARE(select->text(), QStringLiteral("Select"));
        QVERIFY(!select->isEnabled());
        QCOMPARE(child<QPushButton>(dialog, "closeButton")->text(), QStringLiteral("Close"));
        QVERIFY(!child<QLineEdit>(dialog, "edit_net")->isEnabled());
        QVERIFY(!child<QLineEdit>(dialog, "edit_port")->isEnabled());
        QCOMPARE(child<QLineEdit>(dialog, "edit_port")->text(), QStringLiteral("4444"));
        QVERIFY(child<QCheckBox>(dialog, "checkbox_port")->isChecked());
        auto* com = child<QLineEdit>(dialog, "custom_com");
        QCOMPARE(com->text(), QStringLiteral("/dev/"));
        QCOMPARE(com->maxLength(), 100);
        // "/dev/" is listed at once, by full paths, the first row current.
        auto* ports = child<QListWidget>(dialog, "list_com");
        QVERIFY(rows(ports).contains(QStringLiteral("/dev/null")));
        QCOMPARE(ports->currentRow(), 0);

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(tabs->isTabEnabled(1), seeker->isBTAvailable());
        tabs->setCurrentIndex(3);
        dialog.hide();
    }
    // The tab is stored when the dialog goes, and comes back with the next one.
    QCOMPARE(QSettings().value("ConnectDialog/tab").toInt(), 3);
    ConnectDialog dialog(seeker);
    QCOMPARE(child<QTabWidget>(dialog, "tabWidget")->currentIndex(), 3);
}

void TestConnectDialog::serialPortsOfADirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char* name : {"ttyA0", "ttyB1", ".hidden"}) {
        QFile file(dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString base = dir.path() + QLatin1Char('/');
    const QStringList all = {base + "ttyA0", base + "ttyB1", base + ".hidden", base + "sub"};

    ConnectDialog dialog(seeker);
    auto* tabs = child<QTabWidget>(dialog, "tabWidget");
    auto* edit = child<QLineEdit>(dialog, "custom_com");
    auto* ports = child<QListWidget>(dialog, "list_com");
    auto* select = child<QPushButton>(dialog, "connectButton");
    tabs->setCurrentIndex(2);

    edit->setText(base);
    QStringList listed = rows(ports);
    listed.sort();
    QStringList expected = all;
    expected.sort();
    QCOMPARE(listed, expected);
    QCOMPARE(ports->currentRow(), 0);
    QVERIFY(select->isEnabled());

    // A longer prefix keeps the list and moves to its first match.
    const QStringList before = rows(ports);
    edit->setText(base + "ttyB");
    QCOMPARE(rows(ports), before);
    QCOMPARE(currentRowText(ports), base + "ttyB1");
    // No match: no current row, no Select.
    edit->setText(base + "zz");
    QCOMPARE(rows(ports), before);
    QCOMPARE(ports->currentItem(), nullptr);
    QVERIFY(!select->isEnabled());
    // The directory without its slash lists the same full paths.
    edit->setText(dir.path());
    QCOMPARE(rows(ports).size(), 4);
    QVERIFY(rows(ports).contains(base + "sub"));
    // An empty text lists nothing new (not the working directory).
    edit->setText(QString());
    QCOMPARE(rows(ports).size(), 4);

    edit->setText(base + "ttyA");
    QVERIFY(runWith(dialog, [&] { select->click(); }));
    char expectedString[COMM_STRING_SIZE] = {};
    comm_make_conn_string_serial_path(expectedString, (base + "ttyA0").toUtf8().constData(), 115200,
                                      8, 1, 0, 0);
    QCOMPARE(dialog.connectionString(), QString::fromUtf8(expectedString));
    QCOMPARE(QSettings().value("ConnectDialog/tab").toInt(), 2);
}

void TestConnectDialog::typedNetworkAddress()
{
    ConnectDialog dialog(seeker);
    auto* tabs = child<QTabWidget>(dialog, "tabWidget");
    auto* list = child<QListWidget>(dialog, "list_net");
    auto* useAddress = child<QCheckBox>(dialog, "checkbox_net");
    auto* address = child<QLineEdit>(dialog, "edit_net");
    auto* defaultPort = child<QCheckBox>(dialog, "checkbox_port");
    auto* port = child<QLineEdit>(dialog, "edit_port");
    auto* select = child<QPushButton>(dialog, "connectButton");
    tabs->setCurrentIndex(3);
    dialog.updateNetTab({"127.0.0.5", "127.0.0.6"});
    QVERIFY(!select->isEnabled());
    useAddress->setChecked(true);
    QVERIFY(address->isEnabled());
    QVERIFY(select->isEnabled());
    // Leaving the tab and coming back keeps a typed address selectable.
    tabs->setCurrentIndex(0);
    QVERIFY(!select->isEnabled());
    tabs->setCurrentIndex(3);
    QVERIFY(select->isEnabled());
    list->setCurrentRow(1);

    bool accepted = runWith(dialog, [&] {
        address->setText(QStringLiteral("127.0.0.1"));
        defaultPort->setChecked(false);
        QVERIFY(port->isEnabled());
        // Not a number: a message, and the dialog stays open.
        port->setText(QStringLiteral("44x"));
        select->click();
        QCOMPARE(messages, QStringList{"You have entered wrong port number!"});
        QVERIFY(dialog.isVisible());
        // Only the low 16 bits of the port count.
        port->setText(QStringLiteral("70001"));
        select->click();
    });
    QVERIFY(accepted);
    // The typed address wins over the current row.
    QCOMPARE(dialog.connectionString(), netString("127.0.0.1", 4465));
    QCOMPARE(dialog.connectionString(), QStringLiteral("tcp:127.0.0.1:4465:1000"));

    accepted = runWith(dialog, [&] {
        messages.clear();
        address->setText(QStringLiteral("  "));
        select->click();
        QCOMPARE(messages, QStringList{"You have entered wrong IP address!"});
        QVERIFY(dialog.isVisible());
        // Unticked, Select is off even with a current row, until the row changes.
        QVERIFY(list->currentItem());
        useAddress->setChecked(false);
        QVERIFY(!select->isEnabled());
        QVERIFY(!address->isEnabled());
        list->setCurrentRow(0);
        QVERIFY(select->isEnabled());
        select->click();
    });
    QVERIFY(accepted);
    QCOMPARE(dialog.connectionString(), netString("127.0.0.5", 4444));
}

void TestConnectDialog::closeEscapeAndWindowCloseKeepTheString()
{
    ConnectDialog dialog(seeker);
    auto* tabs = child<QTabWidget>(dialog, "tabWidget");
    tabs->setCurrentIndex(3);
    dialog.updateNetTab({"127.0.0.5"});
    child<QListWidget>(dialog, "list_net")->setCurrentRow(0);
    QVERIFY(runWith(dialog, [&] { child<QPushButton>(dialog, "connectButton")->click(); }));
    const QString chosen = dialog.connectionString();
    QCOMPARE(chosen, netString("127.0.0.5", 4444));

    const std::function<void()> ways[] = {
        [&] { child<QPushButton>(dialog, "closeButton")->click(); },
        [&] { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [&] { dialog.close(); },
    };
    for (const auto& way : ways) {
        QVERIFY(!runWith(dialog, way));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.connectionString(), chosen);
    }
}

void TestConnectDialog::arrowKeysMoveWithinTheList()
{
    ConnectDialog dialog(seeker);
    child<QTabWidget>(dialog, "tabWidget")->setCurrentIndex(3);
    auto* list = child<QListWidget>(dialog, "list_net");
    dialog.updateNetTab({"127.0.0.5", "127.0.0.6", "127.0.0.7"});
    auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog, &event);
        return list->currentRow();
    };
    QCOMPARE(press(Qt::Key_Down), -1); // no current row: nothing moves
    list->setCurrentRow(0);
    QCOMPARE(press(Qt::Key_Up), 0);
    QCOMPARE(press(Qt::Key_Down), 1);
    QCOMPARE(press(Qt::Key_Down), 2);
    QCOMPARE(press(Qt::Key_Down), 2);
    // A refresh keeps the current address current.
    dialog.updateNetTab({"127.0.0.7", "127.0.0.5"});
    QCOMPARE(currentRowText(list), QStringLiteral("127.0.0.7"));
}

void TestConnectDialog::networkDiscoveryFindsTheSimulator()
{
    ConnectDialog dialog(seeker);
    child<QTabWidget>(dialog, "tabWidget")->setCurrentIndex(3);
    auto* list = child<QListWidget>(dialog, "list_net");
    dialog.updateNetTab({"127.0.0.77"}); // from an earlier search
    const bool accepted = runWith(dialog, [&] {
        child<QPushButton>(dialog, "discoverNetButton")->click();
        QVERIFY(!rows(list).contains("127.0.0.77"));
        // The answer reaches the list through the seeker's next tick.
        QTRY_COMPARE(rows(list), QStringList{"127.0.0.1"});
        list->setCurrentRow(0);
        child<QPushButton>(dialog, "connectButton")->click();
    });
    QVERIFY(accepted);
    QCOMPARE(dialog.connectionString(), QStringLiteral("tcp:127.0.0.1:4444:1000"));
}

void TestConnectDialog::bluetoothRows()
{
    ConnectDialog dialog(seeker);
    auto* tabs = child<QTabWidget>(dialog, "tabWidget");
    auto* list = child<QListWidget>(dialog, "listBT");
    auto* discover = child<QPushButton>(dialog, "discoverButton");
    tabs->setCurrentIndex(1);

    if (!seeker->isBTAvailable()) {
        // A search that cannot start still gives the button back.
        dialog.discoverRequest();
        QVERIFY(!discover->isEnabled());
        QTRY_VERIFY(discover->isEnabled());
    }

    const BTDeviceList found = {{"Field M30", "00:11:22:33:44:55"}, {"", "66:77:88:99:AA:BB"}};
    dialog.updateBTTab(found, false);
    QCOMPARE(rows(list), (QStringList{"Field M30", "66:77:88:99:AA:BB"}));
    list->setCurrentRow(1);
    // Later results keep the chosen device current.
    dialog.updateBTTab({found[1], found[0]}, true);
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(discover->isEnabled());

    dialog.connectRequest();
    char expected[COMM_STRING_SIZE] = {};
    MXX_make_bt_conn_string(expected, "66:77:88:99:AA:BB", "");
    QCOMPARE(dialog.connectionString(), QString::fromUtf8(expected));
}

void TestConnectDialog::usbRows()
{
    ConnectDialog dialog(seeker);
    child<QTabWidget>(dialog, "tabWidget")->setCurrentIndex(0);
    auto* list = child<QListWidget>(dialog, "listUSB");
    auto* select = child<QPushButton>(dialog, "connectButton");
    dialog.showUSBDevices(
        {"USBU:1781:0C45:3-1.2:C1234", "USBF:1781:0C44:1-4:FT1", "USBS:1781:0C44:2-1"});
    QCOMPARE(rows(list),
             (QStringList{"USB instrument 3-1.2 (serial C1234)",
                          "USB serial bridge 1-4 (serial FT1)", "USB serial bridge 2-1"}));
    // An instrument is reached by its id, a bridge as a serial line at 38400 8N1.
    const QString expected[] = {"USBU:1781:0C45:3-1.2:C1234", "ftdi:1-4:38400:8N1",
                                "ftdi:2-1:38400:8N1"};
    for (int row = 0; row < 3; ++row) {
        list->setCurrentRow(row);
        QVERIFY(runWith(dialog, [&] { select->click(); }));
        QCOMPARE(dialog.connectionString(), expected[row]);
    }
    // A new listing keeps the chosen device current.
    dialog.showUSBDevices({"USBS:1781:0C44:2-1", "USBU:1781:0C45:3-1.2:C1234"});
    QCOMPARE(list->currentRow(), 0);
}

QTEST_MAIN(TestConnectDialog)
#include "test_connect_dialog.moc"
