// Parameter files, the labelled report and the settings store.
#include "captured_output.h"
#include "params_dialog.h"

#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class Files
{
public:
    QString write(const QString& name, const QByteArray& content)
    {
        QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(content);
        return path;
    }
    QByteArray read(const QString& name) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    QString path(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
};

const QHash<QString, QString>& table(const std::shared_ptr<ParamsSerializer>& serializer)
{
    return static_cast<ParamsTable&>(*serializer).values();
}

} // namespace

class TestParamsFiles : public QObject
{
    Q_OBJECT

private slots:
    void readingConvertsByKey();
    void writingReversesTheConversions();
    void keysNeverWritten();
    void labelledReport();
    void settingsStore();
    void limitsRefuseTheWholeFile();
    void savingFailsWithItsCause();
};

void TestParamsFiles::readingConvertsByKey()
{
    const QString mark = QLocale::system().decimalPoint();
    Files files;
    const QString path = files.write("in.txt", "gain = 5\n"
                                               "  spaced   key  =   some   value  \n"
                                               "a = b = c\n"
                                               "no sign here\n"
                                               "myParams = 3\n"
                                               "Params.ratio = 1,5\n"
                                               "SlaveParams.defaults.ppCs137 = 662\n"
                                               "SlaveParams.actual.fwhmCs137 = 7,5\n"
                                               "SlaveParams.actual.ppCs137 = many\n"
                                               "Params.dpdata0 = 0x1A\n"
                                               "Params.dpdata1 = 12\n"
                                               "SlaveParams.defaults.Flags = 0XZZ\n"
                                               "Params.error_mask = 0xFFFFFFFF\n"
                                               "Params.manual_mode_passphrase =  open  sesame \n");
    std::shared_ptr<ParamsSerializer> serializer;
    const QByteArray output =
        capturedOutput([&] { serializer = SimpleParamsSerializer::createSerializer(path); });
    QVERIFY2(!output.contains("sesame"), output.constData()); // a secret is not printed

    const QHash<QString, QString> expected{
        {"Params.gain", "5"},
        {"Params.spaced key", "some value"},
        {"myParams", "3"}, // has "params": no prefix
        {"Params.ratio", "1" + mark + "5"},
        {"SlaveParams.defaults.ppCs137", "6.62"},
        {"SlaveParams.actual.fwhmCs137", "0.075"},
        {"SlaveParams.actual.ppCs137", "0"},
        {"Params.dpdata0", "26"},
        {"Params.dpdata1", "12"},
        {"SlaveParams.defaults.Flags", "0"},
        {"Params.error_mask", "4294967295"},
        {"Params.manual_mode_passphrase", " open  sesame "},
    };
    QCOMPARE(table(serializer), expected);
    QCOMPARE(serializer->load({"SlaveParams", "", "defaults"}, "ppCs137", "x"), QString("6.62"));
    QCOMPARE(serializer->load("Params.none", "dflt"), QString("dflt"));

    QVERIFY(table(SimpleParamsSerializer::createSerializer(files.path("missing.txt"))).isEmpty());
    QVERIFY(table(SimpleParamsSerializer::createSerializer(QString())).isEmpty());
}

void TestParamsFiles::writingReversesTheConversions()
{
    const QByteArray mark = QString(QLocale::system().decimalPoint()).toUtf8();
    Files files;
    const QByteArray original = "Params.dpdata0 = 0x1A\n"
                                "Params.error_mask = 0x1A\n"
                                "Params.gain = 5\n"
                                "Params.manual_mode_passphrase = open  sesame \n"
                                "Params.note = a, b and c\n"
                                "Params.show_dose = 7\n"
                                "SlaveParams.actual.Oscillator = 0xFFFFFFFF\n"
                                "SlaveParams.defaults.ppCs137 = 662\n"
                                "SlaveParams.defaults.fwhmCs137 = 7.5\n";
    auto serializer = SimpleParamsSerializer::createSerializer(files.write("in.txt", original));
    serializer->store({"Params"}, "added", "x");
    QVERIFY(serializer->saveAll(files.path("out.txt")));
    const QByteArray written = files.read("out.txt");
    QCOMPARE(written, QByteArray("Params.added = x\n"
                                 "Params.dpdata0 = 0x1a\n"
                                 "Params.error_mask = 0x1a\n"
                                 "Params.gain = 5\n"
                                 "Params.manual_mode_passphrase = open  sesame \n"
                                 "Params.note = a" +
                                 mark +
                                 " b and c\n"
                                 "Params.show_dose = 0x7\n"
                                 "SlaveParams.actual.Oscillator = 0xffffffff\n"
                                 "SlaveParams.defaults.fwhmCs137 = 7.5\n"
                                 "SlaveParams.defaults.ppCs137 = 662\n"));

    // Read and saved again, the file stays as it is, the mask included.
    auto again = SimpleParamsSerializer::createSerializer(files.path("out.txt"));
    QCOMPARE(again->load("Params.error_mask", QString()), QString("26"));
    QVERIFY(again->saveAll(files.path("again.txt")));
    QCOMPARE(files.read("again.txt"), written);

    QVERIFY(!serializer->saveAll(files.path("no/such/folder/out.txt")));
}

