#include "base/Routine.h"

#include "base/OrbaltVersion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <array>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 12> KeyNames = {
    "Comments",       "CompanyName",     "FileDescription",  "FileVersion",
    "InternalName",   "LegalCopyright",  "LegalTrademarks",  "OriginalFilename",
    "PrivateBuild",   "ProductName",     "ProductVersion",   "SpecialBuild"};

struct TVersionString {
  std::string_view Name;
  const char *Value;
};

// The strings the program carries; every other key reads as empty.
constexpr TVersionString VersionTable[] = {
    {"CompanyName", OrbaltVersion::CompanyName},
    {"FileVersion", OrbaltVersion::FileVersion},
    {"LegalCopyright", OrbaltVersion::LegalCopyright},
    {"ProductName", OrbaltVersion::ProductName},
    {"ProductVersion", OrbaltVersion::ProductVersion},
    {"Comments", OrbaltVersion::Comments},
};

// True when FileName names the running executable: the same path, or a link
// or relative name that resolves to it. The path comparison also covers a
// program file that was deleted while the program runs.
bool IsRunningProgram(const QString &FileName) {
  if (FileName.isEmpty() || !QCoreApplication::instance())
    return false;
  const QString Program = QCoreApplication::applicationFilePath();
  if (Program.isEmpty())
    return false;
  const QFileInfo Given(FileName);
  if (QDir::cleanPath(Given.absoluteFilePath()) == QDir::cleanPath(Program))
    return true;
  const QString Canonical = Given.canonicalFilePath();
  return !Canonical.isEmpty() && Canonical == QFileInfo(Program).canonicalFilePath();
}

} // namespace

QString GetVersionInfo(const QString &FileName, int Key) {
  if (Key < 0 || Key >= static_cast<int>(KeyNames.size()))
    return {};
  if (!IsRunningProgram(FileName))
    return {};
  for (const TVersionString &Entry : VersionTable)
    if (Entry.Name == KeyNames[Key])
      return QString::fromUtf8(Entry.Value);
  return {};
}

QString ProgramVersion() { return QString::fromLatin1(OrbaltVersion::ProductVersion); }

QString ProgramDesktopId() { return QString::fromLatin1(OrbaltVersion::DesktopId); }
