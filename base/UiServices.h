#pragma once
// What the program asks of the desktop's dialogs: message boxes, the error
// dialog and the file dialogs, through the process-wide instance returned by
// Ui(). The window installs its widget implementation; without a window
// (headless, command-line tools) the console implementation writes each box
// as one line to standard error; tests install a recording one.
//
// The layers below the window never call these themselves: they raise
// events or return problems as values, and the owner shows them here. The
// one exception is Guarded, which keeps exceptions out of the event loop.

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
  // The program is ending: the boxes and dialogs open now close as if
  // answered (OK, No, Cancel), so that the code waiting behind them goes on.
  // Nothing for services whose boxes never wait.
  virtual void CloseBoxes() {}
};

// Writes every box as one line to standard error (line breaks become
// blanks); questions answer No and file dialogs are cancelled, so nothing
// ever waits for a person.
class TConsoleUiServices : public TUiServices {
public:
  void ShowMessage(const QString &Text) override;
  void ShowError(const QString &Text) override;
  bool AskWarningYesNo(const QString &Caption, const QString &Text) override;
  void ShowException(const QString &Message) override;
  std::optional<QString> OpenFile(const QString &Title, const QString &Filter,
                                  const QString &InitialFile) override;
  std::optional<QString> SaveFile(const QString &Filter, const QString &DefaultExt,
                                  const QString &InitialDir) override;
};

// How a message raised by a lower layer is meant: a notice (a message box)
// or an error (an error box).
enum TMessageKind { mkInformation, mkError };

// The installed services. Never null: until something is installed, the
// console instance is used, so nothing blocks.
TUiServices &Ui();
// Installs Services (not owned) and returns the previous one; nullptr
// restores the built-in console instance.
TUiServices *SetUi(TUiServices *Services);

// Shows a message raised by a lower layer as the box of its kind.
void ShowMessage(const QString &Text, TMessageKind Kind);

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
