#include "base/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString DataFolder(const QString &ExecutableFolder) {
  const QString Marker = QStringLiteral("AzChart.bmp");
  const QDir Beside(ExecutableFolder);
  if (QFileInfo(Beside.filePath(Marker)).isFile())
    return QDir::cleanPath(Beside.absolutePath());
  const QString Installed =
      QDir::cleanPath(Beside.absoluteFilePath(QStringLiteral(ORBALT_DATA_FROM_BIN)));
  if (QFileInfo(QDir(Installed).filePath(Marker)).isFile())
    return Installed;
  return QDir::cleanPath(Beside.absolutePath());
}

QString DataFolder() { return DataFolder(QCoreApplication::applicationDirPath()); }
