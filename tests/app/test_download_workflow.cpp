// The window's connection workflow and survey download against orvisk-sim.
#include "download_dialog.h"
#include "main_window.h"
#include "message_dialogs.h"
#include "orvisk.h"
#include "sim_session.h"
#include "survey_archive.h"
#include "survey_download.h"
#include "surveys_dialog.h"
#include "track_item.h"

#include <mxx_device.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

const char* const kMapFolder = "./maps/Korvenix/";

sim::SimOptions options(std::size_t records)
{
    sim::SimOptions o = session::loopback_options();
    o.records = records;
    o.epoch = 0; // records end shortly before now, as on a real instrument
    return o;
}

QString tcpString(const sim::Simulator& s)
{
    return QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port);
}

QString statusText(MainWindow& w)
{
    return w.findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
}

void click(MainWindow& w, const char* button)
{
    w.findChild<QPushButton*>(QString::fromLatin1(button))->click();
}

// Answers the period dialog once it is shown: `choose` sets it up, then
// Start is pressed (or Cancel, when `choose` returns false).
void answerPeriodDialog(std::function<bool(DownloadDialog*)> choose)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, choose] {
        auto* dialog = qobject_cast<DownloadDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        const bool start = choose(dialog);
        dialog->findChild<QPushButton*>(start ? "btn_start" : "btn_cancel")->click();
    });
    timer->start();
}

bool chooseAll(DownloadDialog* d)
{
    d->findChild<QRadioButton*>("radioButton")->setChecked(true);
    return true;
}

// The track the window must draw: the records newest first, as long as they
// are not older than `oldest`, through the map's own conversion.
QVector<QPointF> expectedTrack(const std::vector<sim::SurveyRecord>& records, uint32_t oldest = 0)
{
    TOrvisk scratch;
    scratch.loadMapFolder(QString::fromLatin1(kMapFolder));
    for (auto r = records.rbegin(); r != records.rend() && r->time >= oldest; ++r) {
        const sim::Bytes bytes = sim::SurveyStore::encode(*r);
        const SurveyRecord decoded = *decodeSurveyRecord(
            reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), r->index);
        for (const SurveyPoint& p : decoded.points)
            scratch.addTrackPoint(p.latitude, p.longitude);
    }
    return scratch.getTrack();
}

// How far the middle of the view lies from the middle of the drawn walk, in
// pixels of the view.
QPointF middleOff(MainWindow& w)
{
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (const QPointF& p : w.map()->getTrack()) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    return (w.map()->mapToScene(w.map()->viewport()->rect().center()) -
            QPointF(left + right, top + bottom) / 2) *
           w.map()->getScaleFactor();
}

// Records the values of the progress dialog the download shows.
class ProgressWatch : public QObject
{
public:
    ProgressWatch() { qApp->installEventFilter(this); }
    ~ProgressWatch() override { qApp->removeEventFilter(this); }
    QList<int> values;

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show)
            if (auto* dialog = qobject_cast<QProgressDialog*>(o))
                connect(dialog->findChild<QProgressBar*>(), &QProgressBar::valueChanged, this,
                        [this](int v) { values.append(v); });
        return false;
    }
};

} // namespace

class TestDownloadWorkflow : public QObject
{
    Q_OBJECT

    QStringList messages;

    void connectTo(MainWindow& w)
    {
        click(w, "btnConnect");
        QTRY_COMPARE_WITH_TIMEOUT(statusText(w), QStringLiteral("Connected"), 10000);
    }

private slots:
    void init()
    {
        messages.clear();
        ui::setMessageSink([this](const QString& text) { messages.append(text); });
        QSettings().clear();
    }
    void cleanup() { ui::setMessageSink({}); }

    void statusFollowsTheDevice()
    {
        sim::Simulator s(options(3));
        s.start();
        MainWindow w;
        QCOMPARE(statusText(w), QStringLiteral("Disconnected"));
        // No string yet: refused at once.
        click(w, "btnConnect");
        QCOMPARE(messages, QStringList{"Device connection create error!"});
        QCOMPARE(statusText(w), QStringLiteral("Connection error!"));

        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow again;
        // Twice over, so that the protocols are registered on each connection.
        for (int round = 0; round < 2; ++round) {
            click(again, "btnConnect");
            QCOMPARE(statusText(again), QStringLiteral("Connecting..."));
            QTRY_COMPARE_WITH_TIMEOUT(statusText(again), QStringLiteral("Connected"), 10000);
            answerPeriodDialog(chooseAll);
            click(again, "btnDownload");
            QCOMPARE(again.map()->getTrackLen(),
                     expectedTrack(s.instruments()[0].store->records()).size());
            click(again, "btnDisconnect");
            QTRY_COMPARE(statusText(again), QStringLiteral("Disconnected"));
        }
        QCOMPARE(messages.size(), 1);
    }

