#pragma once
// The program's user-interface services: Qt message boxes and file dialogs,
// each modal with the event loop running behind it.

#include "base/UiServices.h"

class QWidget;

class TWidgetUiServices : public TUiServices {
public:
  // Parent of the boxes; the active window when null.
  QWidget *parent = nullptr;

  void ShowMessage(const QString &Text) override;
  void ShowError(const QString &Text) override;
  bool AskWarningYesNo(const QString &Caption, const QString &Text) override;
  void ShowException(const QString &Message) override;
  std::optional<QString> OpenFile(const QString &Title, const QString &Filter,
                                  const QString &InitialFile) override;
  std::optional<QString> SaveFile(const QString &Filter, const QString &DefaultExt,
                                  const QString &InitialDir) override;
  // Rejects the modal boxes and dialogs open now, the topmost first.
  void CloseBoxes() override;
};
