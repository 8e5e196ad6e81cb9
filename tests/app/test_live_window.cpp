// The window connected to instruments of several families: the instrument
// named, the dose rate following it and marked when it stops, an alarm that
// holds the status line until acknowledged, and Download refused beforehand
// where there is no survey store.
#include "download_dialog.h"
#include "live_readout.h"
#include "main_window.h"
#include "message_dialogs.h"
#include "orvisk.h"
#include "sim_session.h"
#include "spectrum_window.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <memory>

namespace {

std::unique_ptr<sim::Simulator> started(const char* family, double eventsHz)
{
    sim::SimOptions o = session::loopback_options();
    o.family = family;
    o.events_hz = eventsHz;
    auto s = std::make_unique<sim::Simulator>(o);
    s->start();
    QSettings().setValue(QStringLiteral("ConnectionString"),
                         QStringLiteral("tcp:127.0.0.1:%1").arg(s->instruments()[0].port));
    return s;
}

QString text(MainWindow& w, const char* label)
{
    return w.findChild<QLabel*>(QString::fromLatin1(label))->text();
}

QPushButton* button(MainWindow& w, const char* name)
{
    return w.findChild<QPushButton*>(QString::fromLatin1(name));
}

void connectTo(MainWindow& w)
{
    button(w, "btnConnect")->click();
    QTRY_COMPARE_WITH_TIMEOUT(text(w, "lblStatus"), QStringLiteral("Connected"), 10000);
}

std::size_t requests(const sim::Simulator& s, std::uint16_t code)
{
    std::size_t n = 0;
    for (const sim::Frame& f : s.instruments()[0].instrument->received())
        n += f.code == code;
    return n;
}

// Starts the period dialog's download of every record once it shows.
void downloadAll()
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer] {
        auto* dialog = qobject_cast<DownloadDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        dialog->findChild<QRadioButton*>(QStringLiteral("radioButton"))->setChecked(true);
        dialog->findChild<QPushButton*>(QStringLiteral("btn_start"))->click();
    });
    timer->start();
}

} // namespace

class TestLiveWindow : public QObject
{
    Q_OBJECT

    QStringList messages;

private slots:
    void init()
    {
        messages.clear();
        ui::setMessageSink([this](const QString& t) { messages.append(t); });
        QSettings().clear();
    }

    // An M30's status carries 0.09 uSv/h; its dose-rate alarm turns the
    // status line red until acknowledged, and the instrument is told.
    void doseRateAndAlarmOfAnM30()
    {
        auto s = started("M30", 100);
        MainWindow w;
        w.show();
        connectTo(w);
        QTRY_COMPARE(text(w, "lblInstrument"),
                     QStringLiteral("M30 ") + QString::fromStdString(s->instruments()[0].serial));
        QVERIFY(button(w, "btnDownload")->isEnabled());
        // Around the simulator's 0.09 uSv/h, in the legend's unit.
        QTRY_VERIFY(text(w, "lblDoseRate").endsWith(QStringLiteral(" nSv/h")));
        const double shown = text(w, "lblDoseRate").section(QLatin1Char(' '), 0, 0).toDouble();
        QVERIFY2(shown > 60 && shown < 120, qPrintable(text(w, "lblDoseRate")));
        QCOMPARE(shown, std::round(*w.liveReadout()->doseRate() * 10000) / 10);

        QTRY_VERIFY_WITH_TIMEOUT(w.liveReadout()->alarmRaised(), 20000);
        auto* status = w.findChild<QLabel*>(QStringLiteral("lblStatus"));
        QCOMPARE(status->text(), QStringLiteral("Alarm: dose rate"));
        QVERIFY(status->styleSheet().contains(QStringLiteral("#d00000")));
        QVERIFY(button(w, "btnAcknowledge")->isVisible());
        button(w, "btnAcknowledge")->click();
        QCOMPARE(status->text(), QStringLiteral("Connected"));
        QVERIFY(status->styleSheet().isEmpty());
        QVERIFY(!button(w, "btnAcknowledge")->isVisible());
        QVERIFY(w.liveReadout()->alarms().front().acknowledged.isValid());
        QTRY_COMPARE(requests(*s, 8215), std::size_t(1));
        // The next alarm is raised anew; the list keeps both.
        QTRY_VERIFY_WITH_TIMEOUT(w.liveReadout()->alarmRaised(), 20000);
        QCOMPARE(w.liveReadout()->alarms().size(), std::size_t(2));
        QVERIFY(!w.liveReadout()->alarms().back().acknowledged.isValid());
        QVERIFY(messages.isEmpty());
    }

