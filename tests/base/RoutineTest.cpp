// Version strings by key number: which keys the program carries, and which
// file names count as the program.

#include "base/Routine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString Program() { return QCoreApplication::applicationFilePath(); }

TEST(GetVersionInfo, EachKeyOfTheProgram) {
  enum TExpect { Empty, Text, Version };
  struct TCase {
    int Key;
    TExpect Expect;
    const char *Exact; // when not null, the exact text
  };
  const TCase Cases[] = {
      {-1, Empty, nullptr},
      {vkComments, Text, nullptr},
      {vkCompanyName, Text, nullptr},
      {vkFileDescription, Empty, nullptr},
      {vkFileVersion, Version, nullptr},
      {vkInternalName, Empty, nullptr},
      {vkLegalCopyright, Text, nullptr},
      {vkLegalTrademarks, Empty, nullptr},
      {vkOriginalFilename, Empty, nullptr},
      {vkPrivateBuild, Empty, nullptr},
      {vkProductName, Text, "Orbalt"},
      {vkProductVersion, Version, nullptr},
      {vkSpecialBuild, Empty, nullptr},
      {12, Empty, nullptr},
      {1000, Empty, nullptr},
  };
  const QRegularExpression FourParts(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"));
  for (const TCase &C : Cases) {
    SCOPED_TRACE(testing::Message() << "Key " << C.Key);
    const QString Value = GetVersionInfo(Program(), C.Key);
    EXPECT_FALSE(Value.contains(QChar(0)));
    switch (C.Expect) {
    case Empty:
      EXPECT_TRUE(Value.isEmpty()) << Value.toStdString();
      break;
    case Text:
      EXPECT_FALSE(Value.isEmpty());
      EXPECT_EQ(Value, Value.trimmed());
      if (C.Exact) {
        EXPECT_EQ(Value, QString::fromUtf8(C.Exact));
      }
      break;
    case Version:
      EXPECT_TRUE(FourParts.match(Value).hasMatch()) << Value.toStdString();
      EXPECT_TRUE(Value.startsWith(QStringLiteral(ORBALT_TEST_PROJECT_VERSION)))
          << Value.toStdString();
      break;
    }
  }
}

TEST(GetVersionInfo, OtherNamesOfTheProgramReadItsStrings) {
  QTemporaryDir Temp;
  ASSERT_TRUE(Temp.isValid());
  const QString Link = Temp.filePath(QStringLiteral("orbalt-link"));
  ASSERT_TRUE(QFile::link(Program(), Link));
  const QFileInfo Info(Program());
  const QString Names[] = {
      QDir::current().relativeFilePath(Program()),
      Info.absolutePath() + QStringLiteral("/./") + Info.fileName(),
      Link,
  };
  const QString Expected = GetVersionInfo(Program(), vkFileVersion);
  ASSERT_FALSE(Expected.isEmpty());
  for (const QString &Name : Names)
    EXPECT_EQ(GetVersionInfo(Name, vkFileVersion), Expected) << Name.toStdString();
}

TEST(GetVersionInfo, FilesOtherThanTheProgramHaveNone) {
  QTemporaryDir Temp;
  ASSERT_TRUE(Temp.isValid());
  const QString Plain = Temp.filePath(QStringLiteral("plain.txt"));
  QFile File(Plain);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  File.write("not a program\n");
  File.close();
  const QString Names[] = {
      QString(),
      Plain,
      Temp.filePath(QStringLiteral("missing")),
      QCoreApplication::applicationDirPath(),
  };
  for (const QString &Name : Names)
    for (int Key = vkComments; Key <= vkSpecialBuild; ++Key)
      EXPECT_TRUE(GetVersionInfo(Name, Key).isEmpty()) << Name.toStdString() << " key " << Key;
}

} // namespace
