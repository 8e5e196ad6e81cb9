// The team database: a PostgreSQL with PostGIS holding the archive's tables,
// so that what one surveyor downloaded reaches the others. Downloads are
// copied whole, one transaction each, and known by their uuid wherever they
// are; a record already on the other side is linked to, not copied again.
#pragma once

#include <QString>
#include <QtGlobal>

class SurveyArchive;

struct TeamResult
{
    int downloads = 0;    // copied
    int alreadyThere = 0; // found on the other side, by uuid
    qint64 records = 0;   // copied; those found there are linked to
    qint64 points = 0;    // of the records copied
};

// Connection strings are GDAL's: "PG:host=... port=... dbname=... user=...
// password=..." (the "PG:" may be left out).
//
// Not while a download is being written into the same archive object: both
// use its one connection.
//
// Copies the downloads the database lacks; creates its tables when it has
// none. False with one message when the database cannot be reached, refuses
// the login, has no PostGIS or is of a newer layout; the archive is only
// read.
bool pushArchive(SurveyArchive& archive, const QString& connection, TeamResult* result,
                 QString* error);
// Copies the downloads the archive lacks into it.
bool pullArchive(SurveyArchive& archive, const QString& connection, TeamResult* result,
                 QString* error);

// The same for an archive file, opened for the time of the copy. Nothing is
// opened (or created) locally before the database has answered.
bool pushArchive(const QString& archivePath, const QString& connection, TeamResult* result,
                 QString* error);
bool pullArchive(const QString& archivePath, const QString& connection, TeamResult* result,
                 QString* error);
