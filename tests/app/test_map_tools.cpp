// The window's map tools: the distance measurement, the settings dialog and
// the window's fit on a small screen.
#include "distance_dialog.h"
#include "dose_legend.h"
#include "geodesic_line.h"
#include "main_window.h"
#include "message_dialogs.h"
#include "orvisk.h"
#include "settings_dialog.h"
#include "survey_text.h"
#include "track_item.h"

#include <check_settings.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResource>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

template <class T> T* child(QWidget* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no %s", name);
    return found;
}

QString text(QWidget* parent, const char* name)
{
    return child<QLabel>(parent, name)->text();
}

// Runs `steps` on the modal dialog of type D that `open` brings up, and makes
// sure that dialog closes even when a step fails.
template <class D> void withDialog(const std::function<void()>& open, std::function<void(D*)> steps)
{
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        ran = true;
        bool finished = false;
        QObject::connect(dialog, &QDialog::finished, [&finished] { finished = true; });
        steps(dialog);
        if (!finished)
            dialog->reject();
    });
    open();
    QVERIFY(ran);
}

void clickMap(TOrvisk* map, QPointF scenePos)
{
    const QPoint at = map->mapFromScene(scenePos);
    QMouseEvent press(QEvent::MouseButtonPress, at, map->viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(map->viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, map->viewport()->mapToGlobal(at),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(map->viewport(), &release);
}

double leadingNumber(const QString& text)
{
    return text.section(QLatin1Char(' '), 0, 0).remove(QChar(0x00B0)).toDouble();
}

} // namespace

class TestMapTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void windowFitsASmallScreen();
    void mapShownAsLeftAtTheNextStart();
    void geodesicLines();
    void measuringADistance();
    void settingsShowWhatIsInEffect();
    void settingsCheckedAndApplied();
    void newMapFolderLoadedAndRemembered();
    void pointInspectedInTheWindow();

private:
    QStringList messages;
};

void TestMapTools::initTestCase()
{
    QVERIFY2(QResource::registerResource(QStringLiteral("data/res.dat")),
             "run in the runnable folder");
    QCoreApplication::setOrganizationName(QStringLiteral("Korvenix"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvisk"));
    ui::setMessageSink([this](const QString& text) { messages << text; });
}

void TestMapTools::init()
{
    QSettings().clear();
    messages.clear();
    ui::setDirectoryChooser({});
    ui::setColorChooser({});
}

void TestMapTools::windowFitsASmallScreen()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(1020, 693));
    QVERIFY(window.minimumSizeHint().height() <= 693);
    QVERIFY(window.frameGeometry().height() <= 720);

    auto* status = child<QLabel>(&window, "lblStatus");
    const QRect statusArea(status->mapTo(&window, QPoint(0, 0)), status->size());
    QVERIFY(window.rect().contains(statusArea));
    QVERIFY(status->height() >= status->fontMetrics().height());

    for (const char* name : {"btnDevice", "btnConnect", "btnDisconnect", "btnDownload",
                             "btnSurveys", "btnDistance", "btnSettings", "btnQuit"}) {
        auto* button = child<QPushButton>(&window, name);
        QVERIFY2(button->height() >= button->fontMetrics().height() + 6, name);
        QVERIFY2(button->font().pointSize() >= 14, name);
        QVERIFY2(button->iconSize().height() >= 16, name);
        QVERIFY2(button->iconSize().height() < 64, name); // they gave way
        QVERIFY2(button->iconSize().height() <= button->height(), name);
    }

    // On a big screen they grow back to their full size.
    window.resize(1020, 1200);
    QTRY_COMPARE(child<QPushButton>(&window, "btnQuit")->iconSize(), QSize(256, 64));
    QCOMPARE(child<QPushButton>(&window, "btnQuit")->font().pointSize(), 22);
    QCOMPARE(child<QPushButton>(&window, "btnQuit")->styleSheet(),
             QStringLiteral("padding: 15px;Text-align:left"));
}

