// orvisk-params as a script runs it: a parameter file loaded into the editor
// and saved again through it.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString sample = QStringLiteral(ORVISK_SOURCE_DIR "/params/sample_params.txt");

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(ORVISK_PARAMS), arguments);
    Run result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write(content);
    return file.fileName();
}

} // namespace

class TestOrviskParams : public QObject
{
    Q_OBJECT

private slots:
    void sampleSavedUnchanged();
    void valuesLeaveTheirEditorsAsTheyCame();
    void refusesWhatItCannotDo();
};

void TestOrviskParams::sampleSavedUnchanged()
{
    QTemporaryDir dir;
    const Run result = run({sample, "--save-as", dir.filePath("out.txt")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(!result.out.contains("field kit") && !result.err.contains("field kit"),
             "the passphrase was printed");

    // Everything but the keys a parameter file never carries.
    QByteArray expected;
    for (const QByteArray& line : readFile(sample).split('\n'))
        if (!line.isEmpty() && !line.startsWith("Params.serial_no ") &&
            !line.startsWith("Params.model."))
            expected += line + '\n';
    QVERIFY(expected.contains("Params.error_mask = 0xfffffffe\n"));
    QVERIFY(expected.contains("SlaveParams.defaults.ppCs137 = 662.5\n"));
    QCOMPARE(readFile(dir.filePath("out.txt")), expected);
}

void TestOrviskParams::valuesLeaveTheirEditorsAsTheyCame()
{
    // Beyond a spin box's default range and decimals, in forms a spin box
    // would rewrite, hexadecimal in either case, and keys no section can name.
    const QByteArray content = "Params..odd = 1\n"
                               "Params.big = 3000000000\n"
                               "Params.dpdata0 = 0xffffffffff\n"
                               "Params.fine = 0.000125\n"
                               "Params.hex = 0XAbC\n"
                               "Params.huge = 1234567890.5\n"
                               "Params.least = -2147483648\n"
                               "Params.long_hex = 0x123456789abcdef0\n"
                               "Params.padded = 007\n"
                               "Params.plus = +5\n"
                               "Params.precise = 1.0000001\n"
                               "Params.text = walk 3 of 4\n"
                               "Params.trailing = 0.1000\n"
                               "Params.wide = 12345.6789\n"
                               "SlaveParams.actual.GainADC0 = -99999.99\n"
                               "SlaveParams.defaults.fwhmCs137 = 0.1\n";
    QTemporaryDir dir;
    const QString in = writeFile(dir, "in.txt", content);
    const Run result = run({in, "--save-as", dir.filePath("out.txt")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("out.txt")), content);
}

void TestOrviskParams::refusesWhatItCannotDo()
{
    QTemporaryDir dir;
    QCOMPARE(run({}).exitCode, 2);
    QCOMPARE(run({sample, "--save-as"}).exitCode, 2);
    const Run missing = run({dir.filePath("missing.txt"), "--save-as", dir.filePath("out.txt")});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.contains("cannot read"));
    QVERIFY(!QFile::exists(dir.filePath("out.txt")));
    const Run unwritable = run({sample, "--save-as", dir.filePath("no/such/out.txt")});
    QCOMPARE(unwritable.exitCode, 1);
    QVERIFY(unwritable.err.contains("cannot write"));
    QCOMPARE(run({"--help"}).exitCode, 0);
}

QTEST_MAIN(TestOrviskParams)
#include "test_orvisk_params.moc"
