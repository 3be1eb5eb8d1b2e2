#include "app/WidgetUiServices.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace {
QWidget *ParentOf(QWidget *Parent) { return Parent ? Parent : QApplication::activeWindow(); }
QString AppTitle() { return QApplication::applicationName(); }

// Runs a modal box over Parent (the active window when null) and gives that
// window back its activation when the box has closed. A window manager does
// that by itself; without one (a bare X server, a kiosk session) the window
// would stay inactive, its focus changes would go unnoticed and a field left
// by Tab would never be checked.
template <class TBox> auto OverWindow(QWidget *Parent, TBox Box) {
  QWidget *Owner = ParentOf(Parent);
  struct TGiveBack {
    QPointer<QWidget> Window;
    ~TGiveBack() {
      if (Window && Window->isVisible() && !Window->isActiveWindow())
        Window->activateWindow();
    }
  } GiveBack{Owner ? Owner->window() : nullptr};
  return Box(Owner);
}
} // namespace

void TWidgetUiServices::ShowMessage(const QString &Text) {
  OverWindow(parent, [&](QWidget *Parent) {
    QMessageBox::information(Parent, AppTitle(), Text, QMessageBox::Ok);
  });
}

// Errors are also written to standard error, one line each, where a terminal
// or the session's log keeps them for a report after the box is gone.
void TWidgetUiServices::ShowError(const QString &Text) {
  TConsoleUiServices().ShowError(Text);
  OverWindow(parent, [&](QWidget *Parent) {
    QMessageBox::critical(Parent, AppTitle(), Text, QMessageBox::Ok);
  });
}

bool TWidgetUiServices::AskWarningYesNo(const QString &Caption, const QString &Text) {
  return OverWindow(parent, [&](QWidget *Parent) {
    return QMessageBox::warning(Parent, Caption, Text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
  });
}

void TWidgetUiServices::ShowException(const QString &Message) {
  TConsoleUiServices().ShowException(Message);
  OverWindow(parent, [&](QWidget *Parent) {
    QMessageBox::critical(Parent, AppTitle(), Message, QMessageBox::Ok);
  });
}

std::optional<QString> TWidgetUiServices::OpenFile(const QString &Title, const QString &Filter,
                                                   const QString &InitialFile) {
  const QString Name = OverWindow(parent, [&](QWidget *Parent) {
    return QFileDialog::getOpenFileName(Parent, Title, InitialFile, Filter);
  });
  if (Name.isEmpty())
    return std::nullopt;
  return Name;
}

std::optional<QString> TWidgetUiServices::SaveFile(const QString &Filter, const QString &DefaultExt,
                                                   const QString &InitialDir) {
  return OverWindow(parent, [&](QWidget *Parent) -> std::optional<QString> {
    QFileDialog Dialog(Parent, QString(), InitialDir, Filter);
    Dialog.setAcceptMode(QFileDialog::AcceptSave);
    Dialog.setDefaultSuffix(DefaultExt);
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty())
      return std::nullopt;
    return Dialog.selectedFiles().first();
  });
}

void TWidgetUiServices::CloseBoxes() {
  // A rejected box is hidden at once and the one below it becomes the
  // active modal widget; one that stays (it refuses to close) ends the loop.
  QWidget *Last = nullptr;
  while (QWidget *Box = QApplication::activeModalWidget()) {
    if (Box == Last)
      break;
    Last = Box;
    if (auto *Dialog = qobject_cast<QDialog *>(Box))
      Dialog->reject();
    else
      Box->close();
  }
}
