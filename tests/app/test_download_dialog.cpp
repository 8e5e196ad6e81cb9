// The download period dialog: stepping within the ranges, Start and Cancel,
// and the choice remembered in the settings store.
#include "download_dialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QtTest>

namespace {

template <class T> T* child(QObject& dialog, const char* name)
{
    T* found = dialog.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no %s", name);
    return found;
}

void click(QObject& dialog, const char* button, int times = 1)
{
    for (int i = 0; i < times; ++i)
        child<QPushButton>(dialog, button)->click();
}

QString text(QObject& dialog, const char* edit)
{
    return child<QLineEdit>(dialog, edit)->text();
}

} // namespace

class TestDownloadDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Korvenix"));
        QCoreApplication::setApplicationName(QStringLiteral("Orvisk"));
    }

    void init() { QSettings().clear(); }

    void steppingStaysInRangeOnTheSelectedRow()
    {
        DownloadDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Download data"));
        QVERIFY(child<QRadioButton>(dialog, "radioButton_hours")->isChecked());
        QCOMPARE(text(dialog, "edit_hours"), QStringLiteral("1"));
        QCOMPARE(text(dialog, "edit_days"), QStringLiteral("1"));
        QVERIFY(child<QLineEdit>(dialog, "edit_hours")->isReadOnly());

        click(dialog, "btn_hours_down");
        QCOMPARE(text(dialog, "edit_hours"), QStringLiteral("1"));
        click(dialog, "btn_hours_up", 30);
        QCOMPARE(text(dialog, "edit_hours"), QStringLiteral("24"));
        click(dialog, "btn_hours_down");
        QCOMPARE(text(dialog, "edit_hours"), QStringLiteral("23"));
        // The days row does not move while hours are chosen.
        click(dialog, "btn_days_up");
        QCOMPARE(text(dialog, "edit_days"), QStringLiteral("1"));

        child<QRadioButton>(dialog, "radioButton_days")->setChecked(true);
        QVERIFY(!child<QRadioButton>(dialog, "radioButton_hours")->isChecked());
        click(dialog, "btn_hours_up");
        QCOMPARE(text(dialog, "edit_hours"), QStringLiteral("23"));
        click(dialog, "btn_days_up", 3);
        QCOMPARE(text(dialog, "edit_days"), QStringLiteral("4"));
        click(dialog, "btn_days_down", 9);
        QCOMPARE(text(dialog, "edit_days"), QStringLiteral("1"));
        child<QLineEdit>(dialog, "edit_days")->setText(QStringLiteral("364"));
        click(dialog, "btn_days_up", 2);
        QCOMPARE(text(dialog, "edit_days"), QStringLiteral("365"));
        // Text that is no number is left alone.
        child<QLineEdit>(dialog, "edit_days")->setText(QStringLiteral("x"));
        click(dialog, "btn_days_up");
        QCOMPARE(text(dialog, "edit_days"), QStringLiteral("x"));

        // ALL steps nothing.
        child<QRadioButton>(dialog, "radioButton")->setChecked(true);
        child<QLineEdit>(dialog, "edit_days")->setText(QStringLiteral("9"));
        click(dialog, "btn_days_up");
        click(dialog, "btn_hours_up");
        QCOMPARE(text(dialog, "edit_days"), QStringLiteral("9"));
        QCOMPARE(text(dialog, "edit_hours"), QStringLiteral("23"));
    }

    void startKeepsTheChoiceCancelDoesNot()
    {
        {
            DownloadDialog dialog;
            child<QRadioButton>(dialog, "radioButton_days")->setChecked(true);
            click(dialog, "btn_days_up", 6);
            child<QRadioButton>(dialog, "radioButton_hours")->setChecked(true);
            click(dialog, "btn_hours_up", 2);
            child<QRadioButton>(dialog, "radioButton_days")->setChecked(true);
            const DownloadPeriod period = dialog.period();
            QCOMPARE(period.kind, DownloadPeriod::Kind::Days);
            QCOMPARE(period.count, 7);
            click(dialog, "btn_start");
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(QSettings().value("LastDays").toInt(), 7);
        {
            // Opens with the previous choice; Cancel stores nothing.
            DownloadDialog dialog;
            QVERIFY(child<QRadioButton>(dialog, "radioButton_days")->isChecked());
            QCOMPARE(text(dialog, "edit_days"), QStringLiteral("7"));
            QCOMPARE(text(dialog, "edit_hours"), QStringLiteral("3"));
            QCOMPARE(dialog.days(), 7);
            child<QRadioButton>(dialog, "radioButton")->setChecked(true);
            QCOMPARE(dialog.period().kind, DownloadPeriod::Kind::All);
            click(dialog, "btn_cancel");
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        {
            DownloadDialog dialog;
            QVERIFY(child<QRadioButton>(dialog, "radioButton_days")->isChecked());
            child<QRadioButton>(dialog, "radioButton")->setChecked(true);
            click(dialog, "btn_start");
        }
        DownloadDialog dialog;
        QVERIFY(child<QRadioButton>(dialog, "radioButton")->isChecked());
        QCOMPARE(dialog.period().kind, DownloadPeriod::Kind::All);

        // Stored values out of range or of the wrong type are brought back in.
        QSettings settings;
        settings.setValue("LastHours", 99);
        settings.setValue("LastDays", "seven");
        settings.setValue("LastPeriod", "hours");
        DownloadDialog restored;
        QCOMPARE(text(restored, "edit_hours"), QStringLiteral("24"));
        QCOMPARE(text(restored, "edit_days"), QStringLiteral("1"));
        QCOMPARE(restored.period().kind, DownloadPeriod::Kind::Hours);
        QCOMPARE(restored.period().count, 24);
    }

    void periodBounds()
    {
        const QDateTime now(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);
        QCOMPARE((DownloadPeriod{DownloadPeriod::Kind::Hours, 5}.oldest(now)),
                 QDateTime(QDate(2026, 3, 10), QTime(7, 0), Qt::UTC));
        QCOMPARE((DownloadPeriod{DownloadPeriod::Kind::Days, 10}.oldest(now)),
                 QDateTime(QDate(2026, 2, 28), QTime(12, 0), Qt::UTC));
        QVERIFY(!(DownloadPeriod{DownloadPeriod::Kind::All, 0}.oldest(now).isValid()));
    }
};

QTEST_MAIN(TestDownloadDialog)
#include "test_download_dialog.moc"
