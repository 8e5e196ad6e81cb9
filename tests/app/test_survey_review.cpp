// The review of a survey in the window: the checks' flags on a download with
// planted flaws, a check or a time range choosing what the map, the
// statistics and the export hold, and the panel and chart kept or hidden.
#include "dose_chart.h"
#include "download_dialog.h"
#include "interpolate_dialog.h"
#include "main_window.h"
#include "message_dialogs.h"
#include "orvisk.h"
#include "report_dialog.h"
#include "review_panel.h"
#include "settings_dialog.h"
#include "sim_session.h"
#include "survey_archive.h"
#include "survey_export.h"
#include "survey_file.h"
#include "track_item.h"

#include <survey_record.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

sim::SimOptions flawedOptions()
{
    sim::SimOptions o = session::loopback_options();
    o.records = 40;
    o.epoch = 0;
    // The newest record loses its clock once, the next jumps, the third has
    // a poor fix for ten points, the fourth three fixes at 0,0.
    o.hostile = {"clock", "jump", "poorfix", "zero"};
    return o;
}

// Answers the next modal dialog of type Dialog with `answer`, once it shows.
template <typename Dialog, typename Answer> void answerDialog(Answer answer)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        answer(dialog);
    });
    timer->start();
}

void answerPeriodDialog()
{
    answerDialog<DownloadDialog>([](DownloadDialog* dialog) {
        dialog->findChild<QRadioButton*>("radioButton")->setChecked(true);
        dialog->findChild<QPushButton*>("btn_start")->click();
    });
}

QStringList checkLines(MainWindow& w)
{
    QStringList lines;
    auto* list = w.findChild<QListWidget*>("reviewChecks");
    for (int row = 0; row < list->count(); ++row)
        lines << list->item(row)->text();
    return lines;
}

// The survey indices the map draws.
std::vector<int> shownOnMap(MainWindow& w)
{
    std::vector<int> shown;
    const TrackItem* track = w.map()->trackItem();
    for (int i = 0; i < track->points().size(); ++i)
        if (track->isShown(i))
            shown.push_back(w.map()->getTrackSources()[i]);
    return shown;
}

// Those of `indices` the map can place (not those at 0,0, or 2 km off it).
std::vector<int> placed(MainWindow& w, const std::vector<int>& indices)
{
    const QVector<int>& sources = w.map()->getTrackSources();
    std::vector<int> out;
    for (int i : indices)
        if (std::binary_search(sources.begin(), sources.end(), i))
            out.push_back(i);
    return out;
}

void activate(MainWindow& w)
{
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

} // namespace

class TestSurveyReview : public QObject
{
    Q_OBJECT

    QStringList messages;
    QTemporaryDir dir;

private slots:
    void init()
    {
        messages.clear();
        ui::setMessageSink([this](const QString& text) { messages.append(text); });
        QSettings().clear();
    }
    void cleanup()
    {
        ui::setMessageSink({});
        ui::setSaveFileChooser({});
        ui::setOpenFileChooser({});
    }

