#include "live_readout.h"

#include "dose_scale.h"

#include <instrument_live.h>

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <algorithm>

LiveReadout::LiveReadout(InstrumentLive* live, QLabel* doseRate, QLabel* instrument,
                         QPushButton* acknowledge, QObject* parent)
    : QObject(parent), m_live(live), m_doseLabel(doseRate), m_instrumentLabel(instrument),
      m_acknowledge(acknowledge), m_ageTimer(new QTimer(this))
{
    m_acknowledge->hide();
    m_instrumentLabel->hide();
    connect(m_acknowledge, &QPushButton::clicked, this, &LiveReadout::acknowledge);
    connect(live, &InstrumentLive::doseRate, this, &LiveReadout::takeDoseRate);
    connect(live, &InstrumentLive::alarm, this, &LiveReadout::takeAlarm);
    connect(live, &InstrumentLive::identified, this, [this] { setConnected(true); });
    // The age of the value is shown as it grows.
    m_ageTimer->setInterval(1000);
    connect(m_ageTimer, &QTimer::timeout, this, &LiveReadout::showDoseRate);
}

void LiveReadout::setConnected(bool connected)
{
    m_connected = connected;
    if (connected) {
        m_instrumentLabel->setText(instrumentName(m_live->type(), m_live->source().serial));
        m_instrumentLabel->show();
        m_ageTimer->start();
    } else {
        m_instrumentLabel->hide();
        m_ageTimer->stop();
        m_doseRate.reset();
        m_doseTime = QDateTime();
        m_intervalsMs.fill(0);
        m_lastBits = 0;
    }
    showDoseRate();
}

void LiveReadout::setPointShown(bool shown)
{
    m_pointShown = shown;
    if (!shown)
        showDoseRate();
}

bool LiveReadout::stale() const
{
    if (!m_doseRate)
        return false;
    const qint64 longest = *std::max_element(m_intervalsMs.begin(), m_intervalsMs.end());
    const qint64 limit = std::max<qint64>(kStaleSeconds * 1000, 3 * longest);
    return m_doseTime.msecsTo(QDateTime::currentDateTimeUtc()) > limit;
}

QString LiveReadout::doseRateText() const
{
    if (!m_connected)
        return QString();
    if (liveFamily(m_live->type()).dose == DoseSource::None)
        return QStringLiteral("not reported");
    if (!m_doseRate)
        return QStringLiteral("waiting...");
    // Instruments report uSv/h; the map's legend speaks nSv/h.
    QString text =
        QString::number(*m_doseRate * 1000.0, 'f', 1) + QLatin1Char(' ') + DoseScale::unit();
    if (stale())
        text +=
            QStringLiteral(" (%1 s old)").arg(m_doseTime.secsTo(QDateTime::currentDateTimeUtc()));
    return text;
}

void LiveReadout::showDoseRate()
{
    if (m_pointShown)
        return;
    m_doseLabel->setText(doseRateText());
    m_doseLabel->setStyleSheet(stale() ? QStringLiteral("color: #808080") : QString());
}

void LiveReadout::takeDoseRate(double microSievertPerHour)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (m_doseTime.isValid())
        m_intervalsMs[m_nextInterval++ % m_intervalsMs.size()] = m_doseTime.msecsTo(now);
    m_doseRate = microSievertPerHour;
    m_doseTime = now;
    showDoseRate();
}

QString LiveReadout::alarmText(int bits)
{
    QStringList kinds;
    if (bits & 1)
        kinds << QStringLiteral("dose rate");
    if (bits & 2)
        kinds << QStringLiteral("dose");
    if (bits & ~3)
        kinds << QStringLiteral("code %1").arg(bits & ~3);
    return kinds.join(QStringLiteral(", "));
}

QString LiveReadout::alarmStatus() const
{
    return m_raised ? QStringLiteral("Alarm: ") + alarmText(m_raised) : QString();
}

// An alarm is one whose bits were not set before; repeats of the same bits
// add nothing to the list.
void LiveReadout::takeAlarm(int bits)
{
    const int fresh = bits & ~m_lastBits;
    m_lastBits = bits;
    if (!fresh)
        return;
    m_alarms.push_back(Alarm{QDateTime::currentDateTimeUtc(), fresh, QDateTime()});
    m_raised |= fresh;
    m_acknowledge->show();
    emit alarmChanged();
}

void LiveReadout::acknowledge()
{
    if (!m_raised)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (Alarm& alarm : m_alarms)
        if (!alarm.acknowledged.isValid())
            alarm.acknowledged = now;
    m_live->confirmAlarms(m_raised);
    m_raised = 0;
    m_acknowledge->hide();
    emit alarmChanged();
}