    // A download while the instrument streams its events is drawn and
    // fitted as any other; an M34 keeps surveys as an M30 does, and its
    // download is archived as an M34's.
    void downloadWhileStreaming_data()
    {
        QTest::addColumn<QString>("family");
        QTest::newRow("M30") << QStringLiteral("M30");
        QTest::newRow("M34") << QStringLiteral("M34");
    }

    void downloadWhileStreaming()
    {
        QFETCH(QString, family);
        auto s = started(family.toLatin1().constData(), 50);
        MainWindow w;
        w.resize(1020, 693);
        w.show();
        connectTo(w);
        downloadAll();
        button(w, "btnDownload")->click();
        QVERIFY(!w.survey().empty());
        QVERIFY(messages.isEmpty());
        QCOMPARE(w.surveyProvenance()->family, family);
        TOrvisk* map = w.map();
        const QRectF shown = map->mapToScene(map->viewport()->rect()).boundingRect();
        const std::optional<QRectF> walk = map->trackExtent();
        QVERIFY(walk);
        QVERIFY2(shown.contains(*walk), qPrintable(QStringLiteral("%1 %2 %3 %4 / %5 %6 %7 %8")
                                                       .arg(shown.x())
                                                       .arg(shown.y())
                                                       .arg(shown.width())
                                                       .arg(shown.height())
                                                       .arg(walk->x())
                                                       .arg(walk->y())
                                                       .arg(walk->width())
                                                       .arg(walk->height())));
    }

    // A spectrometer keeps no surveys: Download says so before any click,
    // and it reports no dose rate.
    void spectrometerWithoutSurveyStore()
    {
        auto s = started("M22", 10);
        MainWindow w;
        w.show();
        connectTo(w);
        const QString serial = QString::fromStdString(s->instruments()[0].serial);
        QTRY_COMPARE(text(w, "lblInstrument"), QStringLiteral("M22 ") + serial);
        QPushButton* download = button(w, "btnDownload");
        QVERIFY(!download->isEnabled());
        QVERIFY2(download->toolTip().contains(QStringLiteral("M22 keeps no surveys")),
                 qPrintable(download->toolTip()));
        QCOMPARE(text(w, "lblDoseRate"), QStringLiteral("not reported"));
        // Its spectra go to the spectrum window, which Ctrl+G opens.
        QTest::keyClick(&w, Qt::Key_G, Qt::ControlModifier);
        SpectrumWindow* spectrum = w.spectrumWindow();
        QTRY_VERIFY(spectrum->isVisible());
        QTRY_COMPARE(spectrum->windowTitle(), QStringLiteral("Spectrum - M22 ") + serial);
        QTRY_VERIFY(spectrum->accumulator().spectraAdded() >= 3);
        QCOMPARE(spectrum->accumulator().channels(), 1024);
        QCOMPARE(spectrum->accumulator().gaps(), uint64_t(0));
        button(w, "btnDisconnect")->click();
        QTRY_COMPARE(text(w, "lblStatus"), QStringLiteral("Disconnected"));
        QVERIFY(download->isEnabled());
        QVERIFY(text(w, "lblDoseRate").isEmpty());
        QVERIFY(!w.findChild<QLabel*>(QStringLiteral("lblInstrument"))->isVisible());
    }

    // An M24's dose rate is asked for; when its answers stop, the value
    // shown says how old it is.
    void polledDoseRateGoesStale()
    {
        auto s = started("M24", 0);
        MainWindow w;
        w.show();
        connectTo(w);
        QTRY_COMPARE(text(w, "lblDoseRate"), QStringLiteral("110.0 nSv/h"));
        s->instruments()[0].instrument->set_rule(8402, sim::Rule::silence());
        QTRY_VERIFY_WITH_TIMEOUT(text(w, "lblDoseRate").endsWith(QStringLiteral(" s old)")),
                                 LiveReadout::kStaleSeconds * 1000 + 10000);
        QVERIFY(text(w, "lblDoseRate").startsWith(QStringLiteral("110.0 nSv/h (")));
    }
};

QTEST_MAIN(TestLiveWindow)
#include "test_live_window.moc"