    void downloadsTheChosenPeriodNewestFirst()
    {
        sim::Simulator s(options(60));
        s.start();
        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow w;
        connectTo(w);
        const auto& records = s.instruments()[0].store->records();

        answerPeriodDialog(chooseAll);
        click(w, "btnDownload");
        QCOMPARE(w.map()->getTrack(), expectedTrack(records));
        QVERIFY(w.map()->getTrackLen() > 0);
        QVERIFY(messages.isEmpty());
        // Each point keeps its values on the track, and is coloured by its dose rate.
        const QVector<SurveyPoint>& values = w.map()->getTrackValues();
        QCOMPARE(std::size_t(values.size()), w.survey().size());
        QSet<QRgb> colours;
        for (int i = 0; i < values.size(); ++i) {
            const SurveyPoint& p = w.survey()[std::size_t(i)];
            QCOMPARE(values[i].time, p.time);
            QCOMPARE(values[i].doseRate, p.doseRate);
            QCOMPARE(values[i].altitude, p.altitude);
            QCOMPARE(values[i].cps, p.cps);
            colours.insert(w.map()->trackItem()->colourAt(i).rgb());
        }
        QVERIFY(!colours.contains(qRgb(255, 0, 0)));
        QVERIFY(colours.size() >= 2);
        // The view shows the walk in its middle, to a pixel or two of the
        // view: its middle falls between pixels.
        const QPointF middle = middleOff(w);
        QVERIFY2(std::abs(middle.x()) <= 2 && std::abs(middle.y()) <= 2,
                 qPrintable(QStringLiteral("%1 %2").arg(middle.x()).arg(middle.y())));

        // The last hour: only the newest records, and the download stops at the first older one.
        answerPeriodDialog([](DownloadDialog* d) {
            d->findChild<QRadioButton*>("radioButton_hours")->setChecked(true);
            d->findChild<QLineEdit*>("edit_hours")->setText("1");
            return true;
        });
        const uint32_t hourAgo = uint32_t(QDateTime::currentSecsSinceEpoch() - 3600);
        const std::size_t prepares = s.instruments()[0].instrument->count(8411);
        click(w, "btnDownload");
        const QVector<QPointF> lastHour = expectedTrack(records, hourAgo);
        QCOMPARE(w.map()->getTrack(), lastHour);
        QVERIFY(lastHour.size() < expectedTrack(records).size());
        int inHour = 0;
        for (const auto& r : records)
            inHour += r.time >= hourAgo;
        // The list, the records of the hour and the first one older.
        QCOMPARE(s.instruments()[0].instrument->count(8411) - prepares, std::size_t(inHour + 2));
        QCOMPARE(QSettings().value("LastPeriod").toString(), QStringLiteral("hours"));

        // Cancel sends nothing and keeps the track.
        const std::size_t infos = s.instruments()[0].instrument->count(8410);
        answerPeriodDialog([](DownloadDialog*) { return false; });
        click(w, "btnDownload");
        QCOMPARE(s.instruments()[0].instrument->count(8410), infos);
        QCOMPARE(w.map()->getTrack(), lastHour);
    }

    void progressStepsForFourRecords()
    {
        sim::Simulator s(options(4));
        s.start();
        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow w;
        connectTo(w);
        ProgressWatch watch;
        answerPeriodDialog(chooseAll);
        click(w, "btnDownload");
        QCOMPARE(watch.values, (QList<int>{10, 32, 55, 77, 100}));
    }

    void errorsLeaveTheTrackAlone()
    {
        {
            MainWindow w;
            answerPeriodDialog(chooseAll);
            click(w, "btnDownload");
            QCOMPARE(messages, QStringList{"Device not connected!"});
        }
        messages.clear();
        {
            sim::SimOptions o = options(3);
            o.family = "M17";
            sim::Simulator s(o);
            s.start();
            QSettings().setValue("ConnectionString", tcpString(s));
            MainWindow w;
            connectTo(w);
            QCOMPARE(w.device()->type(), 3);
            // A family without a survey store is told before any click.
            auto* download = w.findChild<QPushButton*>(QStringLiteral("btnDownload"));
            QVERIFY(!download->isEnabled());
            QVERIFY2(download->toolTip().startsWith("The M17 keeps no surveys"),
                     qPrintable(download->toolTip()));
            QCOMPARE(statusText(w), QStringLiteral("Connected"));
            QVERIFY(messages.isEmpty());
            w.device()->disconnect();
            QTRY_COMPARE(statusText(w), QStringLiteral("Disconnected"));
            QVERIFY(download->isEnabled());
        }
        messages.clear();
        {
            sim::Simulator s(options(3));
            s.start();
            QSettings().setValue("ConnectionString", tcpString(s));
            MainWindow w;
            connectTo(w);
            answerPeriodDialog(chooseAll);
            click(w, "btnDownload");
            const QVector<QPointF> before = w.map()->getTrack();
            QVERIFY(!before.isEmpty());
            s.instruments()[0].instrument->set_rule(8411, sim::Rule::fail(3));
            answerPeriodDialog(chooseAll);
            click(w, "btnDownload");
            QCOMPARE(messages, QStringList{"Download survey indices failed!"});
            QCOMPARE(w.map()->getTrack(), before);
        }
    }

