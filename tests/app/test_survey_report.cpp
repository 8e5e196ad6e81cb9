// The map report as its reader gets it, read back with Poppler: the page
// size, the text (unit, instrument, period, statistics, checks), the
// provenance in the document's metadata, the track's colours at the track's
// places, a scale that is true, and each refusal; and orvisk-archive report.
#include "dose_scale.h"
#include "orvisk.h"
#include "survey_report.h"

#include <geodesic_line.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

// A program's exit status (-1: it did not end by itself), standard output and error.
struct Ran
{
    int status = -1;
    QByteArray out, err;
};

Ran run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    Ran r;
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString textOf(const QString& pdf)
{
    return QString::fromUtf8(run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).out);
}

// The page size in points, as pdfinfo reads it.
QSizeF pageSizeOf(const QString& pdf)
{
    const QString info = QString::fromUtf8(run(QStringLiteral("pdfinfo"), {pdf}).out);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts")).match(info);
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

SurveyPoint at(double latitude, double longitude, float doseRate, uint32_t time)
{
    SurveyPoint p;
    p.latitude = latitude;
    p.longitude = longitude;
    p.doseRate = doseRate;
    p.time = time;
    p.satellites = 9;
    p.hdop10 = 9;
    return p;
}

constexpr uint32_t kStart = 1780000000; // 2026-05-28 20:26:40 UTC

} // namespace

class TestSurveyReport : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    TOrvisk map;
    std::vector<SurveyPoint> points;
    std::vector<uint16_t> flags;
    ReportFacts facts;

