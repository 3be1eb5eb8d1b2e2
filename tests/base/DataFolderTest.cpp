// The data folder: beside the executable first, else the installed data
// folder found from the executable's folder, in a tree that may have moved.

#include "base/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

bool Touch(const QString &Path) {
  QFile File(Path);
  return QDir().mkpath(QFileInfo(Path).absolutePath()) && File.open(QIODevice::WriteOnly);
}

TEST(DataFolderTest, BesideTheExecutableThenTheInstalledFolderElseBeside) {
  struct TCase {
    const char *Name;
    QStringList Maps; // where "AzChart.bmp" lies, under the tree
    const char *Expected;
  };
  const TCase Cases[] = {
      {"build tree", {"bin/AzChart.bmp"}, "bin"},
      {"installed", {"share/orbalt/AzChart.bmp"}, "share/orbalt"},
      {"portable copy inside an installed tree",
       {"bin/AzChart.bmp", "share/orbalt/AzChart.bmp"},
       "bin"},
      {"nowhere", {}, "bin"},
      {"a folder is no map", {"bin/AzChart.bmp/x"}, "bin"},
  };
  for (const TCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    QTemporaryDir Tree;
    ASSERT_TRUE(Tree.isValid());
    ASSERT_TRUE(QDir(Tree.path()).mkpath(QStringLiteral("bin")));
    for (const QString &Map : Case.Maps)
      ASSERT_TRUE(Touch(Tree.filePath(Map)));
    const QString Expected = QDir::cleanPath(Tree.filePath(QString::fromUtf8(Case.Expected)));
    EXPECT_EQ(DataFolder(Tree.filePath(QStringLiteral("bin"))), Expected);
    // The same from a relative name of the executable's folder.
    const QString Saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Tree.path()));
    EXPECT_EQ(DataFolder(QStringLiteral("bin")), QFileInfo(Expected).canonicalFilePath());
    QDir::setCurrent(Saved);
  }
}

} // namespace
