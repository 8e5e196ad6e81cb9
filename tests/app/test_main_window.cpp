#include "main_window.h"
#include "message_dialogs.h"
#include "orvisk.h"
#include "track_item.h"

#include <QGraphicsPixmapItem>
#include <QMenuBar>
#include <QPushButton>
#include <QResource>
#include <QSettings>
#include <QtTest>

namespace {

const QStringList settingsKeys = {"MainWindowGeometry", "MainWindowState", "ConnectionString",
                                  "LastDays", "trackR"};

QList<QPushButton*> buttons(MainWindow& window)
{
    QList<QPushButton*> list;
    for (const char* name : {"btnDevice", "btnConnect", "btnDisconnect", "btnDownload",
                             "btnDistance", "btnSettings", "btnQuit"})
        list << window.findChild<QPushButton*>(QLatin1String(name));
    return list;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void firstStartWithAnEmptyStore();
    void buttonsHaveIconsAndDistinctShortcuts();
    void quitAndCloseBothSave();
    void restartRestores();

private:
    QStringList messages;
};

void TestMainWindow::initTestCase()
{
    QVERIFY2(QResource::registerResource(QStringLiteral("data/res.dat")),
             "run in the runnable folder");
    QCoreApplication::setOrganizationName(QStringLiteral("Korvenix"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvisk"));
    ui::setMessageSink([this](const QString& text) { messages << text; });
}

void TestMainWindow::init()
{
    QSettings().clear();
    messages.clear();
}

void TestMainWindow::firstStartWithAnEmptyStore()
{
    MainWindow window;
    QCOMPARE(window.size(), QSize(1020, 693));
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvisk"));
    QCOMPARE(window.connectionString(), QString());
    QCOMPARE(window.lastDays(), 0);
    QCOMPARE(window.trackRadius(), 0);
    QVERIFY(window.menuBar()->isHidden());

    // The sample map loads without a message, under an empty track.
    QCOMPARE(messages, QStringList());
    TOrvisk* map = window.map();
    QVERIFY(map->hasProjections());
    QList<QGraphicsItem*> items =
        static_cast<QGraphicsView*>(map)->scene()->items(Qt::AscendingOrder);
    QCOMPARE(items.size(), 2);
    auto* mapItem = qgraphicsitem_cast<QGraphicsPixmapItem*>(items[0]);
    QVERIFY(mapItem && !mapItem->pixmap().isNull());
    QVERIFY(map->trackItem()->points().isEmpty());
    QCOMPARE(map->getScaleFactor(), 1.0);
}

void TestMainWindow::buttonsHaveIconsAndDistinctShortcuts()
{
    MainWindow window;
    QSet<QKeySequence> shortcuts;
    for (QPushButton* button : buttons(window)) {
        QVERIFY(button);
        QVERIFY2(!button->icon().pixmap(64).isNull(), qPrintable(button->objectName()));
        QVERIFY(!button->shortcut().isEmpty());
        shortcuts.insert(button->shortcut());
    }
    QCOMPARE(shortcuts.size(), 7);
}

void TestMainWindow::quitAndCloseBothSave()
{
    for (bool byQuit : {true, false}) {
        QSettings().clear();
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (byQuit)
            buttons(window).last()->click();
        else
            window.close();
        QVERIFY(!window.isVisible());
        QSettings settings;
        for (const QString& key : settingsKeys)
            QVERIFY2(settings.contains(key), qPrintable(key));
        QCOMPARE(settings.value("ConnectionString").toString(), QString());
        QCOMPARE(settings.value("LastDays").toInt(), 0);
        QCOMPARE(settings.value("trackR").toInt(), 0);
        QVERIFY(!settings.value("MainWindowGeometry").toByteArray().isEmpty());
    }
}

void TestMainWindow::restartRestores()
{
    {
        QSettings settings;
        settings.setValue("ConnectionString", "tcp:127.0.0.1:4444");
        settings.setValue("LastDays", 7);
        settings.setValue("trackR", 4);
    }
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.connectionString(), QStringLiteral("tcp:127.0.0.1:4444"));
        QCOMPARE(window.lastDays(), 7);
        QCOMPARE(window.trackRadius(), 4);
        window.resize(1200, 1050);
        QTRY_COMPARE(window.size(), QSize(1200, 1050));
        window.close();
    }
    MainWindow window;
    QCOMPARE(window.size(), QSize(1200, 1050));
    QCOMPARE(window.connectionString(), QStringLiteral("tcp:127.0.0.1:4444"));
    QCOMPARE(window.lastDays(), 7);
    QCOMPARE(window.trackRadius(), 4);

    // Values of the wrong type read as 0.
    QSettings().setValue("LastDays", "seven");
    QCOMPARE(MainWindow().lastDays(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
