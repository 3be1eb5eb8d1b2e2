#include "app/CommandConsole.h"

#include "base/AtomicWrite.h"
#include "base/UiServices.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QDir>
#include <QPushButton>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QValidator>

#include <stdexcept>

namespace {

const QString SentPrefix = QStringLiteral("S--> ");
const QString ReceivedPrefix = QStringLiteral("R--> ");

// Turns letters to upper case as they are typed or pasted.
class TUpperCaseValidator : public QValidator {
public:
  using QValidator::QValidator;
  State validate(QString &Input, int &) const override {
    Input = Input.toUpper();
    return Acceptable;
  }
};

} // namespace

int ConsoleReplyLength(const QString &Command) {
  if (Command.startsWith(QLatin1Char('C')) || Command.startsWith(QLatin1Char('B')))
    return 20;
  if (Command.startsWith(QLatin1Char('H')))
    return 2000;
  return 0;
}

QString ConsoleMarkLineBreaks(const QString &Reply) {
  QString Result = Reply;
  Result.replace(QChar(10), QStringLiteral("\"#10\""));
  Result.replace(QChar(13), QStringLiteral("\"#13\""));
  return Result;
}

// ---------------------------------------------------------------------------

QString TCommandConsole::Execute(const QString &Command, const TConsoleExchange &Exchange,
                                 std::function<void()> Finished) {
  if (Command.isEmpty()) {
    if (Finished)
      Finished();
    return Command;
  }
  const QString Upper = Command.toUpper();
  Append(SentPrefix + Upper);
  const int Length = ConsoleReplyLength(Upper);
  auto Show = [this, Alive = std::weak_ptr<bool>(FAlive), Upper, Length,
               Finished = std::move(Finished)](const QString &Text) {
    if (Alive.expired())
      return;
    if (Length > 0) {
      // A position reply is one line: its line ends are shown as markers.
      // The help listing keeps its line breaks and spreads over several
      // lines.
      Append(ReceivedPrefix +
             (Upper.startsWith(QLatin1Char('H')) ? Text : ConsoleMarkLineBreaks(Text)));
    }
    if (Finished)
      Finished();
  };
  if (Exchange)
    Exchange(Upper + QChar(13), Length, std::move(Show));
  else
    Show(QString());
  return Upper;
}

void TCommandConsole::Append(const QString &Text) {
  static const QRegularExpression LineBreak(QStringLiteral("\r\n|\r|\n"));
  for (const QString &Line : Text.split(LineBreak)) {
    FLines.append(Line);
    if (OnLineAdded)
      OnLineAdded(Line);
  }
}

void TCommandConsole::Clear() {
  FLines.clear();
  if (OnCleared)
    OnCleared();
}

void TCommandConsole::Save() {
  // The user's documents folder, or the home folder where there is none (a
  // folder that does not exist would be offered as the file name).
  QString Folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (Folder.isEmpty() || !QDir(Folder).exists())
    Folder = QDir::homePath();
  const auto FileName =
      Ui().SaveFile(QStringLiteral("Text File(*.txt)"), QStringLiteral("txt"), Folder);
  if (FileName)
    WriteTranscript(*FileName, FLines); // throws before the transcript is emptied
  Clear();
}

void TCommandConsole::WriteTranscript(const QString &FileName, const QStringList &Lines) {
  QByteArray Data;
  for (const QString &Line : Lines) {
    Data += Line.toLocal8Bit();
    Data += "\r\n";
  }
  QString Error;
  if (!WriteFileAtomically(FileName, Data, &Error))
    throw std::runtime_error(
        QStringLiteral("Cannot write %1: %2").arg(FileName, Error).toStdString());
}

// ---------------------------------------------------------------------------

TConsolePanel::TConsolePanel(QWidget *Panel, TConsoleExchange Exchange, QObject *Parent)
    : QObject(Parent), FExchange(std::move(Exchange)) {
  Label4 = new QLabel(QStringLiteral("Command"), Panel);
  Label4->setObjectName(QStringLiteral("Label4"));
  QFont Bold = Label4->font();
  Bold.setBold(true);
  Label4->setFont(Bold);
  Label4->move(4, 15);
  Label4->adjustSize();

  edtCommand = new QLineEdit(Panel);
  edtCommand->setObjectName(QStringLiteral("edtCommand"));
  edtCommand->setGeometry(72, 12, 108, 21);
  edtCommand->setValidator(new TUpperCaseValidator(edtCommand));

  btnExecute = new QPushButton(QStringLiteral("Execute"), Panel);
  btnExecute->setObjectName(QStringLiteral("btnExecute"));
  btnExecute->setGeometry(191, 6, 68, 33);

  Memo1 = new QPlainTextEdit(Panel);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(4, 40, 248, 266);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  btnClear = new QPushButton(QStringLiteral("Clear"), Panel);
  btnClear->setObjectName(QStringLiteral("btnClear"));
  btnClear->setGeometry(4, 312, 68, 33);

  btnSave = new QPushButton(QStringLiteral("Save"), Panel);
  btnSave->setObjectName(QStringLiteral("btnSave"));
  btnSave->setGeometry(184, 312, 68, 33);

  Console.OnLineAdded = [this](const QString &Line) {
    if (Memo1)
      Memo1->appendPlainText(Line);
  };
  Console.OnCleared = [this] {
    if (Memo1)
      Memo1->clear();
  };

  connect(btnExecute, &QPushButton::clicked, this, &TConsolePanel::btnExecuteClick);
  // Enter in the command field executes, as the button does.
  connect(edtCommand, &QLineEdit::returnPressed, this, &TConsolePanel::btnExecuteClick);
  connect(btnClear, &QPushButton::clicked, this, &TConsolePanel::btnClearClick);
  connect(btnSave, &QPushButton::clicked, this, &TConsolePanel::btnSaveClick);
}

void TConsolePanel::btnExecuteClick() {
  // The window goes on working while a reply is awaited; the console takes
  // one command at a time, so that each reply follows its own command.
  if (FExecuting)
    return;
  const QString Command = edtCommand->text().toUpper();
  if (Command.isEmpty())
    return;
  FExecuting = true;
  btnExecute->setEnabled(false);
  // The field is free for the next command: what was sent is in the
  // transcript, and text typed while the reply is awaited is kept.
  edtCommand->clear();
  const auto Ready = [Self = QPointer<TConsolePanel>(this)] {
    if (!Self)
      return;
    Self->FExecuting = false;
    if (Self->btnExecute)
      Self->btnExecute->setEnabled(true);
  };
  if (!Guarded([&] { Console.Execute(Command, FExchange, Ready); }))
    Ready();
}

void TConsolePanel::btnClearClick() {
  Guarded([this] { Console.Clear(); });
}

void TConsolePanel::btnSaveClick() {
  Guarded([this] { Console.Save(); });
}
