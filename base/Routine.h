#pragma once
// Version strings of an executable, read by key number.
//
// The strings are compiled into the program, so only the running executable
// has them: any other file reads as a file without version information.

#include <QString>

// Key numbers of GetVersionInfo, in the order of the standard string names.
enum TVersionKey : int {
  vkComments = 0,
  vkCompanyName = 1,
  vkFileDescription = 2,
  vkFileVersion = 3,
  vkInternalName = 4,
  vkLegalCopyright = 5,
  vkLegalTrademarks = 6,
  vkOriginalFilename = 7,
  vkPrivateBuild = 8,
  vkProductName = 9,
  vkProductVersion = 10,
  vkSpecialBuild = 11,
};

// The version string named by Key (0 to 11) of the executable FileName. Empty
// when FileName is not the running program, when the program has no such
// string, and for a key outside 0 to 11. Never throws.
QString GetVersionInfo(const QString &FileName, int Key);

// The running program's product version ("1.2.0").
QString ProgramVersion();

// The name of the program's desktop entry (without ".desktop") and of its
// icon in the icon theme.
QString ProgramDesktopId();
