#pragma once
// The automation server's command-line switches and its registration with
// the session bus: a D-Bus activation file "Orbalt.Orbalt.service" that lets
// the bus start the program (with "-Automation") when a client calls it while
// it is not running.
//
// Switches are recognised with a leading "/" or "-" in any letter case:
// "REGSERVER", "UNREGSERVER" (all users), "REGSERVERPERUSER",
// "UNREGSERVERPERUSER" (the current user), "AUTOMATION" and "EMBEDDING"
// (started for a client).

#include <QString>
#include <QStringList>

enum class TAutomationSwitch {
  None,
  RegServer,
  UnregServer,
  RegServerPerUser,
  UnregServerPerUser,
  // "AUTOMATION" or "EMBEDDING": started by the bus for a client.
  Automation,
};

// The first automation switch among Arguments (the program's own path, the
// first entry, is not looked at); None when there is none. A registration
// switch wins over "AUTOMATION" and "EMBEDDING".
TAutomationSwitch FindAutomationSwitch(const QStringList &Arguments);
// Argument is one of the switches above.
bool IsAutomationSwitch(const QString &Argument);

// The folder of the activation file: for all users the system's
// session-service folder, for the current user "dbus-1/services" in
// $XDG_DATA_HOME (an absolute path; otherwise ~/.local/share).
QString ActivationFolder(bool PerUser);
// The activation file's name.
QString ActivationFileName();
// The activation file's text for the executable at ExePath.
QString ActivationFileText(const QString &ExePath);

// Writes the activation file for ExePath into Folder, creating the folder.
// False with the reason in Error on failure.
bool WriteActivationFile(const QString &Folder, const QString &ExePath, QString *Error);
// Removes the activation file from Folder; a missing file is no failure.
bool RemoveActivationFile(const QString &Folder, QString *Error);

// Handles a registration switch in the program's arguments before anything
// else runs: writes or removes the activation file, prints the reason of a
// failure on the standard error, and gives the exit code (0 or 1). Gives -1
// when the arguments hold no registration switch and the program goes on.
int HandleRegistrationSwitch(int argc, char *argv[]);
