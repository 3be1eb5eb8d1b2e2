#include "WidgetUiServices.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[]) {
  QApplication App(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orbalt"));
  TWidgetUiServices Services;
  SetUi(&Services);
  QLabel Placeholder(QStringLiteral("Orbalt: the main window is not built yet."));
  Placeholder.show();
  return App.exec();
}
