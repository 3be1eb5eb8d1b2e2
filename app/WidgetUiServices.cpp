#include "app/WidgetUiServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {
QWidget *ParentOf(QWidget *Parent) { return Parent ? Parent : QApplication::activeWindow(); }
QString AppTitle() { return QApplication::applicationName(); }
} // namespace

void TWidgetUiServices::ShowMessage(const QString &Text) {
  QMessageBox::information(ParentOf(parent), AppTitle(), Text, QMessageBox::Ok);
}

void TWidgetUiServices::ShowError(const QString &Text) {
  QMessageBox::critical(ParentOf(parent), AppTitle(), Text, QMessageBox::Ok);
}

bool TWidgetUiServices::AskWarningYesNo(const QString &Caption, const QString &Text) {
  return QMessageBox::warning(ParentOf(parent), Caption, Text, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
}

void TWidgetUiServices::ShowException(const QString &Message) {
  QMessageBox::critical(ParentOf(parent), AppTitle(), Message, QMessageBox::Ok);
}

std::optional<QString> TWidgetUiServices::OpenFile(const QString &Title, const QString &Filter,
                                                   const QString &InitialFile) {
  QString Name = QFileDialog::getOpenFileName(ParentOf(parent), Title, InitialFile, Filter);
  if (Name.isEmpty())
    return std::nullopt;
  return Name;
}

std::optional<QString> TWidgetUiServices::SaveFile(const QString &Filter, const QString &DefaultExt,
                                                   const QString &InitialDir) {
  QFileDialog Dialog(ParentOf(parent), QString(), InitialDir, Filter);
  Dialog.setAcceptMode(QFileDialog::AcceptSave);
  Dialog.setDefaultSuffix(DefaultExt);
  if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty())
    return std::nullopt;
  return Dialog.selectedFiles().first();
}
