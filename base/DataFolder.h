#pragma once
// Where the program's read-only data lies: the default map and the pictures
// of the turn buttons.
//
// In a build tree, or a copy carried with its data, they lie beside the
// executable. An installed program finds them in its data folder
// ("share/orbalt" under the installation prefix), located from the
// executable's own folder ("../share/orbalt" from "bin"), so that an
// installed tree still works after it is moved as a whole.

#include <QString>

// The data folder of an executable in ExecutableFolder: that folder when it
// holds the default map, else the installed data folder relative to it when
// that holds the map, else ExecutableFolder (the files are then reported
// missing there). Absolute, without a trailing "/".
QString DataFolder(const QString &ExecutableFolder);

// The data folder of the running program.
QString DataFolder();