void TestParamsFiles::keysNeverWritten()
{
    QByteArray content = "serial_no = C3000001\n"
                         " = empty key\n"
                         "Params = 1\n"
                         "Params.model = M30\n"
                         "set_current_time = 1\n"
                         "Params.kept = 1\n";
    for (const char* key : instrumentModelKeys)
        content += QByteArray(key) + " = 1\n";
    Files files;
    auto serializer = SimpleParamsSerializer::createSerializer(files.write("in.txt", content));
    QCOMPARE(serializer->load("Params.serial_no", QString()), QString("C3000001"));
    QCOMPARE(serializer->load("Params.", QString()), QString("empty key"));
    QCOMPARE(serializer->load("Params.model.M30", QString()), QString("1"));

    QVERIFY(serializer->saveAll(files.path("out.txt")));
    QCOMPARE(files.read("out.txt"), QByteArray("Params.kept = 1\n"));
    for (const char* key : instrumentModelKeys)
        QVERIFY2(!SimpleParamsSerializer::isWritten(key), key);
    QVERIFY(SimpleParamsSerializer::isWritten("Params.models"));
}

void TestParamsFiles::labelledReport()
{
    Files files;
    auto serializer = SlaveParamsSerializer::createSerializer(
        files.write("slave.txt", "SlaveParams.defaults.ppCs137 = 662\n"
                                 "SlaveParams.defaults.nch = 1024\n"
                                 "SlaveParams.defaults.calGainADC0 =  2,5 \n"
                                 "SlaveParams.defaults.Flags = 0x3\n"
                                 "SlaveParams.actual.Flags = 0x4\n"
                                 "gain = 5\n"
                                 "a = b = c\n"));
    // Read as it stands: no prefix, no conversion.
    QCOMPARE(table(serializer).value("gain"), QString("5"));
    QCOMPARE(table(serializer).value("SlaveParams.defaults.ppCs137"), QString("662"));
    QCOMPARE(table(serializer).size(), 6);

    serializer->store({"SlaveParams", "defaults"}, "PotHV", "128");
    QVERIFY(serializer->saveAll(files.path("report.txt")));
    QCOMPARE(files.read("report.txt"), QByteArray("Flags:              0x3\n"
                                                  "HV potentiometer:   128\n"
                                                  "Calib. GainADC0:    2,5\n"
                                                  "Number of channels: 1024\n"
                                                  "Peak Pos. 662 keV:  662\n"));
    QVERIFY(!serializer->saveAll(files.path("no/such/folder/report.txt")));
}

void TestParamsFiles::settingsStore()
{
    ParamsTree tree;
    tree.addParam("Rate", "rate", QVariant(10), QVariant(0), QVariant(100), 0)
        .addSection("Device", "dev")
        .addParam("Gain", "gain", QVariant(5), QVariant(0), QVariant(100), 0);
    {
        SettingsParamsSerializer settings("Detector");
        tree.saveValues(settings);
        QVERIFY(settings.saveAll(QString()));
        QCOMPARE(settings.load({"dev"}, "none", "dflt"), QString("dflt"));
    }
    QSettings store;
    QCOMPARE(store.value("Detector/rate").toString(), QString("10"));
    QCOMPARE(store.value("Detector/dev/gain").toString(), QString("5"));

    // A second tree of the same shape takes the values over.
    store.setValue("Detector/dev/gain", "42");
    store.sync();
    ParamsTree other;
    other.addParam("Rate", "rate", QVariant(0), QVariant(0), QVariant(100), 0)
        .addSection("Device", "dev")
        .addParam("Gain", "gain", QVariant(0), QVariant(0), QVariant(100), 0);
    SettingsParamsSerializer settings("Detector");
    other.loadValues(settings);
    QCOMPARE(other.getValue("Rate"), QVariant(10));
    QCOMPARE(other.getValue("Gain"), QVariant(42));
}