    // Every download goes to the archive; Surveys... opens it again as it
    // was drawn and deletes it after asking; Open file... draws an export.
    void downloadsKeptAndReopened()
    {
        QTemporaryDir dir;
        qputenv("ORVISK_ARCHIVE", dir.filePath("archive.gpkg").toUtf8());
        sim::Simulator s(options(8));
        s.start();
        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        connectTo(w);
        answerPeriodDialog(chooseAll);
        click(w, "btnDownload");
        const std::vector<SurveyPoint> drawn = w.survey();
        QVERIFY2(!drawn.empty(), qPrintable(messages.join(";")));
        QVERIFY(w.surveyArchive());
        QCOMPARE(int(w.surveyArchive()->downloads().size()), 1);
        auto sameSurvey = [&](const std::vector<SurveyPoint>& shown) {
            if (shown.size() != drawn.size() || w.map()->getTrackLen() != int(drawn.size()))
                return false;
            for (std::size_t i = 0; i < drawn.size(); ++i) {
                const SurveyPoint &a = shown[i], &b = drawn[i];
                if (a.latitude != b.latitude || a.longitude != b.longitude || a.time != b.time ||
                    a.cps != b.cps || a.hasDoseRate() != b.hasDoseRate() ||
                    (a.hasDoseRate() && a.doseRate != b.doseRate))
                    return false;
            }
            return true;
        };

        // In the dialog: one row, opened onto a cleared map.
        w.map()->clearTrack();
        int rows = -1;
        auto answer = [&rows](const char* button) {
            QTimer::singleShot(50, [&rows, button] {
                auto* dialog = qobject_cast<SurveysDialog*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                rows = dialog->rowCount();
                dialog->findChild<QPushButton*>(button)->click();
                if (auto* still = qobject_cast<SurveysDialog*>(QApplication::activeModalWidget()))
                    still->reject();
            });
        };
        answer("btnOpen");
        click(w, "btnSurveys");
        QCOMPARE(rows, 1);
        QVERIFY(sameSurvey(w.survey()));

        // Its export opened as a file gives the same points.
        const QString gpkg = dir.filePath("walk.gpkg");
        ui::setSaveFileChooser([&](const QString&, const QString&) { return gpkg; });
        ui::setOpenFileChooser([&](const QString&, const QString&) { return gpkg; });
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
        w.map()->clearTrack();
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QVERIFY(sameSurvey(w.survey()));

        // Looked elsewhere, Fit survey brings the whole walk back into view.
        auto farthestOff = [&] {
            const QPointF off = middleOff(w);
            return std::max(std::abs(off.x()), std::abs(off.y()));
        };
        w.map()->centerOn(0, 0);
        QVERIFY(farthestOff() > 10);
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QVERIFY2(farthestOff() <= 2, qPrintable(QString::number(farthestOff())));
        ui::setSaveFileChooser({});
        ui::setOpenFileChooser({});

        // Deleting asks first; No keeps it.
        bool answerYes = false;
        int asked = 0;
        ui::setConfirmer([&](const QString&) {
            ++asked;
            return answerYes;
        });
        answer("btnDelete");
        click(w, "btnSurveys");
        QCOMPARE(asked, 1);
        QCOMPARE(int(w.surveyArchive()->downloads().size()), 1);
        answerYes = true;
        answer("btnDelete");
        click(w, "btnSurveys");
        QCOMPARE(asked, 2);
        QCOMPARE(int(w.surveyArchive()->downloads().size()), 0);
        ui::setConfirmer({});
        qunsetenv("ORVISK_ARCHIVE");
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(";")));
    }

    void exportsTheDownloadedSurvey()
    {
        sim::Simulator s(options(5));
        s.start();
        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTemporaryDir dir;
        const QString path = dir.filePath("walk.csv");
        ui::setSaveFileChooser([&](const QString&, const QString& filter) {
            return filter.contains(QLatin1String("*.csv")) ? path : QString();
        });
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(messages, QStringList{"Nothing to export: download a survey first."});
        QVERIFY(!QFile::exists(path));

        connectTo(w);
        answerPeriodDialog(chooseAll);
        click(w, "btnDownload");
        QVERIFY2(!w.survey().empty(), qPrintable(messages.join(";")));
        QCOMPARE(int(w.survey().size()), w.map()->getTrackLen());
        w.activateWindow(); // the download's dialogs took the focus
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
        QFile csv(path);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count('\n'), int(w.survey().size()) + 1);
        // The map's context menu offers the same.
        QStringList menu;
        for (const QAction* action : w.map()->actions())
            menu << action->text();
        QCOMPARE(menu, QStringList({"Fit survey", "Review panel", "Dose-rate chart", "Surveys...",
                                    "Open file...", "Export survey...", "Interpolate...",
                                    "Report...", "Interpolated raster", "Spectrum", "Alarms..."}));
        ui::setSaveFileChooser({});
    }

    void aLossyInstrumentDrawsWhatArrivedAndSaysWhatDidNot()
    {
        sim::SimOptions o = options(10);
        o.faults.drop = 0.05;
        o.faults.corrupt = 0.05;
        o.seed = 3;
        sim::Simulator s(o);
        s.start();
        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow w;
        connectTo(w);
        answerPeriodDialog(chooseAll);
        click(w, "btnDownload");
        // The track is whole records, newest first; those skipped are the ones reported.
        const auto& records = s.instruments()[0].store->records();
        const QVector<QPointF> track = w.map()->getTrack();
        int at = 0, skipped = 0;
        for (auto r = records.rbegin(); r != records.rend(); ++r) {
            const QVector<QPointF> one = expectedTrack({*r});
            if (track.mid(at, one.size()) == one && !one.isEmpty())
                at += one.size();
            else
                ++skipped;
        }
        QCOMPARE(at, track.size());
        if (skipped == 0)
            QVERIFY(messages.isEmpty());
        else
            QCOMPARE(messages,
                     QStringList{
                         QStringLiteral("%1 of 10 records could not be downloaded.").arg(skipped)});
    }

    // An instrument that falls silent after Connect never stalls the window:
    // its events go on, and Cancel ends the download within the one exchange
    // under way, with nothing reported as failed and the track as it was.
    void aSilentInstrumentLeavesTheWindowFree()
    {
        sim::Simulator s(options(5));
        s.start();
        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow w;
        connectTo(w);
        sim::Instrument& instrument = *s.instruments()[0].instrument;
        instrument.set_rule(8410, sim::Rule::silence());
        instrument.clear_log();
        QTimer cancel;
        cancel.setSingleShot(true);
        connect(&cancel, &QTimer::timeout, [] {
            if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
                progress->findChild<QPushButton*>()->click();
        });
        // The timer fires only if the window's events run while the list is awaited.
        answerPeriodDialog([&](DownloadDialog* d) {
            cancel.start(300);
            return chooseAll(d);
        });
        click(w, "btnDownload");
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(";")));
        QCOMPARE(instrument.count(8410), std::size_t(1));
        QCOMPARE(w.map()->getTrackLen(), 0);
    }

    // Closing the window during a download ends it after the exchange under
    // way: the click returns, what arrived is drawn, and the rest never asked
    // for. Closing the last window quits the application, which ends every
    // event loop: this test comes last.
    void closingEndsADownload()
    {
        sim::SimOptions o = options(200);
        o.faults.latency = std::chrono::milliseconds(5);
        sim::Simulator s(o);
        s.start();
        QSettings().setValue("ConnectionString", tcpString(s));
        MainWindow w;
        w.show();
        connectTo(w);
        sim::Instrument& instrument = *s.instruments()[0].instrument;
        answerPeriodDialog(chooseAll);
        QTimer::singleShot(0, [&] {
            // Once the first records are drawn.
            auto* poll = new QTimer(&w);
            connect(poll, &QTimer::timeout, [&, poll] {
                if (w.survey().empty())
                    return;
                poll->stop();
                w.close();
            });
            poll->start(5);
        });
        click(w, "btnDownload");
        QVERIFY(!w.isVisible());
        QVERIFY(!w.survey().empty());
        const std::size_t asked = instrument.count(8411);
        QVERIFY2(asked < 100, qPrintable(QString::number(asked)));
        QTest::qWait(100);
        QCOMPARE(instrument.count(8411), asked); // nothing after the download ended
        QVERIFY(messages.isEmpty());
    }
};

QTEST_MAIN(TestDownloadWorkflow)
#include "test_download_workflow.moc"
