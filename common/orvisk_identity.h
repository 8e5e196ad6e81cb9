// The names every program of Orvisk gives itself, so that the window and the
// command-line programs share one settings store and one data folder.
#pragma once

#include <QCoreApplication>

inline const char* orviskVersion()
{
    return ORVISK_VERSION;
}

inline void setOrviskIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Korvenix"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("korvenix.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvisk"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVISK_VERSION));
}