void TestMapTools::mapShownAsLeftAtTheNextStart()
{
    auto centreOf = [](TOrvisk* map) {
        return map->viewportTransform().inverted().map(QRectF(map->viewport()->rect()).center());
    };
    QPointF centre;
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TOrvisk* map = window.map();
        QCOMPARE(map->getScaleFactor(), 1.0); // nothing stored yet
        const QPointF at(100, 100);
        QWheelEvent wheel(at, map->viewport()->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(map->viewport(), &wheel);
        map->centerOn(QPointF(1400, 900));
        centre = centreOf(map);
        window.close();
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.map()->getScaleFactor(), 1.15);
    QCOMPARE(window.map()->transform().m11(), 1.15);
    // The window's first layout resizes the map once more, which may move it
    // by a pixel.
    QVERIFY(QLineF(centreOf(window.map()), centre).length() <= 2);
}

void TestMapTools::geodesicLines()
{
    // The worked example of the geodesic literature: JFK to near London Heathrow.
    geodesic::Line line = geodesic::inverse(40.6, -73.8, 51.6, -0.5);
    QVERIFY(qAbs(line.metres - 5551759.400) < 0.001);
    QVERIFY(qAbs(line.azimuth - 51.198883) < 1e-6);
    // Along the equator: a degree of longitude is 111319.49 m; westward is 270.
    line = geodesic::inverse(0, 1, 0, 0);
    QVERIFY(qAbs(line.metres - 111319.491) < 0.001);
    QVERIFY(qAbs(line.azimuth - 270) < 1e-9);

    QCOMPARE(geodesic::distanceText(532.74), QStringLiteral("532.7 m"));
    QCOMPARE(geodesic::distanceText(999.94), QStringLiteral("999.9 m"));
    QCOMPARE(geodesic::distanceText(999.96), QStringLiteral("1.000 km"));
    QCOMPARE(geodesic::distanceText(12345.6789), QStringLiteral("12.346 km"));
    QCOMPARE(geodesic::azimuthText(92.46), QStringLiteral("92.5") + QChar(0x00B0));
    QCOMPARE(geodesic::azimuthText(359.97), QStringLiteral("0.0") + QChar(0x00B0));
}

