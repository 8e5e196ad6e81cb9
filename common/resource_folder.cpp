#include "resource_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString orviskResourceFolder(const QString& programFolder)
{
    // The program's own files come before whatever the current directory
    // holds, so an installed Orvisk never takes up a stranger's res.dat.
    if (!programFolder.isEmpty()) {
        const QString candidates[] = {
            QDir::cleanPath(programFolder + QStringLiteral("/../share/orvisk")) + QLatin1Char('/'),
            QDir::cleanPath(programFolder) + QLatin1Char('/'),
        };
        for (const QString& folder : candidates)
            if (QFileInfo(folder + QStringLiteral("data/res.dat")).isFile())
                return folder;
    }
    return QStringLiteral("./");
}

QString orviskResourceFolder()
{
    return orviskResourceFolder(QCoreApplication::applicationDirPath());
}
