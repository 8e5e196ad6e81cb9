// The only top-level window: the button column, the read-out rows, the
// connection status and the map.
#pragma once

#include <QMainWindow>
#include <QString>

class Ui_MainWindow;
class TOrvisk;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    const QString& connectionString() const { return connString; }
    int lastDays() const { return lastDaysValue; }
    int trackRadius() const { return trackR; }
    TOrvisk* map() const;

private slots:
    void OnBtnDeviceClicked();
    void OnBtnDownloadClicked();
    void OnBtnConnectClicked();
    void OnBtnDisconnectClicked();
    void OnBtnSettingsClicked();
    void OnBtnDistanceClicked();
    void OnBtnQuitClicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ConnectSignals();
    void SaveState();
    void RestoreState();
    void ShowMeasurement();

    Ui_MainWindow* ui;
    QString connString;
    int lastDaysValue = 0;
    int trackR = 0;
    int status = 0;
    QString mapFolder;
};
