// What the window's left column shows of a connected instrument: its family
// and serial, its dose rate in the "Dose rate:" row (marked when it stops
// coming), and its alarms, which hold the status line until the surveyor
// acknowledges them and are kept in a list with their times.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <optional>
#include <vector>

class InstrumentLive;
class QLabel;
class QPushButton;
class QTimer;

class LiveReadout : public QObject
{
    Q_OBJECT

public:
    // A value older than this, or than three of its recent intervals, is stale.
    static constexpr int kStaleSeconds = 10;

    struct Alarm
    {
        QDateTime at; // UTC
        int bits = 0;
        QDateTime acknowledged; // invalid while not
    };

    // The labels stay the window's; this only writes them.
    LiveReadout(InstrumentLive* live, QLabel* doseRate, QLabel* instrument,
                QPushButton* acknowledge, QObject* parent = nullptr);

    // Connected (the family is known) or not.
    void setConnected(bool connected);
    // While a map point is shown in the row, the live value waits.
    void setPointShown(bool shown);

    std::optional<double> doseRate() const { return m_doseRate; } // uSv/h
    bool stale() const;
    QString doseRateText() const;

    bool alarmRaised() const { return m_raised != 0; }
    // "Alarm: dose rate" while an alarm waits for acknowledgement.
    QString alarmStatus() const;
    const std::vector<Alarm>& alarms() const { return m_alarms; }
    void acknowledge();
    static QString alarmText(int bits);

signals:
    // The status line needs writing again: an alarm came or was acknowledged.
    void alarmChanged();

private:
    void takeDoseRate(double microSievertPerHour);
    void takeAlarm(int bits);
    void showDoseRate();

    InstrumentLive* m_live;
    QLabel* m_doseLabel;
    QLabel* m_instrumentLabel;
    QPushButton* m_acknowledge;
    QTimer* m_ageTimer;
    bool m_connected = false;
    bool m_pointShown = false;
    std::optional<double> m_doseRate;
    QDateTime m_doseTime;
    // The last intervals between values: an instrument that sends its value
    // in two events of unlike periods is judged by the longer.
    std::array<qint64, 8> m_intervalsMs{};
    std::size_t m_nextInterval = 0;
    int m_raised = 0;   // the alarm bits waiting for acknowledgement
    int m_lastBits = 0; // as the instrument last sent them
    std::vector<Alarm> m_alarms;
};
