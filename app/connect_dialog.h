// The device chooser: one tab per transport (USB, Bluetooth, serial port,
// network), each listing the devices found there. Select yields the
// connection string of the chosen device or of a typed network address.
#pragma once

#include "mxx_seeker.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QListWidget;
class Ui_ConnectDialog;

class ConnectDialog : public QDialog
{
    Q_OBJECT

public:
    ConnectDialog(std::shared_ptr<MXXSeeker> seeker, QWidget* parent = nullptr);
    ~ConnectDialog() override;

    // Runs the dialog modally; true when a device was selected.
    bool execute();
    // The last selected connection string; a cancelled run keeps it.
    const QString& connectionString() const { return connString; }
    // Lists USB device ids (as the seeker lists them) on the USB tab.
    void showUSBDevices(std::vector<QString> ids);

public slots:
    void updateUSBTab();
    void updateCOMTab(const QString& found_path, const QStringList& files);
    void updateBTTab(BTDeviceList dev_list, bool done);
    void updateNetTab(const QStringList& list);
    void selectionChanged();
    void connectRequest();
    void discoverRequest();
    void discoverNetRequest();
    void checkboxNetStatus(int state);
    void checkboxPort(int state);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void readSettings();
    void writeSettings();
    QListWidget* currentList() const;
    bool typedAddressChosen() const;
    void stopDiscovery();

    bool accepted = false;
    Ui_ConnectDialog* ui;
    std::shared_ptr<MXXSeeker> seeker;
    std::vector<std::vector<QString>> connStrings; // per tab, row for row
    QString connString;
};