private slots:
    // Points far apart, one in each colour step, and one that failed a check,
    // on the sample map.
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        map.resize(800, 600);
        map.setDoseScale(DoseScale());
        map.loadMapFolder(QStringLiteral("maps/Korvenix"));
        QVERIFY(map.hasProjections());
        const float doses[] = {0.05f, 0.15f, 0.25f, 0.35f, 0.45f, 0.6f};
        for (int i = 0; i < 6; ++i)
            points.push_back(at(57.404 + 0.003 * (i % 3), 24.606 + 0.008 * (i / 3) + 0.002 * i,
                                doses[i], kStart + 200 * uint32_t(i)));
        points.push_back(at(57.407, 24.632, 0.9f, kStart + 1200));
        flags.assign(points.size(), 0);
        flags.back() = kFlagHdop;
        map.clearTrack();
        map.addTrackPoints(points);
        map.setTrackFlags(flags);
        map.createScene(0);
        QCOMPARE(map.getTrackLen(), int(points.size()));

        facts = reportFacts(points, flags, {}, {}, CheckLimits());
        SurveyProvenance p;
        p.family = QStringLiteral("M30");
        p.serial = QStringLiteral("C3000042");
        p.downloaded = QDateTime::fromSecsSinceEpoch(kStart + 7200, Qt::UTC);
        p.periodTo = p.downloaded;
        p.recordsSha256 = QString(64, QLatin1Char('7'));
        facts.provenance = p;
        facts.title = defaultReportTitle(facts);
    }

    // A4 landscape: the figures as text, the provenance as metadata, and
    // each good point's colour where the point lies on the page.
    void reportReadsBack()
    {
        const QString pdf = dir.filePath(QStringLiteral("walk.pdf"));
        ReportPlacement placed;
        QString error;
        QVERIFY2(writeSurveyReport(pdf, map, facts, ReportOptions(), &error, &placed),
                 qPrintable(error));
        const QSizeF page = pageSizeOf(pdf);
        QVERIFY2(std::abs(page.width() - 841.89) < 1 && std::abs(page.height() - 595.28) < 1,
                 qPrintable(QStringLiteral("%1 x %2").arg(page.width()).arg(page.height())));

        const QString text = textOf(pdf);
        for (const QString& expected :
             {QStringLiteral("Dose-rate survey, M30 serial C3000042, 2026-05-28"),
              QStringLiteral("Dose rate, nSv/h"),
              QStringLiteral("2026-05-28 20:26:40 to 20:43:20 UTC"),
              QStringLiteral("7 (6 good, 1 flagged)"), QStringLiteral("600.0 nSv/h"),
              QStringLiteral("50.0 nSv/h"), QStringLiteral("HDOP above 4:"),
              QStringLiteral("Orvisk ") + QStringLiteral(ORVISK_VERSION)})
            QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral("\n") + text));
        // The flagged point counts in the checks, not in the figures.
        QVERIFY(!text.contains(QStringLiteral("900.0 nSv/h")));

        const QString meta =
            QString::fromUtf8(run(QStringLiteral("pdfinfo"), {QStringLiteral("-meta"), pdf}).out);
        QVERIFY2(meta.contains(QStringLiteral("C3000042")) &&
                     meta.contains(QString(64, QLatin1Char('7'))) &&
                     meta.contains(QStringLiteral("nSv/h")),
                 qPrintable(meta));

        constexpr int kDpi = 150;
        const QString prefix = dir.filePath(QStringLiteral("walk"));
        QCOMPARE(run(QStringLiteral("pdftoppm"),
                     {QStringLiteral("-r"), QString::number(kDpi), QStringLiteral("-png"),
                      QStringLiteral("-singlefile"), pdf, prefix})
                     .status,
                 0);
        const QImage image(prefix + QStringLiteral(".png"));
        QVERIFY(!image.isNull());
        for (int i = 0; i < map.getTrackLen(); ++i) {
            if (flags[std::size_t(map.getTrackSources()[i])])
                continue;
            const QPointF scene = map.getTrack()[i];
            const QPointF onPage =
                placed.map.topLeft() +
                QPointF(
                    (scene.x() - placed.scene.left()) * placed.map.width() / placed.scene.width(),
                    (scene.y() - placed.scene.top()) * placed.map.height() / placed.scene.height());
            const QPoint pixel = (onPage * kDpi / 72).toPoint();
            const QColor got = image.pixelColor(pixel);
            const QColor want = map.doseScale().colourOf(map.getTrackValues()[i].doseRate);
            QVERIFY2(std::abs(got.red() - want.red()) < 24 &&
                         std::abs(got.green() - want.green()) < 24 &&
                         std::abs(got.blue() - want.blue()) < 24,
                     qPrintable(QStringLiteral("point %1 at %2,%3: %4, not %5")
                                    .arg(i)
                                    .arg(pixel.x())
                                    .arg(pixel.y())
                                    .arg(got.name(), want.name())));
        }
    }

    // Both sizes both ways; the whole walk inside the frame, and the scale
    // printed is the ground's at the map's centre.
    void pagesAndATrueScale()
    {
        const struct
        {
            QPageSize::PageSizeId page;
            QPageLayout::Orientation orientation;
            QSizeF points;
        } cases[] = {
            {QPageSize::A4, QPageLayout::Portrait, {595.28, 841.89}},
            {QPageSize::Letter, QPageLayout::Landscape, {792, 612}},
            {QPageSize::Letter, QPageLayout::Portrait, {612, 792}},
        };
        for (const auto& c : cases) {
            const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
            ReportOptions options;
            options.page = c.page;
            options.orientation = c.orientation;
            ReportPlacement placed;
            QString error;
            QVERIFY2(writeSurveyReport(pdf, map, facts, options, &error, &placed),
                     qPrintable(error));
            const QSizeF page = pageSizeOf(pdf);
            QVERIFY2(std::abs(page.width() - c.points.width()) < 1 &&
                         std::abs(page.height() - c.points.height()) < 1,
                     qPrintable(QStringLiteral("%1 x %2").arg(page.width()).arg(page.height())));
            QVERIFY(QRectF(QPointF(), page).contains(placed.map));
            for (const QPointF& p : map.getTrack())
                QVERIFY(placed.scene.contains(p));

            // Ground metres across the frame's middle over paper metres.
            const double y = placed.scene.center().y();
            const auto west = map.sceneToGeo({placed.scene.left(), y});
            const auto east = map.sceneToGeo({placed.scene.right(), y});
            QVERIFY(west && east);
            const double ground =
                geodesic::inverse(west->x(), west->y(), east->x(), east->y()).metres;
            const double paper = placed.map.width() / 72 * 0.0254;
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("1:([0-9,]+) at the centre")).match(textOf(pdf));
            QVERIFY(m.hasMatch());
            const double printed = m.captured(1).remove(QLatin1Char(',')).toDouble();
            QVERIFY2(std::abs(printed / (ground / paper) - 1) < 0.02,
                     qPrintable(QStringLiteral("1:%1 printed, 1:%2 measured")
                                    .arg(printed)
                                    .arg(ground / paper)));
        }
    }

    // A path that cannot take the file: a clear message, and nothing left.
    void refusals()
    {
        const QString missing = dir.filePath(QStringLiteral("none/walk.pdf"));
        QString error;
        QVERIFY(!writeSurveyReport(missing, map, facts, ReportOptions(), &error));
        QVERIFY2(error.contains(missing), qPrintable(error));
        QVERIFY(!QFile::exists(missing));

        const QString folder = dir.filePath(QStringLiteral("folder.pdf"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!writeSurveyReport(folder, map, facts, ReportOptions(), &error));
        QVERIFY2(error.contains(QStringLiteral("folder")), qPrintable(error));
        QVERIFY(QFileInfo(folder).isDir());

        ReportOptions coarse;
        coarse.dpi = 10;
        const QString pdf = dir.filePath(QStringLiteral("coarse.pdf"));
        QVERIFY(!writeSurveyReport(pdf, map, facts, coarse, &error));
        QVERIFY2(error.contains(QStringLiteral("dpi")), qPrintable(error));
        QVERIFY(!QFile::exists(pdf));
    }

    // orvisk-archive report: an imported walk on the map of the settings,
    // the options given, and a refusal for each bad one.
    void archiveReports()
    {
        const QString archive = dir.filePath(QStringLiteral("archive.gpkg"));
        const QString csv = dir.filePath(QStringLiteral("walk.csv"));
        QString error;
        QVERIFY2(exportSurvey(csv, points, &error), qPrintable(error));
        const auto archived = [&](const QStringList& args) {
            return run(QStringLiteral(ORVISK_ARCHIVE_PROGRAM),
                       QStringList{QStringLiteral("--archive"), archive} + args);
        };
        QCOMPARE(archived({QStringLiteral("import"), csv}).status, 0);

        const QString pdf = dir.filePath(QStringLiteral("archived.pdf"));
        const Ran made = archived(
            {"report", "1", pdf, "--page", "letter", "--portrait", "--title", "North shore walk"});
        QVERIFY2(made.status == 0, made.err.constData());
        const QSizeF page = pageSizeOf(pdf);
        QVERIFY(std::abs(page.width() - 612) < 1 && std::abs(page.height() - 792) < 1);
        const QString text = textOf(pdf);
        // Checked as the window checks a file: no satellites or HDOP to check.
        const auto checked = checkSurvey(points, {}, limitsForData(points, CheckLimits()));
        const auto good = std::count(checked.begin(), checked.end(), uint16_t(0));
        QVERIFY(good >= 5);
        QVERIFY2(
            text.contains(QStringLiteral("North shore walk")) &&
                text.contains(QStringLiteral("7 (%1 good, %2 flagged)").arg(good).arg(7 - good)) &&
                text.contains(QStringLiteral("900.0 nSv/h")),
            qPrintable(text));
        QVERIFY(QFile::remove(pdf));

        const std::pair<QStringList, int> refused[] = {
            {{"report", "1", pdf, "--page", "A3"}, 1},
            {{"report", "1", pdf, "--title"}, 1},
            {{"report", "1", pdf, "--colour"}, 1},
            {{"report", "1"}, 1},
            {{"report", "99", pdf}, 3},
            {{"report", "1", dir.filePath(QStringLiteral("none/x.pdf"))}, 4},
        };
        for (const auto& [args, status] : refused) {
            const Ran r = archived(args);
            QVERIFY2(r.status == status && !r.err.isEmpty(),
                     qPrintable(args.join(' ') + QStringLiteral(": ") + QString::number(r.status)));
            QVERIFY(!QFile::exists(pdf));
        }
    }
};

QTEST_MAIN(TestSurveyReport)
#include "test_survey_report.moc"
