#include "connect_dialog.h"
#include "connect_dialog_p.h"

#include "message_dialogs.h"
#include "ui_connect_dialog.h"

#include <mxx_comm.h>

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QSettings>

#include <cstring>

namespace {

enum Tab { kUsbTab = 0, kBluetoothTab = 1, kComTab = 2, kNetTab = 3 };

const int kDefaultNetPort = 4444;
const char* const kBroadcastAddress = "255.255.255.255";
const int kDiscoveryPort = 4455;

// The makers write into a caller buffer; a failed one leaves it empty.
QString madeString(const char* made)
{
    return QString::fromUtf8(made, static_cast<int>(strnlen(made, COMM_STRING_SIZE)));
}

QString currentText(const QListWidget* list)
{
    const QListWidgetItem* item = list->currentItem();
    return item ? item->text() : QString();
}

} // namespace

namespace connect_dialog {
namespace detail {

void DirList::suggest(const QString& path)
{
    QStringList entries;
    // An empty path would list the working directory.
    if (!path.isEmpty() && QFileInfo(path).isDir())
        entries = QDir(path).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    emit suggestions(path, entries);
}

} // namespace detail
} // namespace connect_dialog

using connect_dialog::detail::DirList;

ConnectDialog::ConnectDialog(std::shared_ptr<MXXSeeker> seeker, QWidget* parent)
    : QDialog(parent), ui(new Ui_ConnectDialog), seeker(std::move(seeker))
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    connStrings.resize(static_cast<std::size_t>(ui->tabWidget->count()));
    updateUSBTab();
    readSettings();
    qRegisterMetaType<BTDeviceList>("BTDeviceList");

    connect(ui->closeButton, &QPushButton::clicked, this, &ConnectDialog::reject);
    connect(ui->connectButton, &QPushButton::clicked, this, &ConnectDialog::connectRequest);
    connect(ui->discoverButton, &QPushButton::clicked, this, &ConnectDialog::discoverRequest);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &ConnectDialog::selectionChanged);
    for (QListWidget* list : {ui->listUSB, ui->listBT, ui->list_com, ui->list_net})
        connect(list, &QListWidget::itemSelectionChanged, this, &ConnectDialog::selectionChanged);
    connect(ui->discoverNetButton, &QPushButton::clicked, this, &ConnectDialog::discoverNetRequest);
    // USB and Bluetooth reports come from the transport's threads.
    connect(this->seeker.get(), &MXXSeeker::deviceUSBListChanged, this,
            &ConnectDialog::updateUSBTab, Qt::QueuedConnection);
    connect(this->seeker.get(), &MXXSeeker::discoveredBTDevices, this, &ConnectDialog::updateBTTab,
            Qt::QueuedConnection);
    connect(this->seeker.get(), &MXXSeeker::discoveredNetDevices, this,
            &ConnectDialog::updateNetTab);
    connect(ui->checkbox_net, &QCheckBox::stateChanged, this, &ConnectDialog::checkboxNetStatus);
    connect(ui->checkbox_port, &QCheckBox::stateChanged, this, &ConnectDialog::checkboxPort);

    auto* dirList = new DirList(this);
    connect(ui->custom_com, &QLineEdit::textChanged, dirList, &DirList::suggest);
    connect(dirList, &DirList::suggestions, this, &ConnectDialog::updateCOMTab);
    ui->custom_com->setMaxLength(100);
    ui->custom_com->setText(QStringLiteral("/dev/"));
}

ConnectDialog::~ConnectDialog()
{
    if (isVisible()) // the seeker outlives the dialog: no discovery left running
        stopDiscovery();
    writeSettings();
    delete ui;
}

bool ConnectDialog::execute()
{
    accepted = false;
    exec();
    return accepted;
}

void ConnectDialog::updateUSBTab()
{
    std::vector<QString> ids;
    seeker->listUSBDevices(ids);
    showUSBDevices(std::move(ids));
}

