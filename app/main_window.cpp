#include "main_window.h"

#include "button_fit.h"
#include "distance_dialog.h"
#include "map_settings.h"
#include "settings_dialog.h"
#include "ui_main_window.h"

#include <QCloseEvent>
#include <QIcon>
#include <QSettings>

#include <cmath>

namespace detail {

const char* const buttonStyle = "padding: 15px;Text-align:left";

} // namespace detail

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    ui->menuBar->hide();

    ConnectSignals();
    RestoreState();

    const std::pair<QPushButton*, const char*> icons[] = {
        {ui->btnDevice, ":/icons/device.png"},
        {ui->btnConnect, ":/icons/connect.png"},
        {ui->btnDisconnect, ":/icons/disconnect.png"},
        {ui->btnDownload, ":/icons/download.png"},
        {ui->btnDistance, ":/icons/distance.png"},
        {ui->btnSettings, ":/icons/settings.png"},
        {ui->btnQuit, ":/icons/quit.png"},
    };
    for (const auto& [button, icon] : icons) {
        button->setIcon(QIcon(QString::fromLatin1(icon)));
        button->setStyleSheet(QString::fromLatin1(detail::buttonStyle));
    }
    // On a small screen the buttons give up height instead of pushing the
    // status label off the screen.
    fitButtons({ui->btnDevice, ui->btnConnect, ui->btnDisconnect, ui->btnDownload, ui->btnDistance,
                ui->btnSettings, ui->btnQuit});

    TOrvisk* orvisk = ui->Orvisk;
    mapFolder = MapSettings::load().folder;
    orvisk->loadMapFolder(mapFolder);
    orvisk->clearTrack();
    orvisk->createScene(trackR);
    orvisk->loadSettings();
    connect(orvisk, &TOrvisk::measurementChanged, this, &MainWindow::ShowMeasurement);
}

MainWindow::~MainWindow()
{
    delete ui;
}

TOrvisk* MainWindow::map() const
{
    return ui->Orvisk;
}

void MainWindow::ConnectSignals()
{
    connect(ui->btnDevice, &QPushButton::clicked, this, &MainWindow::OnBtnDeviceClicked);
    connect(ui->btnConnect, &QPushButton::clicked, this, &MainWindow::OnBtnConnectClicked);
    connect(ui->btnDisconnect, &QPushButton::clicked, this, &MainWindow::OnBtnDisconnectClicked);
    connect(ui->btnDownload, &QPushButton::clicked, this, &MainWindow::OnBtnDownloadClicked);
    connect(ui->btnDistance, &QPushButton::clicked, this, &MainWindow::OnBtnDistanceClicked);
    connect(ui->btnSettings, &QPushButton::clicked, this, &MainWindow::OnBtnSettingsClicked);
    connect(ui->btnQuit, &QPushButton::clicked, this, &MainWindow::OnBtnQuitClicked);
}

void MainWindow::SaveState()
{
    QSettings settings;
    settings.setValue(QStringLiteral("MainWindowGeometry"), saveGeometry());
    settings.setValue(QStringLiteral("MainWindowState"), saveState(0));
    settings.setValue(QStringLiteral("ConnectionString"), connString);
    settings.setValue(QStringLiteral("LastDays"), lastDaysValue);
    settings.setValue(QStringLiteral("trackR"), trackR);
}

void MainWindow::RestoreState()
{
    QSettings settings;
    QByteArray geometry =
        settings.value(QStringLiteral("MainWindowGeometry"), QVariant()).toByteArray();
    QByteArray state = settings.value(QStringLiteral("MainWindowState"), QVariant()).toByteArray();
    connString = settings.value(QStringLiteral("ConnectionString"), QVariant()).toString();
    lastDaysValue = settings.value(QStringLiteral("LastDays"), QVariant()).toInt();
    trackR = settings.value(QStringLiteral("trackR"), QVariant()).toInt();
    restoreGeometry(geometry);
    restoreState(state, 0);
}

// The connection workflow and the download come with their own windows;
// until then these buttons do nothing.
void MainWindow::OnBtnDeviceClicked() {}
void MainWindow::OnBtnDownloadClicked() {}
void MainWindow::OnBtnConnectClicked() {}
void MainWindow::OnBtnDisconnectClicked() {}

void MainWindow::OnBtnSettingsClicked()
{
    MapSettings stored = MapSettings::load();
    SettingsDialog dialog(mapFolder, float(trackR), stored.thresholds, stored.colors, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    trackR = int(std::lround(dialog.radius()));
    QSettings().setValue(QStringLiteral("trackR"), trackR);
    stored.thresholds = dialog.thresholdValues();
    stored.colors = dialog.chosenColors();
    if (dialog.mapSource() != mapFolder) {
        mapFolder = dialog.mapSource();
        stored.folder = mapFolder;
        ui->Orvisk->loadMapFolder(mapFolder);
    }
    stored.save();
    ui->Orvisk->createScene(trackR);
}

void MainWindow::OnBtnDistanceClicked()
{
    DistanceDialog dialog(ui->Orvisk);
    dialog.exec();
}

void MainWindow::ShowMeasurement()
{
    const std::optional<geodesic::Line> line = ui->Orvisk->measurement();
    ui->lblDistField->setText(line ? geodesic::distanceText(line->metres) : QString());
    ui->lblAzimuthField->setText(line ? geodesic::azimuthText(line->azimuth) : QString());
}

void MainWindow::OnBtnQuitClicked()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    SaveState();
    event->accept();
}
