// Running a shell script on a full file system, for tests of what a program
// does when its writes fail.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace fulldisk {

struct Result
{
    bool ran = false;   // whether the script ran at all
    int exitCode = -1;  // its exit status; -1 when it crashed or timed out
    bool tmpfs = false; // $FULL was a small tmpfs; otherwise file sizes were limited
    QByteArray out, err;
};

namespace detail {

// Whether this machine lets an unprivileged process mount a tmpfs of its own.
inline bool canMountTmpfs()
{
    static const bool can = [] {
        QTemporaryDir dir;
        QProcess probe;
        probe.start(QStringLiteral("unshare"),
                    {"--user", "--map-root-user", "--mount", "sh", "-c",
                     "mount -t tmpfs -o size=4k tmpfs \"$0\"", dir.path()});
        return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
               probe.exitCode() == 0;
    }();
    return can;
}

} // namespace detail

// Runs `script` with /bin/sh, with $FULL naming an empty folder on a file
// system that has only `freeBytes` bytes free (rounded up to whole pages).
// That is a tmpfs mounted in a user and mount namespace of the script's own,
// so it exists only while the script runs: the script makes there what it
// needs, runs the program and prints what the test should check. Where no
// such namespace can be made, $FULL is an ordinary folder and every file
// written is limited to `freeBytes` (rounded up to 512-byte blocks) instead:
// with SIGXFSZ ignored, a write past the limit fails with EFBIG. Keep what the
// script writes besides the program under test small.
inline Result runWithFullDisk(const QString& script, qint64 freeBytes, int timeoutMs = 60000)
{
    Result result;
    QTemporaryDir work;
    const QString full = work.filePath(QStringLiteral("full"));
    const QString scriptFile = work.filePath(QStringLiteral("script.sh"));
    QFile file(scriptFile);
    if (!QDir().mkdir(full) || !file.open(QIODevice::WriteOnly) ||
        file.write(script.toUtf8()) < 0 || !file.flush())
        return result;
    file.close();

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FULL"), full);
    process.setProcessEnvironment(environment);
    result.tmpfs = detail::canMountTmpfs();
    if (result.tmpfs)
        process.start(QStringLiteral("unshare"),
                      {"--user", "--map-root-user", "--mount", "sh", "-c",
                       "mount -t tmpfs -o size=\"$1\" tmpfs \"$FULL\" || exit 125; exec sh \"$2\"",
                       "sh", QString::number(freeBytes), scriptFile});
    else
        process.start(QStringLiteral("sh"),
                      {"-c", "trap '' XFSZ; ulimit -f \"$1\" || exit 125; exec sh \"$2\"", "sh",
                       QString::number((freeBytes + 511) / 512), scriptFile});
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.ran = true;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// `text` quoted for the shell, to put a path into a script.
inline QString shellQuoted(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1String("'"), QLatin1String("'\\''")) +
           QLatin1Char('\'');
}

} // namespace fulldisk