void TestMapTools::measuringADistance()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TOrvisk* map = window.map();
    map->centerOn(QPointF(1630, 1000));
    // The sample map is UTM zone 34 (central meridian 21 E) with 8 m pixels.
    // Here, at 57.405 N 24.546 E, the grid's scale factor is
    // 0.9996 (1 + (dlon cos lat)^2 / 2) = 1.000155, so 9 pixels east are
    // 72 / 1.000155 = 71.99 m; grid north lies atan(tan dlon sin lat) =
    // 2.99 degrees east of true north, so grid east is at 92.99 degrees.
    const QPointF first(1625.5, 1000.5), second(1634.5, 1000.5);
    auto* button = child<QPushButton>(&window, "btnDistance");

    withDialog<DistanceDialog>(
        [&] { button->click(); },
        [&](DistanceDialog* dialog) {
            QCOMPARE(dialog->parent(), nullptr);
            child<QPushButton>(dialog, "btn_point1")->click();
            // Out of the way, and the window takes the click.
            QVERIFY(!dialog->isVisible());
            QCOMPARE(QApplication::activeModalWidget(), nullptr);
            QVERIFY(map->isPickingPoint());
            clickMap(map, first);
            QVERIFY(dialog->isVisible());
            QCOMPARE(text(&window, "lblDistField"), QString());

            child<QPushButton>(dialog, "btn_point2")->click();
            QVERIFY(!dialog->isVisible());
            clickMap(map, second);
            QVERIFY(dialog->isVisible());
            QVERIFY(!map->isPickingPoint());

            const QString distance = text(&window, "lblDistField");
            const QString azimuth = text(&window, "lblAzimuthField");
            QVERIFY2(QRegularExpression("^\\d+\\.\\d m$").match(distance).hasMatch(),
                     qPrintable(distance));
            QVERIFY2(qAbs(leadingNumber(distance) - 71.99) < 0.1, qPrintable(distance));
            QVERIFY2(azimuth.endsWith(QChar(0x00B0)), qPrintable(azimuth));
            QVERIFY2(qAbs(leadingNumber(azimuth) - 92.99) < 0.1, qPrintable(azimuth));

            child<QPushButton>(dialog, "btn_exit")->click();
            QVERIFY(!dialog->isVisible());
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
        });
    // The marks stay on the map.
    QVERIFY(map->measurePoint(0) && map->measurePoint(1));
    QVERIFY(!text(&window, "lblDistField").isEmpty());

    // Next use: a cancelled pick changes nothing; Clear removes marks and figures.
    withDialog<DistanceDialog>([&] { button->click(); },
                               [&](DistanceDialog* dialog) {
                                   const QString before = text(&window, "lblDistField");
                                   child<QPushButton>(dialog, "btn_point2")->click();
                                   QTest::keyClick(map, Qt::Key_Escape);
                                   QVERIFY(dialog->isVisible());
                                   QCOMPARE(text(&window, "lblDistField"), before);

                                   child<QPushButton>(dialog, "btn_clear")->click();
                                   QVERIFY(dialog->isVisible());
                                   QVERIFY(!map->measurePoint(0) && !map->measurePoint(1));
                                   QCOMPARE(text(&window, "lblDistField"), QString());
                                   QCOMPARE(text(&window, "lblAzimuthField"), QString());
                                   dialog->reject();
                               });

    // Kilometres from 1 km on: 150 pixels west and 150 north, 1697.1 m of grid.
    map->setMeasurePoint(0, QPointF(1625.5, 1000.5));
    map->setMeasurePoint(1, QPointF(1475.5, 850.5));
    const QString far = text(&window, "lblDistField");
    QVERIFY2(QRegularExpression("^1\\.697 km$").match(far).hasMatch(), qPrintable(far));
    QVERIFY(qAbs(leadingNumber(text(&window, "lblAzimuthField")) - (315 + 2.99)) < 0.1);

    // Closing the dialog while it waits for a pick leaves the map usable.
    withDialog<DistanceDialog>([&] { button->click(); },
                               [&](DistanceDialog* dialog) {
                                   child<QPushButton>(dialog, "btn_point1")->click();
                                   QVERIFY(map->isPickingPoint());
                                   dialog->reject();
                               });
    QVERIFY(!map->isPickingPoint());
}

void TestMapTools::settingsShowWhatIsInEffect()
{
    MainWindow window;
    auto* button = child<QPushButton>(&window, "btnSettings");
    withDialog<SettingsDialog>(
        [&] { button->click(); },
        [&](SettingsDialog* dialog) {
            QCOMPARE(child<QLineEdit>(dialog, "edit_map")->text(),
                     QStringLiteral("./maps/Korvenix/"));
            QVERIFY(child<QLineEdit>(dialog, "edit_map")->isReadOnly());
            QCOMPARE(child<QLineEdit>(dialog, "edit_radius")->text(), QStringLiteral("0"));
            const char* colours[] = {"rgb(255,100,0)", "rgb(30,225,0)", "rgb(50,20,255)",
                                     "rgb(70,180,90)", "rgb(90,160,200)"};
            for (int n = 1; n <= 5; ++n) {
                const QByteArray edit = "edit_color" + QByteArray::number(n);
                const QByteArray label = "label_color" + QByteArray::number(n);
                QCOMPARE(child<QLineEdit>(dialog, edit)->text(), QString::number(n * 100));
                QCOMPARE(child<QLabel>(dialog, label)->styleSheet(),
                         QStringLiteral("background:") + colours[n - 1]);
            }
            // A cancelled chooser leaves the folder as it was.
            ui::setDirectoryChooser([](const QString& title) {
                return title == QStringLiteral("Open Directory") ? QString() : QStringLiteral("x");
            });
            child<QPushButton>(dialog, "btn_map")->click();
            QCOMPARE(child<QLineEdit>(dialog, "edit_map")->text(),
                     QStringLiteral("./maps/Korvenix/"));

            // Cancel applies nothing, whatever was edited.
            child<QLineEdit>(dialog, "edit_radius")->setText(QStringLiteral("9"));
            child<QLineEdit>(dialog, "edit_color1")->setText(QStringLiteral("150"));
            child<QPushButton>(dialog, "btn_cancel")->click();
            QCOMPARE(dialog->result(), int(QDialog::Rejected));
        });
    QCOMPARE(window.trackRadius(), 0);
    QVERIFY(!QSettings().contains("Thresholds"));
    QVERIFY(!QSettings().contains("trackR"));
}

