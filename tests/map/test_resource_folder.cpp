// Where Orvisk finds res.dat and the sample map: installed beside the program,
// in a build's run folder, or in the current directory.
#include <resource_folder.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestResourceFolder : public QObject
{
    Q_OBJECT

private slots:
    void installedFolderComesFirst();
};

namespace {

void makeFile(const QString& path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace

void TestResourceFolder::installedFolderComesFirst()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString prefix = temp.path() + QStringLiteral("/usr");
    const QString bin = prefix + QStringLiteral("/bin");
    QVERIFY(QDir().mkpath(bin));

    // Nothing anywhere: the current directory, as before there was an install.
    QCOMPARE(orviskResourceFolder(bin), QStringLiteral("./"));
    QCOMPARE(orviskResourceFolder(QString()), QStringLiteral("./"));

    // A share/orvisk with the map but no res.dat is not Orvisk's.
    QVERIFY(QDir().mkpath(prefix + QStringLiteral("/share/orvisk/maps/Korvenix")));
    QCOMPARE(orviskResourceFolder(bin), QStringLiteral("./"));
    // Nor is a folder that only carries the name.
    QVERIFY(QDir().mkpath(prefix + QStringLiteral("/share/orvisk/data/res.dat")));
    QCOMPARE(orviskResourceFolder(bin), QStringLiteral("./"));

    // A build's run folder: the program beside data/res.dat.
    makeFile(bin + QStringLiteral("/data/res.dat"));
    QCOMPARE(orviskResourceFolder(bin), bin + QLatin1Char('/'));

    // Installed, it wins over the run folder, however the folder is written.
    QVERIFY(QDir(prefix + QStringLiteral("/share/orvisk/data/res.dat")).removeRecursively());
    makeFile(prefix + QStringLiteral("/share/orvisk/data/res.dat"));
    const QString installed = prefix + QStringLiteral("/share/orvisk/");
    QCOMPARE(orviskResourceFolder(bin), installed);
    QCOMPARE(orviskResourceFolder(bin + QStringLiteral("/")), installed);
    QCOMPARE(orviskResourceFolder(prefix + QStringLiteral("/lib/../bin")), installed);
}

QTEST_GUILESS_MAIN(TestResourceFolder)
#include "test_resource_folder.moc"
