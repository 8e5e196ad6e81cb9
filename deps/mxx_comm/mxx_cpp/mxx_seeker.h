// MXXSeeker: the application's one entry to device discovery. It starts the
// command layer and shuts it down again, lists USB instruments and reports
// hot-plug, runs Bluetooth inquiries and finds network instruments by a
// periodic discovery broadcast.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

class QTimer;

// One pair per Bluetooth device found: its name, then its address.
using BTDeviceList = std::vector<std::pair<QString, QString>>;

class MXXSeeker : public QObject
{
    Q_OBJECT

public:
    // Starts the command layer; throws std::runtime_error
    // "MXX initialization failed!" when it cannot. Only one may exist at a
    // time, since the destructor shuts the command layer down again.
    MXXSeeker();
    ~MXXSeeker() override;
    MXXSeeker(const MXXSeeker&) = delete;
    MXXSeeker& operator=(const MXXSeeker&) = delete;

    // The ids of the attached instruments, which serve as connection strings;
    // empty when the listing fails.
    void listUSBDevices(std::vector<QString>& devices) const;
    bool isBTAvailable() const;

    // For the transport's callbacks, which run on its own threads.
    void emitDiscoveredBTDevices(const BTDeviceList& devices, bool done);
    void emitDeviceUSBListChanged();

public slots:
    void discoverBT();
    void cancelDiscoverBT();
    void discoverNet();
    void cancelDiscoverNet();
    void settingsChanged(QStringList what);
    void setEnabledNetTimer(bool status);

signals:
    void discoveredBTDevices(BTDeviceList devices, bool done);
    void discoveredNetDevices(QStringList devices);
    void deviceUSBListChanged();

private slots:
    void updateNetList();

private:
    QTimer* timer;
    int tick = 0;
};