void ConnectDialog::showUSBDevices(std::vector<QString> ids)
{
    const QString remembered = currentText(ui->listUSB);
    ui->listUSB->clear();
    for (QString& id : ids) {
        char buffer[COMM_STRING_SIZE] = {};
        const QByteArray utf8 = id.toUtf8();
        std::memcpy(buffer, utf8.constData(),
                    static_cast<std::size_t>(qMin(utf8.size(), COMM_STRING_SIZE - 1)));
        char text[COMM_STRING_SIZE] = {};
        MXX_get_devid_string(buffer, text);
        const QString shown = madeString(text);
        ui->listUSB->addItem(shown);
        if (shown == remembered)
            ui->listUSB->setCurrentRow(ui->listUSB->count() - 1);
        // An FTDI bridge connects as a serial line at the instrument's settings.
        char made[COMM_STRING_SIZE] = {};
        if (MXX_make_ftdi_conn_string(made, buffer) == 0)
            id = madeString(made);
    }
    connStrings[kUsbTab] = std::move(ids);
}

void ConnectDialog::updateCOMTab(const QString& found_path, const QStringList& files)
{
    if (!files.isEmpty()) {
        QString prefix;
        if (found_path.endsWith(QLatin1Char('/')))
            prefix = found_path;
        else if (!found_path.isEmpty())
            prefix = found_path + QLatin1Char('/');
        std::vector<QString>& strings = connStrings[kComTab];
        strings.clear();
        QStringList paths;
        for (const QString& file : files) {
            const QString path = prefix + file;
            char made[COMM_STRING_SIZE] = {};
            MXX_make_serial_path_conn_string(made, path.toUtf8().constData());
            strings.push_back(madeString(made));
            paths << path;
        }
        ui->list_com->clear();
        ui->list_com->addItems(paths);
    }
    int current = -1;
    for (int row = 0; row < ui->list_com->count(); ++row) {
        if (ui->list_com->item(row)->text().startsWith(found_path, Qt::CaseSensitive)) {
            current = row;
            break;
        }
    }
    ui->list_com->setCurrentRow(current);
}

void ConnectDialog::updateBTTab(BTDeviceList dev_list, bool done)
{
    const QString remembered = currentText(ui->listBT);
    ui->listBT->clear();
    std::vector<QString>& strings = connStrings[kBluetoothTab];
    strings.clear();
    for (const auto& [name, address] : dev_list) {
        ui->listBT->addItem(name.isEmpty() ? address : name);
        char made[COMM_STRING_SIZE] = {};
        MXX_make_bt_conn_string(made, address.toUtf8().constData(), name.toUtf8().constData());
        strings.push_back(madeString(made));
        if (!remembered.isEmpty() && (remembered == name || remembered == address))
            ui->listBT->setCurrentRow(ui->listBT->count() - 1);
    }
    if (done)
        ui->discoverButton->setEnabled(true);
}

void ConnectDialog::updateNetTab(const QStringList& list)
{
    const QString remembered = currentText(ui->list_net);
    ui->list_net->clear();
    std::vector<QString>& strings = connStrings[kNetTab];
    strings.clear();
    for (const QString& address : list) {
        ui->list_net->addItem(address);
        if (address == remembered)
            ui->list_net->setCurrentRow(ui->list_net->count() - 1);
        char made[COMM_STRING_SIZE] = {};
        MXX_make_net_conn_string(made, address.toUtf8().constData(), kDefaultNetPort);
        strings.push_back(madeString(made));
    }
}

void ConnectDialog::selectionChanged()
{
    const QListWidget* list = currentList();
    // A typed network address needs no row.
    ui->connectButton->setEnabled((list && list->currentItem()) || typedAddressChosen());
}

