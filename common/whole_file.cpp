#include "whole_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
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

// The rename is only as durable as the folder entry that records it.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
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
    QSaveFile file(path);
    file.setDirectWriteFallback(false); // never truncate the target in place
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size()) {
        const QString cause = file.errorString();
        file.cancelWriting();
        file.commit(); // removes the temporary file
        return fail(QStringLiteral("%1: %2").arg(path, cause));
    }
    if (!file.commit())
        return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
    syncFolder(finalTarget(path).absolutePath());
    return true;
}
