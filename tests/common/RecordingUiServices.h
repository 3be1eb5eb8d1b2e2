#pragma once
// User-interface services for tests: every box is recorded instead of shown,
// and dialogs answer with preset results at once.

#include "base/UiServices.h"

#include <QStringList>
#include <deque>
#include <optional>

class TRecordingUiServices : public TUiServices {
public:
  struct Entry {
    enum Kind { Message, Error, Warning, Exception, OpenDialog, SaveDialog } kind;
    QString caption; // warning caption, dialog title or filter
    QString text;    // box text, or the dialog's initial file or folder
  };

  void ShowMessage(const QString &Text) override;
  void ShowError(const QString &Text) override;
  bool AskWarningYesNo(const QString &Caption, const QString &Text) override;
  void ShowException(const QString &Message) override;
  std::optional<QString> OpenFile(const QString &Title, const QString &Filter,
                                  const QString &InitialFile) override;
  std::optional<QString> SaveFile(const QString &Filter, const QString &DefaultExt,
                                  const QString &InitialDir) override;

  // Everything shown, in order.
  std::deque<Entry> entries;
  // Answers for the next warning boxes and dialogs; when a queue is empty the
  // warning answers No and dialogs are cancelled.
  std::deque<bool> warningAnswers;
  std::deque<std::optional<QString>> openAnswers;
  std::deque<std::optional<QString>> saveAnswers;

  // Texts of the boxes of one kind, in order.
  QStringList texts(Entry::Kind Kind) const;
  // Texts of every message, error and exception box, in order.
  QStringList shown() const;
  void clear() { entries.clear(); }
};

// Installs a recording instance for the lifetime of this object.
class TScopedRecordingUi {
public:
  TScopedRecordingUi() : previous_(SetUi(&services)) {}
  ~TScopedRecordingUi() { SetUi(previous_); }
  TRecordingUiServices services;
  TRecordingUiServices *operator->() { return &services; }

private:
  TUiServices *previous_;
};
