// The parameter dialog: Save and Load through the file choosers, the
// remembered folder, the buttons and the remembered layout.
#include "captured_output.h"
#include "file_dialogs.h"
#include "params_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Choice
{
    QString caption, start, filter;
};

// Answers the file choosers with `file` and remembers what they were asked.
class Chooser
{
public:
    explicit Chooser(QString file) : file(std::move(file))
    {
        auto answer = [this](const QString& caption, const QString& start, const QString& filter) {
            asked.append({caption, start, filter});
            return this->file;
        };
        previousSave = ui::setSaveFileChooser(answer);
        previousOpen = ui::setOpenFileChooser(answer);
    }
    ~Chooser()
    {
        ui::setSaveFileChooser(previousSave);
        ui::setOpenFileChooser(previousOpen);
    }

    QString file;
    QList<Choice> asked;

private:
    ui::FileChooser previousSave, previousOpen;
};

void build(ParamsDialog& dialog)
{
    dialog.addSection("Detector", "det")
        .addParam("Gain", "gain", QVariant(5), QVariant(0), QVariant(100), 0)
        .addParam("Mode", "mode", 1u, QStringList{"a", "b", "c"})
        .up()
        .addSection("Alarm", "alarm")
        .addParam("Level", "level", QVariant(2.5), QVariant(0.0), QVariant(10.0), 1)
        .addParam("Serial", "serial", "C3000001", QString())
        .readOnly();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QPushButton* buttonNamed(ParamsDialog& dialog, const QString& text)
{
    for (QPushButton* button :
         dialog.findChild<QDialogButtonBox*>("button_box")->findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace

class TestParamsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings().clear(); }
    void saveAndLoadThroughChosenFile();
    void buttonsAndForwarding();
    void remembersItsLayout();
    void refusalsAreTracedAndChangeNothing();
};

void TestParamsDialog::saveAndLoadThroughChosenFile()
{
    QTemporaryDir dir;
    ParamsDialog dialog("Survey kit", "kit_params",
                        ParamsDialog::SaveButton | ParamsDialog::LoadButton);
    build(dialog);
    const QString saved = dir.filePath("kit.txt");
    {
        Chooser chooser(saved);
        QVERIFY(dialog.saveValues());
        QCOMPARE(chooser.asked.size(), 1);
        QCOMPARE(chooser.asked[0].caption, QString("Choose a file to store the parameters"));
        QCOMPARE(chooser.asked[0].start, QDir::currentPath() + "/kit_params");
        QCOMPARE(chooser.asked[0].filter, QString("Korvenix parameters (*.txt);;"));
    }
    QCOMPARE(readFile(saved), QByteArray("alarm.level = 2.5\n"
                                         "det.gain = 5\n"
                                         "det.mode = 1\n"));
    QCOMPARE(QSettings().value("LastSaveLoadDir").toString(), dir.path());

    // A suffix without exporter is a parameter file too.
    dialog.changeValue("det.gain", 7);
    const QString other = dir.filePath("kit.params");
    {
        Chooser chooser(other);
        QVERIFY(dialog.saveValues());
        QCOMPARE(chooser.asked[0].start, dir.path() + "/kit_params");
    }
    QCOMPARE(readFile(other), QByteArray("alarm.level = 2.5\n"
                                         "det.gain = 7\n"
                                         "det.mode = 1\n"));

    // Loading brings the first file back, the read-only serial too.
    QVERIFY(QFile::remove(saved));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("det.gain = 5\nalarm.serial = C3000002\n");
    file.close();
    {
        Chooser chooser(saved);
        QVERIFY(dialog.loadValues());
        QCOMPARE(chooser.asked[0].caption, QString("Choose a file to load the parameters"));
        QCOMPARE(chooser.asked[0].filter, QString("Korvenix parameters (*.txt);;"));
    }
    QCOMPARE(dialog.value("Gain", "Detector", 0), QVariant(5));
    QCOMPARE(dialog.value("Mode", "Detector", 0), QVariant(1)); // not in the file
    QCOMPARE(dialog.value("Serial", "", QString()), QVariant("C3000002"));

    // Nothing chosen: nothing written, the folder kept.
    {
        Chooser chooser(QString{});
        QVERIFY(!dialog.saveValues());
        QVERIFY(!dialog.loadValues());
    }
    QCOMPARE(QSettings().value("LastSaveLoadDir").toString(), dir.path());

    // A file that cannot be written or read is not taken for success.
    {
        Chooser chooser(dir.filePath("no/such/kit.txt"));
        QVERIFY(!dialog.saveValues());
        QVERIFY(!dialog.loadValues());
    }
    QCOMPARE(dialog.value("Gain", "Detector", 0), QVariant(5));
}

void TestParamsDialog::buttonsAndForwarding()
{
    {
        ParamsDialog dialog("Plain");
        QVERIFY(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel));
        QVERIFY(!buttonNamed(dialog, "Save") && !buttonNamed(dialog, "Load"));
        QCOMPARE(dialog.windowTitle(), QString("Plain"));
        dialog.setCaption("Other");
        QCOMPARE(dialog.windowTitle(), QString("Other"));
    }

    QTemporaryDir dir;
    ParamsDialog dialog("Kit", QString(), ParamsDialog::SaveButton | ParamsDialog::NoCancelButton);
    build(dialog);
    QVERIFY(!dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel));
    QVERIFY(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
    QVERIFY(!buttonNamed(dialog, "Load"));
    QPushButton* save = buttonNamed(dialog, "Save");
    QVERIFY(save);
    Chooser chooser(dir.filePath("kit.txt"));
    save->click();
    QCOMPARE(chooser.asked.size(), 1);
    QVERIFY(chooser.asked[0].start.endsWith("/Kit")); // the title names the file
    QVERIFY(QFile::exists(dir.filePath("kit.txt")));

    QSignalSpy changed(&dialog, &ParamsDialog::valueChanged);
    dialog.tree()->findChild<QSpinBox*>("det.gain")->setValue(9);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0], (QList<QVariant>{"det.gain", 9}));
    QCOMPARE(dialog.value("Missing", "", 3u), QVariant(3u));
    QCOMPARE(dialog.value("Missing", "", true), QVariant(true));
}

