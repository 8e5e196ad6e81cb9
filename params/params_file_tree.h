// The editor for a parameter file as it stands: what orvisk-params shows.
#pragma once

#include <QHash>
#include <QString>

class ParamsDialog;

// Adds one section per dotted key prefix and one editor per key, chosen so
// that each value leaves its editor as it came in; keys a parameter file
// never carries are read-only.
void addFileParams(ParamsDialog& dialog, const QHash<QString, QString>& values);
