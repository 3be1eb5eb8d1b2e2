#pragma once
// What the program asks of the desktop's dialogs: message boxes, the error
// dialog and the file dialogs. Non-widget code calls these through the
// process-wide instance returned by Ui(); the program installs the widget
// implementation, tests install RecordingUiServices.

#include <QString>
#include <optional>

class TUiServices {
public:
  virtual ~TUiServices() = default;

  // Modal box with the text and one OK button.
  virtual void ShowMessage(const QString &Text) = 0;
  // Modal box with an error icon, the text and one OK button.
  virtual void ShowError(const QString &Text) = 0;
  // Modal warning box with Yes and No, No the default. True for Yes.
  virtual bool AskWarningYesNo(const QString &Caption, const QString &Text) = 0;
  // The error dialog for the message of an error that ended an operator
  // action, event handler or start-up step.
  virtual void ShowException(const QString &Message) = 0;
  // File-open dialog; an empty optional when the operator cancels.
  virtual std::optional<QString> OpenFile(const QString &Title, const QString &Filter,
                                          const QString &InitialFile) = 0;
  // File-save dialog; an empty optional when the operator cancels.
  virtual std::optional<QString> SaveFile(const QString &Filter, const QString &DefaultExt,
                                          const QString &InitialDir) = 0;
};

// The installed services. Never null: until something is installed, a
// recording instance is used, so nothing blocks.
TUiServices &Ui();
// Installs Services (not owned) and returns the previous one; nullptr
// restores the built-in recording instance.
TUiServices *SetUi(TUiServices *Services);

// Runs Action and shows the message of any exception it throws in the error
// dialog, so that no exception crosses the event loop. Returns false when an
// exception was shown.
template <class F> bool Guarded(F &&Action);

#include <exception>
#include <stdexcept>
template <class F> bool Guarded(F &&Action) {
  try {
    Action();
    return true;
  } catch (const std::exception &E) {
    Ui().ShowException(QString::fromUtf8(E.what()));
  } catch (...) {
    Ui().ShowException(QStringLiteral("Unknown error"));
  }
  return false;
}
