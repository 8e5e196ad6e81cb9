// orvisk-params as a script runs it: a parameter file loaded into the editor
// and saved again through it.
#include "full_disk.h"

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

// What the program says about itself on standard error, without what Qt
// says about the environment.
QByteArray message(const QByteArray& err)
{
    QByteArray said;
    for (const QByteArray& line : err.split('\n'))
        if (line.startsWith("orvisk-params: "))
            said += line + '\n';
    return said;
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
    void limitsOfNestingAndValueLength();
    void foldersAreNeverTargets();
    void fullDiskKeepsTheEarlierFile();
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
    // The message names the file and the cause.
    QVERIFY2(message(unwritable.err)
                 .startsWith("orvisk-params: " + dir.filePath("no/such/out.txt").toUtf8() + ": "),
             unwritable.err.constData());
    QCOMPARE(run({"--help"}).exitCode, 0);
}

void TestOrviskParams::limitsOfNestingAndValueLength()
{
    auto nested = [](int sections) {
        return "Params" + QByteArray(".a").repeated(sections - 1) + ".x = 1\n";
    };
    const QByteArray longest(65536, 'v');
    QTemporaryDir dir;

    // At the limits: loaded into the editor and saved again whole.
    const QByteArray accepted = nested(64) + "Params.long = " + longest + "\n";
    const QString in = writeFile(dir, "in.txt", accepted);
    const Run kept = run({in, "--save-as", dir.filePath("out.txt")});
    QCOMPARE(kept.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("out.txt")), accepted);

    // Beyond them: the file is refused by its line, and nothing is written.
    const QList<QPair<QByteArray, QByteArray>> refused{
        {nested(65), "the key is nested deeper than 64 sections"},
        {nested(100000), "the key is nested deeper than 64 sections"},
        {"Params.long = " + longest + "v\n", "the value is longer than 65536 characters"},
    };
    for (const auto& [line, why] : refused) {
        const QString path = writeFile(dir, "refused.txt", "Params.first = 1\n" + line);
        const QString out = dir.filePath("refused_out.txt");
        const Run result = run({path, "--save-as", out});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(message(result.err), "orvisk-params: " + path.toUtf8() + ":2: " + why + "\n");
        QVERIFY(!QFile::exists(out));
    }
}

void TestOrviskParams::foldersAreNeverTargets()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    writeFile(dir, "folder/inside.txt", "kept\n");
    QVERIFY(QFile::link(dir.filePath("folder"), dir.filePath("link")));

    for (const QString& target : {dir.filePath("folder"), dir.filePath("link")}) {
        const Run result = run({sample, "--save-as", target});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(message(result.err).startsWith("orvisk-params: " + target.toUtf8() + ": "),
                 result.err.constData());
        QCOMPARE(QDir(dir.filePath("folder")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{"inside.txt"});
        QCOMPARE(readFile(dir.filePath("folder/inside.txt")), QByteArray("kept\n"));
    }
    QCOMPARE(QFileInfo(dir.filePath("link")).symLinkTarget(), dir.filePath("folder"));
}

void TestOrviskParams::fullDiskKeepsTheEarlierFile()
{
    // Far more than the file system has room for.
    QByteArray content;
    for (int i = 0; i < 8; ++i)
        content +=
            "Params.long" + QByteArray::number(i) + " = " + QByteArray(30000, 'a' + i) + "\n";
    QTemporaryDir dir;
    const QString in = writeFile(dir, "in.txt", content);
    const QString earlier = writeFile(dir, "earlier.txt", "Params.gain = 5\n");

    using fulldisk::shellQuoted;
    const fulldisk::Result result = fulldisk::runWithFullDisk(
        QStringLiteral("cp %1 \"$FULL/out.txt\"\n"
                       "%2 %3 --save-as \"$FULL/out.txt\"\n"
                       "echo \"status $?\"\n"
                       "cmp -s %1 \"$FULL/out.txt\" && echo kept\n"
                       "echo \"files: $(ls -A \"$FULL\")\"\n")
            .arg(shellQuoted(earlier), shellQuoted(ORVISK_PARAMS), shellQuoted(in)),
        64 * 1024);
    QVERIFY(result.ran);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("status 1\nkept\nfiles: out.txt\n"));
    const QByteArray cause = result.tmpfs ? "No space left on device" : "File too large";
    QVERIFY2(message(result.err).endsWith("/full/out.txt: " + cause + "\n"),
             result.err.constData());
}

QTEST_MAIN(TestOrviskParams)
#include "test_orvisk_params.moc"
