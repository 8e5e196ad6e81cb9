// Files written whole or not at all. The bytes go to a temporary file beside
// the target, which is flushed to disk and renamed over the target only when
// every write succeeded; on any failure the temporary file is removed and an
// earlier file at the target stays as it was. A folder, or a link to one, is
// never a target, and nothing here removes one. A link to a file is written
// through: the file it names is replaced and the link stays.
#pragma once

#include <QByteArray>
#include <QString>

// Why `path` cannot take a file written there, or an empty text: it is a
// folder or a link to one, its folder does not exist or may not be written.
QString outputPathProblem(const QString& path);

// Writes `bytes` as the whole content of the file at `path`. False with the
// cause in `error` ("<path>: No space left on device").
bool writeFileWhole(const QString& path, const QByteArray& bytes, QString* error);