void TestParamsFiles::limitsRefuseTheWholeFile()
{
    auto nested = [](const QByteArray& first, int sections) {
        return first + QByteArray(".s").repeated(sections - 1) + ".key";
    };
    const QByteArray longest(ParamsTree::maxValueLength, 'v');
    Files files;

    // At the limits: 64 sections, and a value as long as an editor holds
    // once the white space around it is gone.
    const QByteArray accepted = "Params.long = " + longest + "\n" + nested("Params", 64) + " = 1\n";
    auto simple = SimpleParamsSerializer::createSerializer(files.write(
        "accepted.txt", "Params.long =  " + longest + "  \n" + nested("Params", 64) + " = 1\n"));
    QCOMPARE(simple->error(), QString());
    QCOMPARE(table(simple).size(), 2);
    QVERIFY(simple->saveAll(files.path("out.txt")));
    QCOMPARE(files.read("out.txt"), accepted);
    QCOMPARE(simple->error(), QString());

    // Beyond them the file is refused as a whole, by its line, through both
    // readers. A key read under "Params." gains a section.
    struct Refused
    {
        QByteArray line;
        QString why;
        bool bothReaders;
    };
    const QString deeper = "the key is nested deeper than 64 sections";
    const QList<Refused> refused{
        {nested("Params", 65) + " = 1", deeper, true},
        {nested("gain", 64) + " = 1", deeper, false},
        {"Params.long = " + longest + "v", "the value is longer than 65536 characters", true},
    };
    for (const Refused& r : refused) {
        const QString path = files.write("refused.txt", "Params.first = 1\n"
                                                        "no sign here\n" +
                                                            r.line + "\nParams.last = 2\n");
        const QString expected = path + ":3: " + r.why;
        auto read = SimpleParamsSerializer::createSerializer(path);
        QCOMPARE(read->error(), expected);
        QVERIFY(table(read).isEmpty());
        auto report = SlaveParamsSerializer::createSerializer(path);
        QCOMPARE(report->error(), r.bothReaders ? expected : QString());
        QCOMPARE(table(report).isEmpty(), r.bothReaders);
    }

    // A file that cannot be read says why.
    const QString missing = files.path("missing.txt");
    QVERIFY(SimpleParamsSerializer::createSerializer(missing)->error().startsWith(missing + ": "));
    QVERIFY(SlaveParamsSerializer::createSerializer(missing)->error().startsWith(missing + ": "));
}

void TestParamsFiles::savingFailsWithItsCause()
{
    Files files;
    QVERIFY(QDir(files.path("")).mkdir("folder"));
    files.write("folder/inside.txt", "kept\n");
    QVERIFY(QFile::link(files.path("folder"), files.path("link")));
    std::shared_ptr<ParamsSerializer> serializers[] = {
        SimpleParamsSerializer::createSerializer(QString()),
        SlaveParamsSerializer::createSerializer(QString())};
    for (const auto& serializer : serializers) {
        serializer->store("SlaveParams.defaults.nch", "1024");
        for (const char* name : {"folder", "link"}) {
            QVERIFY(!serializer->saveAll(files.path(name)));
            QCOMPARE(serializer->error(), files.path(name) + ": is a folder");
        }
        QCOMPARE(files.read("folder/inside.txt"), QByteArray("kept\n"));
        QVERIFY(QFileInfo(files.path("link")).isSymLink());
        // Success leaves no earlier cause behind.
        QVERIFY(serializer->saveAll(files.path("out.txt")));
        QCOMPARE(serializer->error(), QString());
    }
}

QTEST_MAIN(TestParamsFiles)
#include "test_params_files.moc"