void TestMapTools::settingsCheckedAndApplied()
{
    {
        MainWindow window;
        TOrvisk* map = window.map();
        map->addTrackPoint(57.41, 24.61);
        map->createScene(window.trackRadius());
        QCOMPARE(map->trackItem()->radius(), 0.0);
        auto* button = child<QPushButton>(&window, "btnSettings");
        withDialog<SettingsDialog>(
            [&] { button->click(); },
            [&](SettingsDialog* dialog) {
                auto* radius = child<QLineEdit>(dialog, "edit_radius");
                auto* ok = child<QPushButton>(dialog, "btn_ok");
                for (const char* refused : {"", "abc", "-1", "1e9", "nan", "inf"}) {
                    radius->setText(QLatin1String(refused));
                    ok->click();
                    QVERIFY2(dialog->isVisible(), refused);
                    QCOMPARE(messages.size(), 1);
                    QVERIFY2(messages.takeFirst().startsWith("Track radius"), refused);
                }
                radius->setText(QStringLiteral("7"));
                // Each step must start above the one below it.
                child<QLineEdit>(dialog, "edit_color3")->setText(QStringLiteral("200"));
                ok->click();
                QVERIFY(dialog->isVisible());
                QCOMPARE(messages,
                         QStringList{QStringLiteral("Threshold 3 must be above threshold 2.")});
                messages.clear();
                child<QLineEdit>(dialog, "edit_color3")->setText(QStringLiteral("300"));
                child<QLineEdit>(dialog, "edit_color2")->setText(QStringLiteral("two hundred"));
                ok->click();
                QVERIFY(dialog->isVisible());
                QCOMPARE(messages, QStringList{QStringLiteral("Threshold 2 must be a number.")});
                messages.clear();
                child<QLineEdit>(dialog, "edit_color2")->setText(QStringLiteral("250.5"));

                // The chooser starts from the colour the dialog was opened with.
                QList<QColor> starts;
                ui::setColorChooser([&](const QColor& initial, const QString& title) {
                    starts << initial;
                    return title == QStringLiteral("Choose a color") ? QColor(1, 2, 3) : QColor();
                });
                child<QPushButton>(dialog, "btn_color3")->click();
                child<QPushButton>(dialog, "btn_color3")->click();
                QCOMPARE(starts, (QList<QColor>{QColor(50, 20, 255), QColor(50, 20, 255)}));
                QCOMPARE(child<QLabel>(dialog, "label_color3")->styleSheet(),
                         QStringLiteral("background:rgb(1,2,3)"));

                // The checks' limits: within their ranges, counts whole.
                auto* speed = child<QLineEdit>(dialog, "edit_maxSpeed");
                auto* satellites = child<QLineEdit>(dialog, "edit_minSatellites");
                QCOMPARE(speed->text(), QStringLiteral("5"));
                speed->setText(QStringLiteral("0"));
                ok->click();
                QCOMPARE(messages, QStringList{QStringLiteral(
                                       "Speed at most, m/s must be a number from 0.1 to 1000.")});
                messages.clear();
                speed->setText(QStringLiteral("40")); // driving
                satellites->setText(QStringLiteral("4.5"));
                ok->click();
                QCOMPARE(messages, QStringList{QStringLiteral(
                                       "Satellites at least must be a whole number from 0 to 32.")});
                messages.clear();
                satellites->setText(QStringLiteral("5"));
                ok->click();
                QVERIFY(!dialog->isVisible());
                QCOMPARE(dialog->result(), int(QDialog::Accepted));
            });
        QCOMPARE(messages, QStringList());
        QCOMPARE(window.trackRadius(), 7);
        QCOMPARE(QSettings().value("trackR").toInt(), 7);
        // The scene is rebuilt with the new radius, and the track coloured
        // and explained with the new steps.
        QCOMPARE(map->trackItem()->radius(), 7.0);
        QCOMPARE(map->trackItem()->points().size(), 1);
        const DoseScale applied({100, 250.5f, 300, 400, 500},
                                {QColor(255, 100, 0), QColor(30, 225, 0), QColor(1, 2, 3),
                                 QColor(70, 180, 90), QColor(90, 160, 200)});
        QCOMPARE(map->doseScale(), applied);
        QCOMPARE(map->trackItem()->scale(), applied);
        QCOMPARE(map->legend()->scale(), applied);
        QCOMPARE(loadCheckLimits().maxSpeed, 40.0);
        QCOMPARE(loadCheckLimits().minSatellites, 5);
    }
    // The next start shows what was applied, and colours with it.
    MainWindow window;
    QCOMPARE(window.trackRadius(), 7);
    QCOMPARE(window.map()->doseScale().steps().at(1).threshold, 250.5f);
    QCOMPARE(window.map()->doseScale().steps().at(2).colour, QColor(1, 2, 3));
    withDialog<SettingsDialog>(
        [&] { child<QPushButton>(&window, "btnSettings")->click(); },
        [&](SettingsDialog* dialog) {
            QCOMPARE(child<QLineEdit>(dialog, "edit_radius")->text(), QStringLiteral("7"));
            QCOMPARE(child<QLineEdit>(dialog, "edit_color2")->text(), QStringLiteral("250.5"));
            QCOMPARE(child<QLabel>(dialog, "label_color3")->styleSheet(),
                     QStringLiteral("background:rgb(1,2,3)"));
            QCOMPARE(child<QLabel>(dialog, "label_color4")->styleSheet(),
                     QStringLiteral("background:rgb(70,180,90)"));
            QCOMPARE(child<QLineEdit>(dialog, "edit_maxSpeed")->text(), QStringLiteral("40"));
        });
}

