#pragma once
// The command console: raw controller commands typed by the operator, sent to
// the current rotator's driver, with a transcript of what was sent ("S--> ")
// and what came back ("R--> ") that can be cleared and saved.
//
// TCommandConsole is the logic on a list of lines and needs no widgets.
// TConsolePanel builds the console's widgets inside the main window's
// pnlConsole and wires them to a TCommandConsole.
//
// How the main window uses it:
//
//   ConsolePanel = new TConsolePanel(pnlConsole, [this] { return Gs232; }, this);
//   // Window creation, emptying the command field and the transcript:
//   ConsolePanel->edtCommand->clear(); ConsolePanel->Console.Clear();
//
// The panel's buttons run guarded (an error is shown in the error dialog).
// The driver getter is asked on every Execute, so the console always talks to
// the driver that is current at that moment; a null driver counts as closed.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// How many characters are read back after a command: 20 for "C…" and "B…"
// (position queries), 2000 for "H…" (the help listing), 0 for anything else.
int ConsoleReplyLength(const QString &Command);

// The reply of a position query as shown: every line feed becomes "#10" and
// every carriage return "#13", each in double quotes.
QString ConsoleMarkLineBreaks(const QString &Reply);

// Sends a command (a command list as typed) to the current rotator and hands
// up to ReplyLength characters of its answer to Done once they are read;
// nothing is read for a ReplyLength of 0, and a rotator that can't take the
// command answers nothing. Done runs exactly once.
using TConsoleExchange =
    std::function<void(const QString &Command, int ReplyLength,
                       std::function<void(const QString &Reply)> Done)>;

class TCommandConsole {
public:
  // The transcript, one text line per entry.
  const QStringList &Lines() const { return FLines; }

  // Sends Command (turned to upper case) with a carriage return through
  // Exchange, appends "S--> " + the command, and once the reply the command
  // asks for has been read appends it as "R--> " + reply, then runs
  // Finished. An empty Command does nothing (Finished runs at once). Returns
  // the upper-case command. A null Exchange counts as closed: nothing is
  // sent and replies are empty.
  QString Execute(const QString &Command, const TConsoleExchange &Exchange,
                  std::function<void()> Finished = {});

  void Clear();

  // Asks for a file with the save dialog, starting in the user's documents
  // folder, writes the transcript there (lines ended by CR LF, the system's
  // 8-bit encoding, no byte-order mark) and empties the transcript. A
  // cancelled dialog empties the transcript too. A failed write throws
  // std::runtime_error and keeps the transcript.
  void Save();

  // Writes Lines to FileName as Save does; throws std::runtime_error when the
  // file can't be written, leaving any existing file unchanged.
  static void WriteTranscript(const QString &FileName, const QStringList &Lines);

  // Appends a text; a text with line breaks becomes several lines.
  void Append(const QString &Text);

  // Told about every appended line and every clearing (the panel's memo).
  std::function<void(const QString &Line)> OnLineAdded;
  std::function<void()> OnCleared;

private:
  QStringList FLines;
  // Expires with the console: a reply that comes later is not shown.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

// The console's widgets in the main window's console panel, at their places:
// Label4 "Command", edtCommand (upper case as typed), btnExecute "Execute",
// Memo1 (the transcript, read-only), btnClear "Clear", btnSave "Save".
class TConsolePanel : public QObject {
  Q_OBJECT
public:
  TConsolePanel(QWidget *Panel, TConsoleExchange Exchange, QObject *Parent = nullptr);

  TCommandConsole Console;

  QPointer<QLabel> Label4;
  QPointer<QLineEdit> edtCommand;
  QPointer<QPushButton> btnExecute;
  QPointer<QPlainTextEdit> Memo1;
  QPointer<QPushButton> btnClear;
  QPointer<QPushButton> btnSave;

  // The button handlers (guarded).
  void btnExecuteClick();
  void btnClearClick();
  void btnSaveClick();

private:
  TConsoleExchange FExchange;
  // A command's reply is awaited.
  bool FExecuting = false;
};
