#include "whole_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file a path finally names, through any links (as the save replaces it).
QFileInfo finalTarget(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info;
}

QString cause(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A new file beside `final` that no one else has: created with the mode a
// new file gets (the umask applies) or, when `final` exists, with its mode.
int createBeside(const QByteArray& final, const QByteArray& folder, const QByteArray& name,
                 QByteArray& temporary)
{
    struct stat st;
    const bool replacing = ::stat(final.constData(), &st) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + "/." + name.left(200) + '.' +
                    QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd =
            ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 && replacing)
            ::fchmod(fd, st.st_mode & 07777);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// The rename is only as durable as the folder entry that records it.
void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

QString outputPathProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name");
    const QFileInfo target = finalTarget(path);
    if (target.isDir())
        return QStringLiteral("%1: is a folder").arg(path);
    if (target.exists() && !target.isFile())
        return QStringLiteral("%1: is not a file").arg(path);
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("%1: the folder %2 does not exist").arg(path, folder.filePath());
    if (!folder.isWritable())
        return QStringLiteral("%1: the folder %2 is not writable").arg(path, folder.filePath());
    return {};
}

bool writeFileWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (const QString problem = outputPathProblem(path); !problem.isEmpty())
        return fail(problem);
    const QFileInfo target = finalTarget(path);
    const QByteArray final = QFile::encodeName(target.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(target.absolutePath());
    // Beside the target, so that the rename stays on one file system.
    QByteArray temporary;
    const int fd = createBeside(final, folder, QFile::encodeName(target.fileName()), temporary);
    if (fd < 0)
        return fail(QStringLiteral("%1: %2").arg(path, cause(errno)));
    const bool written = writeAll(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    const int closeError = errno;
    if (!written || !closed) {
        ::unlink(temporary.constData());
        return fail(QStringLiteral("%1: %2").arg(path, cause(written ? closeError : writeError)));
    }
    if (::rename(temporary.constData(), final.constData()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.constData());
        return fail(QStringLiteral("%1: %2").arg(path, cause(renameError)));
    }
    syncFolder(folder);
    return true;
}