void TestMapTools::newMapFolderLoadedAndRemembered()
{
    // The sample map again, its world file moved 10 km east.
    QTemporaryDir other;
    for (const char* name : {"map.png", "map.ppr"})
        QVERIFY(QFile::copy(QStringLiteral("maps/Korvenix/") + name, other.filePath(name)));
    QFile world(other.filePath("map.pgw"));
    QVERIFY(world.open(QIODevice::WriteOnly));
    world.write("8.0\n0.0\n0.0\n-8.0\n710004.0\n6375996.0\n");
    world.close();
    QTemporaryDir empty;

    {
        MainWindow window;
        TOrvisk* map = window.map();
        map->addTrackPoint(57.41, 24.61);
        const QPointF before = map->getTrack().value(0);
        map->setMeasurePoint(0, QPointF(10, 10));

        QString chosen = empty.path();
        ui::setDirectoryChooser([&](const QString&) { return chosen; });
        withDialog<SettingsDialog>([&] { child<QPushButton>(&window, "btnSettings")->click(); },
                                   [&](SettingsDialog* dialog) {
                                       auto* browse = child<QPushButton>(dialog, "btn_map");
                                       browse->click();
                                       child<QPushButton>(dialog, "btn_ok")->click();
                                       QVERIFY(dialog->isVisible()); // no map in that folder
                                       QCOMPARE(messages.size(), 1);
                                       QVERIFY(messages.takeFirst().startsWith("Map source"));
                                       chosen = other.path();
                                       browse->click();
                                       QCOMPARE(child<QLineEdit>(dialog, "edit_map")->text(),
                                                other.path());
                                       child<QPushButton>(dialog, "btn_ok")->click();
                                       QVERIFY(!dialog->isVisible());
                                   });
        QCOMPARE(messages, QStringList());
        QCOMPARE(map->getMapOrigin(), QPointF(710004, 6375996));
        // The track is placed on the new map; the old marks meant other places.
        QCOMPARE(map->getTrack(), QVector<QPointF>{before - QPointF(1250, 0)});
        QCOMPARE(map->trackItem()->points(), map->getTrack());
        QVERIFY(!map->measurePoint(0));
        QCOMPARE(QSettings().value("MapFolder").toString(), other.path());
    }
    MainWindow window;
    QCOMPARE(window.map()->getMapOrigin(), QPointF(710004, 6375996));
    QCOMPARE(messages, QStringList());
}