void ConnectDialog::connectRequest()
{
    if (typedAddressChosen()) {
        int port = kDefaultNetPort;
        if (!ui->checkbox_port->isChecked()) {
            bool ok = false;
            port = ui->edit_port->text().toInt(&ok, 10);
            if (!ok) {
                ui::showCriticalMessage(this, tr("Wrong port"),
                                        tr("You have entered wrong port number!"));
                return;
            }
        }
        const QByteArray host = ui->edit_net->text().trimmed().toUtf8();
        char made[COMM_STRING_SIZE] = {};
        if (host.isEmpty() ||
            MXX_make_net_conn_string(made, host.constData(), static_cast<uint16_t>(port)) != 0 ||
            !made[0]) {
            ui::showCriticalMessage(this, tr("Wrong address"),
                                    tr("You have entered wrong IP address!"));
            return;
        }
        connString = madeString(made);
    } else {
        const QListWidget* list = currentList();
        const std::vector<QString>& strings =
            connStrings[static_cast<std::size_t>(ui->tabWidget->currentIndex())];
        const int row = list ? list->currentRow() : -1;
        if (row >= 0 && static_cast<std::size_t>(row) < strings.size())
            connString = strings[static_cast<std::size_t>(row)];
    }
    accepted = true;
    writeSettings();
    close();
}

void ConnectDialog::discoverRequest()
{
    if (!ui->discoverButton->isEnabled())
        return;
    ui->discoverButton->setEnabled(false);
    seeker->discoverBT();
}

void ConnectDialog::discoverNetRequest()
{
    MXX_net_broadcast_reset_list();
    ui->list_net->clear();
    connStrings[kNetTab].clear();
    MXX_send_broadcast_net_message(kBroadcastAddress, kDiscoveryPort);
}

void ConnectDialog::checkboxNetStatus(int state)
{
    if (state == Qt::Unchecked) {
        ui->edit_net->setEnabled(false);
        ui->connectButton->setEnabled(false);
    } else if (state == Qt::Checked) {
        ui->edit_net->setEnabled(true);
        ui->connectButton->setEnabled(true);
    }
}

void ConnectDialog::checkboxPort(int state)
{
    if (state == Qt::Unchecked)
        ui->edit_port->setEnabled(true);
    else if (state == Qt::Checked)
        ui->edit_port->setEnabled(false);
}

void ConnectDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        QListWidget* list = currentList();
        if (list && list->currentRow() >= 0) {
            int row = list->currentRow() + (event->key() == Qt::Key_Up ? -1 : 1);
            if (row >= 0 && row < list->count())
                list->setCurrentRow(row);
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void ConnectDialog::showEvent(QShowEvent* event)
{
    ui->tabWidget->setTabEnabled(kBluetoothTab, seeker->isBTAvailable());
    seeker->discoverNet();
    seeker->setEnabledNetTimer(true);
    QDialog::showEvent(event);
}

void ConnectDialog::hideEvent(QHideEvent* event)
{
    stopDiscovery();
    QDialog::hideEvent(event);
}

void ConnectDialog::closeEvent(QCloseEvent* event)
{
    stopDiscovery();
    QDialog::closeEvent(event);
}

void ConnectDialog::stopDiscovery()
{
    seeker->cancelDiscoverBT();
    ui->discoverButton->setEnabled(true);
    seeker->setEnabledNetTimer(false);
    seeker->cancelDiscoverNet();
}

QListWidget* ConnectDialog::currentList() const
{
    QWidget* tab = ui->tabWidget->currentWidget();
    return tab ? tab->findChild<QListWidget*>() : nullptr;
}

bool ConnectDialog::typedAddressChosen() const
{
    return ui->tabWidget->currentIndex() == kNetTab && ui->checkbox_net->isChecked();
}

void ConnectDialog::readSettings()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("ConnectDialog"));
    ui->tabWidget->setCurrentIndex(
        settings.value(QStringLiteral("tab"), QStringLiteral("USB")).toInt());
    settings.endGroup();
}

void ConnectDialog::writeSettings()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("ConnectDialog"));
    settings.setValue(QStringLiteral("tab"), ui->tabWidget->currentIndex());
    settings.endGroup();
}

#include "moc_connect_dialog_p.cpp"