    void downloadReviewedRangeShownAndExported()
    {
        sim::Simulator s(flawedOptions());
        s.start();
        QSettings().setValue("ConnectionString",
                             QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port));
        MainWindow w;
        w.resize(1280, 720);
        w.show();
        w.findChild<QPushButton*>("btnConnect")->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel*>("lblStatus")->text(),
                                  QStringLiteral("Connected"), 10000);
        answerPeriodDialog();
        w.findChild<QPushButton*>("btnDownload")->click();
        QVERIFY(!w.survey().empty());
        QCOMPARE(w.surveyRecords().size(), std::size_t(40));

        // Each planted flaw is flagged for its own reason: the records come
        // newest first, as the simulator spoiled them.
        const std::vector<RecordSpan>& records = w.surveyRecords();
        const std::vector<uint16_t>& flags = w.review()->flags();
        QCOMPARE(flags.size(), w.survey().size());
        QVERIFY(flags[records[0].first + records[0].count / 2] & kFlagTime);
        std::size_t jumped = records[1].first + records[1].count / 2;
        while (w.survey()[jumped].latitude == 0)
            ++jumped;
        QVERIFY(flags[jumped] & kFlagSpeed);
        QVERIFY(!(flags[jumped + 1] & kFlagSpeed)); // the walk goes on from where it was
        for (std::size_t i = records[2].first; i < records[2].first + 10; ++i)
            QCOMPARE(flags[i] & (kFlagHdop | kFlagSatellites), kFlagHdop | kFlagSatellites);
        for (std::size_t i = records[3].first; i < records[3].first + 3; ++i)
            QVERIFY(flags[i] & kFlagNoFix);
        QVERIFY(!(flags[records[3].first + 3] & kFlagNoFix));
        // And the warm-up of each session.
        const std::vector<std::size_t> counts = countFlags(flags);
        QCOMPARE(counts[0], std::size_t(3));
        QVERIFY(counts[6] > 0);
        const QStringList lines = checkLines(w);
        QCOMPARE(lines[0], QStringLiteral("All points: %1").arg(w.survey().size()));
        QCOMPARE(lines[3], QStringLiteral("HDOP above 4: %1").arg(counts[1]));
        QCOMPARE(lines[6], QStringLiteral("Faster than 5 m/s: %1").arg(counts[4]));

        // Driving speeds allowed in Settings: the points are checked again,
        // and only the jump of 2 km in a second is still too fast.
        QVERIFY(counts[4] > 1);
        answerDialog<SettingsDialog>([](SettingsDialog* dialog) {
            dialog->findChild<QLineEdit*>("edit_maxSpeed")->setText(QStringLiteral("1000"));
            dialog->findChild<QPushButton*>("btn_ok")->click();
        });
        w.findChild<QPushButton*>("btnSettings")->click();
        QCOMPARE(countFlags(w.review()->flags())[4], std::size_t(1));
        QVERIFY(w.review()->flags()[jumped] & kFlagSpeed);
        QCOMPARE(checkLines(w)[6], QStringLiteral("Faster than 1000 m/s: 1"));

        // The view fits the walk: the points at 0,0 lie far off it.
        QRectF good;
        const TrackItem* track = w.map()->trackItem();
        for (int i = 0; i < track->points().size(); ++i)
            if (!(track->flags(i) & (kFlagNoFix | kFlagSpeed)))
                good |= QRectF(track->points()[i], QSizeF(1, 1));
        const QRectF seen = w.map()->mapToScene(w.map()->viewport()->rect()).boundingRect();
        QVERIFY(seen.contains(good));
        QVERIFY(seen.width() < 3 * good.width() || seen.height() < 3 * good.height());

        // Choosing a check draws only its points.
        auto* list = w.findChild<QListWidget*>("reviewChecks");
        list->setCurrentRow(3);
        std::vector<int> expected;
        for (std::size_t i = 0; i < flags.size(); ++i)
            if (flags[i] & kFlagHdop)
                expected.push_back(int(i));
        QCOMPARE(shownOnMap(w), placed(w, expected));
        QCOMPARE(w.review()->stats().points, expected.size());
        QCOMPARE(w.review()->stats().good, std::size_t(0));
        // Ten points a second apart: fitted, but not so close that the whole
        // map pixels they lie on stand apart.
        list->setCurrentRow(4);
        QCOMPARE(w.map()->trackItem()->shownCount(), 10);
        QVERIFY(w.map()->getScaleFactor() <= 4);
        list->setCurrentRow(0);
        QCOMPARE(w.map()->trackItem()->shownCount(), w.map()->getTrackLen());

        // A range dragged on the chart: the map, the statistics and the export
        // hold exactly the points of that time.
        DoseChart* chart = w.chart();
        QWidget* plot = chart->plotWidget();
        uint32_t first = UINT32_MAX, last = 0;
        for (std::size_t i = 0; i < flags.size(); ++i)
            if (!flags[i]) {
                first = std::min(first, w.survey()[i].time);
                last = std::max(last, w.survey()[i].time);
            }
        const QPoint press =
            plot->mapFrom(chart, chart->positionOfTime(first + (last - first) / 3));
        const QPoint release =
            plot->mapFrom(chart, chart->positionOfTime(first + 2 * (last - first) / 3));
        QTest::mousePress(plot, Qt::LeftButton, {}, press);
        QTest::mouseMove(plot, release);
        QTest::mouseRelease(plot, Qt::LeftButton, {}, release);
        QVERIFY(w.review()->range());
        const auto [from, to] = *w.review()->range();
        QVERIFY(from < to);
        QCOMPARE(chart->range(), w.review()->range());
        expected.clear();
        for (std::size_t i = 0; i < w.survey().size(); ++i)
            if (w.survey()[i].time >= from && w.survey()[i].time <= to)
                expected.push_back(int(i));
        QVERIFY(!expected.empty() && expected.size() < w.survey().size());
        QCOMPARE(shownOnMap(w), placed(w, expected));
        QCOMPARE(w.review()->stats().points, expected.size());
        QVERIFY(w.review()->stats().start >= from && w.review()->stats().end <= to);

        const QString path = dir.filePath("range.csv");
        QString title;
        ui::setSaveFileChooser([&](const QString& t, const QString&) {
            title = t;
            return path;
        });
        activate(w);
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
        QVERIFY2(title.contains(QStringLiteral("only the %1 of").arg(expected.size())),
                 qPrintable(title));
        QString error;
        std::optional<SurveyFile> written = readSurveyFile(path, &error);
        QVERIFY2(written, qPrintable(error));
        QCOMPARE(written->points.size(), expected.size());
        for (std::size_t n = 0; n < expected.size(); ++n)
            QCOMPARE(written->points[n].time, w.survey()[std::size_t(expected[n])].time);
        // It says where it came from: the records as the archive keeps them.
        QVERIFY(w.surveyArchive());
        const std::optional<SurveyProvenance> archived = archivedProvenance(
            *w.surveyArchive(), w.surveyArchive()->downloads().back().id, &error);
        QVERIFY2(archived, qPrintable(error));
        QFile side(surveyExportSideFile(path));
        QVERIFY(side.open(QIODevice::ReadOnly));
        const QByteArray provenance = side.readAll();
        QVERIFY2(provenance.contains("records_sha256: " + archived->recordsSha256.toLatin1()) &&
                     provenance.contains("instrument_serial: " + archived->serial.toLatin1()) &&
                     !archived->serial.isEmpty(),
                 provenance.constData());

        // The report holds what is shown, and says so.
        const QString pdf = dir.filePath("range.pdf");
        ui::setSaveFileChooser([&](const QString&, const QString&) { return pdf; });
        answerDialog<ReportDialog>([](ReportDialog* dialog) {
            dialog->findChild<QLineEdit*>("reportTitle")->setText(QStringLiteral("Range walk"));
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        activate(w);
        QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(60000) && text.exitCode() == 0);
        const QString page = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(page.contains(QStringLiteral("Range walk")) &&
                     page.contains(QStringLiteral("only the %1 of %2 points")
                                       .arg(expected.size())
                                       .arg(w.survey().size())) &&
                     page.contains(QStringLiteral("%1 (%2 good")
                                       .arg(expected.size())
                                       .arg(w.review()->stats().good)),
                 qPrintable(page));

        // The same file opened again is reviewed as a survey of its own.
        ui::setOpenFileChooser([&](const QString&, const QString&) { return path; });
        activate(w);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.survey().size(), expected.size());
        QVERIFY(!w.review()->range());
        QCOMPARE(w.map()->trackItem()->shownCount(), w.map()->getTrackLen());
        QCOMPARE(w.review()->stats().points, expected.size());
        QVERIFY(messages.isEmpty());
    }

    void interpolatedRasterUnderTheTrack()
    {
        // A survey opened from a file: the simulator's walk, without a download.
        sim::Simulator s(flawedOptions());
        const sim::SurveyStore& store = *s.instruments()[0].store;
        std::vector<SurveyPoint> points;
        for (auto r = store.records().rbegin(); r != store.records().rend(); ++r) {
            const sim::Bytes bytes = sim::SurveyStore::encode(*r);
            const auto record = decodeSurveyRecord(reinterpret_cast<const char*>(bytes.data()),
                                                   int(bytes.size()), r->index);
            points.insert(points.end(), record->points.begin(), record->points.end());
        }
        const QString walk = dir.filePath("walk.gpkg"), tif = dir.filePath("walk.tif");
        QString error;
        QVERIFY2(exportSurvey(walk, points, &error), qPrintable(error));
        MainWindow w;
        w.resize(1280, 720);
        w.show();
        activate(w);
        ui::setOpenFileChooser([&](const QString&, const QString&) { return walk; });
        ui::setSaveFileChooser([&](const QString&, const QString&) { return tif; });
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.survey().size(), points.size());
        // An export holds no satellite counts or HDOP: not checked for.
        QCOMPARE(checkLines(w)[3], QStringLiteral("HDOP: not in the data: 0"));
        QCOMPARE(checkLines(w)[4], QStringLiteral("Satellites: not in the data: 0"));
        QCOMPARE(checkLines(w)[5], QStringLiteral("Time out of order: 0"));

        // The dialog's values as they stand, in the map's projection.
        answerDialog<InterpolateDialog>([](InterpolateDialog* dialog) {
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        QTest::keyClick(&w, Qt::Key_I, Qt::ControlModifier);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
        QVERIFY(QFileInfo(tif).size() > 0);
        TOrvisk* map = w.map();
        QVERIFY(map->hasUnderlay() && map->underlayItemForTests()->isVisible());

        // Under every good point lies a cell with a value, coloured as the
        // points are: the track's own colour step, or a neighbour's.
        const auto* under = static_cast<const QGraphicsPixmapItem*>(map->underlayItemForTests());
        const QImage cells = under->pixmap().toImage();
        const TrackItem* track = map->trackItem();
        QVERIFY(under->zValue() > 0 && under->zValue() < track->zValue());
        int valued = 0, good = 0;
        for (int i = 0; i < track->points().size(); ++i) {
            if (track->flags(i))
                continue;
            ++good;
            const QPointF cell = under->sceneTransform().inverted().map(track->points()[i]);
            valued += qAlpha(cells.pixel(int(cell.x()), int(cell.y()))) == 150;
        }
        QVERIFY2(valued > good * 95 / 100,
                 qPrintable(QStringLiteral("%1 of %2").arg(valued).arg(good)));
        // Far from the walk, nothing.
        QCOMPARE(qAlpha(cells.pixel(0, 0)), 0);

        // Hidden and shown from the map's menu; gone with the next survey.
        QAction* shown = nullptr;
        for (QAction* action : map->actions())
            if (action->text() == QLatin1String("Interpolated raster"))
                shown = action;
        QVERIFY(shown && shown->isChecked());
        shown->trigger();
        QVERIFY(!map->underlayItemForTests()->isVisible());
        shown->trigger();
        QVERIFY(map->underlayItemForTests()->isVisible());
        activate(w);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QVERIFY(!map->hasUnderlay() && !shown->isEnabled());
    }

    void panelAndChartHiddenAndKept()
    {
        {
            MainWindow w;
            w.resize(1280, 720);
            w.show();
            QVERIFY(w.minimumSizeHint().width() <= 1280 && w.minimumSizeHint().height() <= 720);
            QVERIFY(w.review()->isVisible() && w.chart()->isVisible());
            activate(w);
            QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
            QVERIFY(!w.review()->isVisible());
            QTest::keyClick(&w, Qt::Key_T, Qt::ControlModifier);
            QVERIFY(!w.chart()->isVisible());
            w.close();
        }
        MainWindow again;
        again.show();
        activate(again);
        QVERIFY(!again.review()->isVisible() && !again.chart()->isVisible());
        QTest::keyClick(&again, Qt::Key_R, Qt::ControlModifier);
        QVERIFY(again.review()->isVisible());
    }
};

QTEST_MAIN(TestSurveyReview)
#include "test_survey_review.moc"