void TestMapTools::pointInspectedInTheWindow()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TOrvisk* map = window.map();
    SurveyPoint point;
    point.latitude = 57.41;
    point.longitude = 24.61;
    point.altitude = 15.3f;
    point.doseRate = 0.2505f;
    point.time = 1714561392;
    map->addTrackPoint(point);
    map->addTrackPoint(57.4105, 24.6105);   // a position alone
    map->createScene(window.trackRadius()); // 0 on a first start: dots
    map->centerOn(map->getTrack()[0]);

    auto move = [map](QPointF scenePos) {
        const QPoint at = map->mapFromScene(scenePos);
        QMouseEvent event(QEvent::MouseMove, at, map->viewport()->mapToGlobal(at), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(map->viewport(), &event);
    };
    const QString degree(QChar(0x00B0));
    move(map->getTrack()[0] + QPointF(0.5, 0.5));
    QCOMPARE(text(&window, "lblLatField"), QStringLiteral("57.41000") + degree + " N");
    QCOMPARE(text(&window, "lblLongField"), QStringLiteral("24.61000") + degree + " E");
    QCOMPARE(text(&window, "lblAltField"), QStringLiteral("15.3 m"));
    QCOMPARE(text(&window, "lblDoseRate"), QStringLiteral("250.5 nSv/h"));

    // A point without values says so.
    move(map->getTrack()[1] + QPointF(0.5, 0.5));
    QCOMPARE(text(&window, "lblLatField"), QStringLiteral("57.41050") + degree + " N");
    QCOMPARE(text(&window, "lblAltField"), QStringLiteral("unknown"));
    QCOMPARE(text(&window, "lblDoseRate"), QStringLiteral("unknown"));

    // Away from the track the position follows the cursor, and nothing else shows.
    const QPointF away = map->getTrack()[0] + QPointF(0.5, 40.5);
    move(away);
    const QPointF geo = *map->sceneToGeo(map->mapToScene(map->mapFromScene(away)));
    QCOMPARE(text(&window, "lblLatField"), survey_text::latitude(geo.x()));
    QCOMPARE(text(&window, "lblLongField"), survey_text::longitude(geo.y()));
    QVERIFY(text(&window, "lblLatField").startsWith(QStringLiteral("57.40")));
    QCOMPARE(text(&window, "lblAltField"), QString());
    QCOMPARE(text(&window, "lblDoseRate"), QString());
}

QTEST_MAIN(TestMapTools)
#include "test_map_tools.moc"
