// orvisk-spectrum against simulated instruments: the spectra of a few
// seconds written as a valid N42 file, Ctrl+C keeping what arrived, and
// each refusal with its exit status.
#include "sim_session.h"

#include <n42_file.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

struct Run
{
    int status = -1;
    QByteArray err;
};

// The program run to its end; with `cue`, sent SIGINT once its standard
// error shows it.
Run spectrum(const QStringList& args, const QByteArray& cue = {})
{
    QProcess p;
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(ORVISK_SPECTRUM), args);
    Run r;
    if (!cue.isEmpty()) {
        while (!r.err.contains(cue) && p.waitForReadyRead(20000))
            r.err += p.readAllStandardError();
        if (!r.err.contains(cue))
            return r;
        ::kill(pid_t(p.processId()), SIGINT);
    }
    if (!p.waitForFinished(60000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err += p.readAllStandardError();
    return r;
}

QString schemaComplaints(const QString& path)
{
    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"),
                  {QStringLiteral("--noout"), QStringLiteral("--schema"),
                   QStringLiteral(ORVISK_SOURCE_DIR "/tests/spectrum/data/n42.xsd"), path});
    if (!xmllint.waitForFinished(60000) || xmllint.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("xmllint did not run");
    return xmllint.exitCode() == 0 ? QString()
                                   : QString::fromLocal8Bit(xmllint.readAllStandardError());
}

std::unique_ptr<sim::Simulator> started(const char* family)
{
    sim::SimOptions o = session::loopback_options();
    o.family = family;
    o.events_hz = 20;
    auto s = std::make_unique<sim::Simulator>(o);
    s->start();
    return s;
}

QString tcp(const sim::Simulator& s)
{
    return QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port);
}

} // namespace

class TestOrviskSpectrum : public QObject
{
    Q_OBJECT

private slots:
    // An M38 sends two spectra per event: one accumulation each, in one file.
    void spectraOfAFewSecondsAsN42()
    {
        auto s = started("M38");
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("m38.n42"));
        const Run r = spectrum({tcp(*s), QStringLiteral("--seconds"), QStringLiteral("2"),
                                QStringLiteral("--out"), out});
        QVERIFY2(r.status == 0, r.err.constData());
        QVERIFY2(schemaComplaints(out).isEmpty(), qPrintable(schemaComplaints(out)));
        QString error;
        const auto read = readN42(out, &error);
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(read->source.family, QStringLiteral("M38"));
        QCOMPARE(read->source.serial, QString::fromStdString(s->instruments()[0].serial));
        QCOMPARE(read->spectra.size(), std::size_t(2));
        QCOMPARE(read->spectra[0].counts.size(), std::size_t(1024));
        QCOMPARE(read->spectra[1].counts.size(), std::size_t(256));
        // The latest running total, whose live time grows 5 s a spectrum.
        QVERIFY(read->spectra[0].liveSeconds >= 5);
        QVERIFY(r.err.contains("spectra"));
    }

    // Ctrl+C ends the run and what arrived is written; the default name
    // comes from the instrument.
    void interruptKeepsWhatArrived()
    {
        auto s = started("M22");
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const Run r = spectrum({tcp(*s)}, QByteArrayLiteral(" spectra, "));
        QDir::setCurrent(before);
        QVERIFY2(r.status == 0, r.err.constData());
        const QStringList files = QDir(dir.path()).entryList({QStringLiteral("M22-*.n42")});
        QCOMPARE(files.size(), 1);
        QString error;
        const auto read = readN42(dir.filePath(files[0]), &error);
        QVERIFY2(read && read->spectra.size() == 1, qPrintable(error));
    }

    void refusals()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("x.n42"));
        QCOMPARE(spectrum({}).status, 1);
        QCOMPARE(spectrum({QStringLiteral("tcp:127.0.0.1:1"), QStringLiteral("--seconds"),
                           QStringLiteral("0")})
                     .status,
                 1);
        QCOMPARE(spectrum({QStringLiteral("nonsense")}).status, 1);
        // Nothing listens there.
        QCOMPARE(spectrum({QStringLiteral("tcp:127.0.0.1:1"), QStringLiteral("--out"), out}).status,
                 2);
        // A folder that is not there, before anything is asked of the instrument.
        QCOMPARE(spectrum({QStringLiteral("tcp:127.0.0.1:1"), QStringLiteral("--out"),
                           dir.filePath(QStringLiteral("missing/x.n42"))})
                     .status,
                 6);
        // An M17 sends no spectra.
        auto m17 = started("M17");
        const Run r = spectrum({tcp(*m17), QStringLiteral("--seconds"), QStringLiteral("1"),
                                QStringLiteral("--out"), out});
        QCOMPARE(r.status, 3);
        QVERIFY(r.err.contains("sends no spectra"));
        // An M30 without events sends none in the time given.
        sim::SimOptions quiet = session::loopback_options();
        sim::Simulator m30(quiet);
        m30.start();
        QCOMPARE(spectrum({tcp(m30), QStringLiteral("--seconds"), QStringLiteral("1"),
                           QStringLiteral("--out"), out})
                     .status,
                 4);
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_MAIN(TestOrviskSpectrum)
#include "test_orvisk_spectrum.moc"
