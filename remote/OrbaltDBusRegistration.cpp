#include "remote/OrbaltDBusRegistration.h"
#include "base/AtomicWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

// The system's folder of session-bus activation files.
const QString SystemServiceFolder = QStringLiteral("/usr/share/dbus-1/services");

// Exec lines are split like a shell command line: a path with anything but
// plain characters is quoted.
QString QuoteExecArgument(const QString &Text) {
  static const QString Plain = QStringLiteral("/._-+,:@=");
  bool Quote = Text.isEmpty();
  for (QChar Ch : Text)
    if (!(Ch.isLetterOrNumber() && Ch.unicode() < 128) && !Plain.contains(Ch))
      Quote = true;
  if (!Quote)
    return Text;
  QString Quoted = Text;
  Quoted.replace(u'\'', QStringLiteral("'\\''"));
  return u'\'' + Quoted + u'\'';
}

// The absolute path of the running executable.
QString ExecutablePath(const char *Argv0) {
  const QString Self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  if (!Self.isEmpty())
    return Self;
  return QFileInfo(QString::fromLocal8Bit(Argv0)).absoluteFilePath();
}

} // namespace

TAutomationSwitch FindAutomationSwitch(const QStringList &Arguments) {
  TAutomationSwitch Found = TAutomationSwitch::None;
  for (qsizetype I = 1; I < Arguments.size(); ++I) {
    const QString &Argument = Arguments[I];
    if (Argument.size() < 2 || (Argument[0] != u'/' && Argument[0] != u'-'))
      continue;
    const QString Name = Argument.mid(1).toUpper();
    if (Name == QLatin1String("REGSERVER"))
      return TAutomationSwitch::RegServer;
    if (Name == QLatin1String("UNREGSERVER"))
      return TAutomationSwitch::UnregServer;
    if (Name == QLatin1String("REGSERVERPERUSER"))
      return TAutomationSwitch::RegServerPerUser;
    if (Name == QLatin1String("UNREGSERVERPERUSER"))
      return TAutomationSwitch::UnregServerPerUser;
    if (Name == QLatin1String("AUTOMATION") || Name == QLatin1String("EMBEDDING"))
      Found = TAutomationSwitch::Automation;
  }
  return Found;
}

bool IsAutomationSwitch(const QString &Argument) {
  return FindAutomationSwitch({QString(), Argument}) != TAutomationSwitch::None;
}

QString ActivationFolder(bool PerUser) {
  if (!PerUser)
    return SystemServiceFolder;
  QString DataHome = qEnvironmentVariable("XDG_DATA_HOME");
  // Relative paths are to be ignored.
  if (DataHome.isEmpty() || QDir::isRelativePath(DataHome))
    DataHome = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(DataHome + QStringLiteral("/dbus-1/services"));
}

QString ActivationFileName() { return QStringLiteral("Orbalt.Orbalt.service"); }

QString ActivationFileText(const QString &ExePath) {
  return QStringLiteral("[D-BUS Service]\nName=Orbalt.Orbalt\nExec=%1 -Automation\n")
      .arg(QuoteExecArgument(ExePath));
}

bool WriteActivationFile(const QString &Folder, const QString &ExePath, QString *Error) {
  if (!QDir().mkpath(Folder)) {
    *Error = QStringLiteral("The folder %1 can't be created").arg(Folder);
    return false;
  }
  const QString FileName = QDir(Folder).filePath(ActivationFileName());
  QString Reason;
  if (WriteFileAtomically(FileName, ActivationFileText(ExePath).toUtf8(), &Reason))
    return true;
  *Error = QStringLiteral("%1 can't be written: %2").arg(FileName, Reason);
  return false;
}

bool RemoveActivationFile(const QString &Folder, QString *Error) {
  QFile File(QDir(Folder).filePath(ActivationFileName()));
  if (!File.exists())
    return true;
  if (!File.remove()) {
    *Error = QStringLiteral("%1 can't be removed: %2").arg(File.fileName(), File.errorString());
    return false;
  }
  return true;
}

int HandleRegistrationSwitch(int argc, char *argv[]) {
  QStringList Arguments;
  for (int I = 0; I < argc; ++I)
    Arguments << QString::fromLocal8Bit(argv[I]);
  const TAutomationSwitch Switch = FindAutomationSwitch(Arguments);
  bool Done = false;
  QString Error;
  switch (Switch) {
  case TAutomationSwitch::RegServer:
  case TAutomationSwitch::RegServerPerUser:
    Done = WriteActivationFile(ActivationFolder(Switch == TAutomationSwitch::RegServerPerUser),
                               ExecutablePath(argc > 0 ? argv[0] : ""), &Error);
    break;
  case TAutomationSwitch::UnregServer:
  case TAutomationSwitch::UnregServerPerUser:
    Done = RemoveActivationFile(
        ActivationFolder(Switch == TAutomationSwitch::UnregServerPerUser), &Error);
    break;
  default:
    return -1;
  }
  if (Done)
    return 0;
  std::fprintf(stderr, "%s\n", qPrintable(Error));
  return 1;
}
