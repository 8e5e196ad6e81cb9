// Where Orvisk's own files are: data/res.dat (the button icons) and maps/ (the
// sample map). Installed they are in ../share/orvisk beside the program; a
// build keeps them beside the program, in its run folder.
#pragma once

#include <QString>

// The first folder holding data/res.dat, with a trailing '/': the installed
// share/orvisk, then programFolder itself, then the current directory ("./",
// also when none holds it). programFolder is the executable's folder, which
// only tests give otherwise.
QString orviskResourceFolder(const QString& programFolder);
QString orviskResourceFolder();