void TestParamsDialog::remembersItsLayout()
{
    {
        ParamsDialog dialog("Layout kit");
        build(dialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.tree()->findItems("Alarm", Qt::MatchExactly)[0]->setExpanded(false);
        dialog.resize(500, 420);
        dialog.hide();
    }
    QSettings settings;
    settings.beginGroup("Layout kit");
    QCOMPARE(settings.value("size").toSize(), QSize(500, 420));
    const int count = settings.beginReadArray("nodes");
    QStringList nodes;
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        nodes << settings.value("node name").toString() + settings.value("node expand").toString();
    }
    settings.endArray();
    QCOMPARE(nodes, (QStringList{"Detector1", "Detector1", "Alarm0", "Alarm0"}));

    ParamsDialog again("Layout kit");
    build(again);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.size(), QSize(500, 420));
    QVERIFY(!again.tree()->findItems("Alarm", Qt::MatchExactly)[0]->isExpanded());
    QVERIFY(again.tree()->findItems("Detector", Qt::MatchExactly)[0]->isExpanded());
    again.hide();

    // Remembered for a larger screen: the dialog still fits this one.
    settings.setValue("size", QSize(5000, 4000));
    settings.setValue("pos", QPoint(-3000, 9000));
    settings.sync();
    ParamsDialog fitted("Layout kit");
    build(fitted);
    fitted.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fitted));
    const QRect screen = fitted.screen()->availableGeometry();
    QVERIFY2(screen.contains(fitted.frameGeometry()), qPrintable(QString("%1,%2 %3x%4")
                                                                     .arg(fitted.x())
                                                                     .arg(fitted.y())
                                                                     .arg(fitted.width())
                                                                     .arg(fitted.height())));
}

void TestParamsDialog::refusalsAreTracedAndChangeNothing()
{
    QTemporaryDir dir;
    ParamsDialog dialog("Refusing kit", "kit_params",
                        ParamsDialog::SaveButton | ParamsDialog::LoadButton);
    build(dialog);

    // A file refused by one line loads none of the others.
    const QString file = dir.filePath("deep.txt");
    QFile deep(file);
    QVERIFY(deep.open(QIODevice::WriteOnly));
    deep.write("det.gain = 9\ndet.mode = 2\nParams" + QByteArray(".a").repeated(100000) +
               " = 1\nalarm.serial = C3000009\n");
    deep.close();
    {
        Chooser chooser(file);
        bool loaded = true;
        const QByteArray traced = capturedOutput([&] { loaded = dialog.loadValues(); });
        QVERIFY(!loaded);
        QCOMPARE(traced, "Parameters not loaded: " + file.toUtf8() +
                             ":3: the key is nested deeper than 64 sections\n");
    }
    QCOMPARE(dialog.value("Gain", "Detector", 0), QVariant(5));
    QCOMPARE(dialog.value("Mode", "Detector", 0), QVariant(1));
    QCOMPARE(dialog.value("Serial", "", QString()), QVariant("C3000001"));

    // Save onto a folder: refused with its cause, the folder left as it was.
    QVERIFY(QDir(dir.path()).mkdir("folder.txt"));
    QFile inside(dir.filePath("folder.txt/inside"));
    QVERIFY(inside.open(QIODevice::WriteOnly));
    inside.close();
    {
        Chooser chooser(dir.filePath("folder.txt"));
        bool saved = true;
        const QByteArray traced = capturedOutput([&] { saved = dialog.saveValues(); });
        QVERIFY(!saved);
        QCOMPARE(traced, "Parameters not saved: " + dir.filePath("folder.txt").toUtf8() +
                             ": is a folder\n");
    }
    QVERIFY(QFile::exists(dir.filePath("folder.txt/inside")));
}

QTEST_MAIN(TestParamsDialog)
#include "test_params_dialog.moc"
