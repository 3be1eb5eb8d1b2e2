// The command console: transcript lines against the controller emulator,
// reply markers, clearing and saving the transcript.

#include "app/CommandConsole.h"
#include "rotator/Gs232.h"
#include "tools/Gs232Emulator.h"
#include "common/RecordingUiServices.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <QTimer>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

QByteArray ReadAll(const QString &Path) {
  QFile File(Path);
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString &Path, const QByteArray &Data) {
  QFile File(Path);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  File.write(Data);
}

// The commands the emulator received, without the driver's own position polls
// (which run whenever a test lets events be processed).
std::vector<QByteArray> Commands(const Gs232Emulator &Emulator) {
  std::vector<QByteArray> Result;
  for (const auto &R : Emulator.commands())
    if (R.command != "C")
      Result.push_back(R.command);
  return Result;
}

// The console page with its widgets, talking to a driver opened on the
// emulator. The emulator ends data replies with CR alone and sends no bare CR
// for the other commands, so every read sees exactly the reply it asked for.
class CommandConsoleTest : public ::testing::Test {
protected:
  // The console's exchange with a bare driver, as the station runs it for the
  // current rotator: a driver freed during the command's wait reads nothing.
  static TConsoleExchange OnDriver(TGs232 *Driver) {
    return [Target = QPointer<TGs232>(Driver)](const QString &Command, int ReplyLength,
                                               std::function<void(const QString &)> Done) {
      if (!Target) {
        Done(QString());
        return;
      }
      Target->DoCmd(Command, [Target, ReplyLength, Done] {
        if (Target && ReplyLength > 0)
          Target->BeginRecv(ReplyLength, Done);
        else
          Done(QString());
      });
    };
  }

  static Gs232Emulator::Options EmulatorOptions() {
    Gs232Emulator::Options O;
    O.crlf = false;
    O.ackCR = false;
    O.azimuth = 123;
    return O;
  }

  void SetUp() override {
    Panel.show();
    ASSERT_TRUE(Emulator.start());
    Driver.SetModel(QStringLiteral("GS-232A"));
    Driver.SetPort(Emulator.devicePath());
    Driver.Open();
    ASSERT_TRUE(Driver.Active());
    // The start-up commands of the model (K0, S, I0) are not part of a test.
    ASSERT_TRUE(Emulator.waitForCommands(3, 10s));
    Emulator.clearLog();
  }
  void TearDown() override {
    Driver.Close();
    Emulator.stop();
  }

  QStringList Lines() const { return Console.Console.Lines(); }
  // Executes Command on Target and waits until its reply is in.
  void Run(const QString &Command, TGs232 *Target) {
    auto Finished = std::make_shared<bool>(false);
    Console.Console.Execute(Command, OnDriver(Target), [Finished] { *Finished = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return *Finished; }, 30000)) << Command.toStdString();
  }
  void Run(const QString &Command) { Run(Command, &Driver); }
  // Waits until the panel takes a command again: the last one's reply is in.
  void WaitIdle() {
    EXPECT_TRUE(QTest::qWaitFor([&] { return Console.btnExecute->isEnabled(); }, 30000));
  }
  QString Memo() const { return Console.Memo1->toPlainText(); }

  TScopedRecordingUi Recording;
  Gs232Emulator Emulator{EmulatorOptions()};
  TGs232 Driver;
  TGs232 *Current = &Driver;
  QWidget Panel;
  TConsolePanel Console{&Panel, [this](const QString &Command, int ReplyLength,
                                        std::function<void(const QString &)> Done) {
                          OnDriver(Current)(Command, ReplyLength, std::move(Done));
                        }};
};

} // namespace

TEST(CommandConsoleReplies, LengthReadDependsOnTheFirstLetter) {
  const std::pair<const char *, int> Cases[] = {
      {"C", 20}, {"C2", 20}, {"B", 20}, {"BI", 20}, {"H", 2000},
      {"H3", 2000}, {"M090", 0}, {"S", 0}, {"Y11", 0}, {"", 0},
  };
  for (const auto &[Command, Length] : Cases)
    EXPECT_EQ(ConsoleReplyLength(QString::fromLatin1(Command)), Length) << Command;
}

TEST(CommandConsoleReplies, LineEndsBecomeQuotedCodes) {
  const std::pair<const char *, const char *> Cases[] = {
      {"+0123\r", "+0123\"#13\""},
      {"+0123\r\n", "+0123\"#13\"\"#10\""},
      {"\n\rAZ=010", "\"#10\"\"#13\"AZ=010"},
      {"+0123", "+0123"},
      {"", ""},
  };
  for (const auto &[Reply, Shown] : Cases)
    EXPECT_EQ(ConsoleMarkLineBreaks(QString::fromLatin1(Reply)), QString::fromLatin1(Shown))
        << Reply;
}

TEST(CommandConsoleTranscript, TextWithLineBreaksBecomesSeveralLines) {
  TCommandConsole Console;
  QStringList Told;
  Console.OnLineAdded = [&](const QString &Line) { Told << Line; };
  Console.Append(QStringLiteral("R--> one\r\ntwo\rthree\nfour\r\n"));
  const QStringList Expected{"R--> one", "two", "three", "four", ""};
  EXPECT_EQ(Console.Lines(), Expected);
  EXPECT_EQ(Told, Expected);
}

TEST_F(CommandConsoleTest, LowerCaseQueryIsSentInUpperCaseAndItsReplyMarked) {
  Console.edtCommand->setFocus();
  QTest::keyClicks(Console.edtCommand, QStringLiteral("c2"));
  EXPECT_EQ(Console.edtCommand->text(), QStringLiteral("C2"));
  QTest::mouseClick(Console.btnExecute, Qt::LeftButton);
  WaitIdle();

  const QStringList Expected{"S--> C2", "R--> +0123+0000\"#13\""};
  EXPECT_EQ(Lines(), Expected);
  EXPECT_EQ(Memo(), Expected.join('\n'));
  EXPECT_EQ(Commands(Emulator), std::vector<QByteArray>{"C2"});
  EXPECT_TRUE(Recording->shown().isEmpty());
}

TEST_F(CommandConsoleTest, PastedLowerCaseIsTurnedToUpperCaseOnExecute) {
  // setText bypasses the typing rule, as a paste by other means would.
  Console.edtCommand->setText(QStringLiteral("c"));
  Console.btnExecuteClick();
  WaitIdle();
  EXPECT_EQ(Lines(), (QStringList{"S--> C", "R--> +0123\"#13\""}));
}

TEST_F(CommandConsoleTest, EnterEmptiesTheFieldSoTheNextCommandStandsAlone) {
  Console.edtCommand->setFocus();
  QTest::keyClicks(Console.edtCommand, QStringLiteral("c"));
  QTest::keyClick(Console.edtCommand, Qt::Key_Return);
  EXPECT_EQ(Console.edtCommand->text(), QString());
  WaitIdle();
  QTest::keyClicks(Console.edtCommand, QStringLiteral("m090"));
  QTest::keyClick(Console.edtCommand, Qt::Key_Enter);
  EXPECT_EQ(Console.edtCommand->text(), QString());
  WaitIdle();

  EXPECT_EQ(Lines(), (QStringList{"S--> C", "R--> +0123\"#13\"", "S--> M090"}));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Commands(Emulator).empty(); }, 10000));
  EXPECT_EQ(Commands(Emulator), (std::vector<QByteArray>{"M090"}));
}

TEST_F(CommandConsoleTest, OnlyQueriesAndHelpReadAReply) {
  Run(QStringLiteral("M090"));
  ASSERT_TRUE(Emulator.waitForCommands(1, 10s));
  EXPECT_EQ(Lines(), QStringList{"S--> M090"});

  // "BI" counts as an elevation query: the controller's error reply is read.
  Console.Console.Clear();
  Run(QStringLiteral("BI"));
  EXPECT_EQ(Lines(), (QStringList{"S--> BI", "R--> ?>\"#13\""}));

  // The help listing keeps its line breaks.
  Console.Console.Clear();
  Run(QStringLiteral("H"));
  const QStringList Help = Lines();
  ASSERT_GE(Help.size(), 4);
  EXPECT_EQ(Help[0], QStringLiteral("S--> H"));
  EXPECT_EQ(Help[1], QStringLiteral("R--> GS-232 controller emulator"));
  EXPECT_TRUE(Help.contains(QStringLiteral("H        this help")));
  EXPECT_EQ(Help.back(), QString());
  EXPECT_EQ(Memo(), Help.join('\n'));

  EXPECT_EQ(Commands(Emulator), (std::vector<QByteArray>{"M090", "BI", "H"}));
}

TEST_F(CommandConsoleTest, ClosedOrMissingDriverGetsEmptyReplies) {
  Driver.Close();
  Emulator.clearLog();
  const QStringList Expected{"S--> C", "R--> ", "S--> S"};
  Run(QStringLiteral("C"));
  Run(QStringLiteral("S"));
  EXPECT_EQ(Lines(), Expected);

  Console.Console.Clear();
  Current = nullptr;
  Console.edtCommand->setText(QStringLiteral("C"));
  Console.btnExecuteClick();
  WaitIdle();
  Console.edtCommand->setText(QStringLiteral("S"));
  Console.btnExecuteClick();
  WaitIdle();
  EXPECT_EQ(Lines(), Expected);

  // An empty command does nothing at all.
  Console.edtCommand->clear();
  Console.btnExecuteClick();
  EXPECT_EQ(Lines(), Expected);
  // At most the lone CR of closing reached the line.
  for (const QByteArray &Command : Commands(Emulator))
    EXPECT_TRUE(Command.isEmpty()) << Command.constData();
}

TEST_F(CommandConsoleTest, SaveWritesCrLfLinesWithoutBomAndEmptiesTheTranscript) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  const QString Path = Dir.filePath(QStringLiteral("console.txt"));
  // An existing, longer file is replaced as a whole.
  WriteFile(Path, QByteArray(500, 'x'));
  Run(QStringLiteral("C"));
  Run(QStringLiteral("M090"));
  Recording->saveAnswers.push_back(Path);

  QTest::mouseClick(Console.btnSave, Qt::LeftButton);

  EXPECT_EQ(ReadAll(Path), QByteArray("S--> C\r\nR--> +0123\"#13\"\r\nS--> M090\r\n"));
  EXPECT_TRUE(Lines().isEmpty());
  EXPECT_TRUE(Memo().isEmpty());
  ASSERT_EQ(Recording->entries.size(), 1u);
  const auto &Dialog = Recording->entries.front();
  EXPECT_EQ(Dialog.kind, TRecordingUiServices::Entry::SaveDialog);
  EXPECT_EQ(Dialog.caption, QStringLiteral("Text File(*.txt)"));
  const QString Documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  EXPECT_EQ(Dialog.text, QDir(Documents).exists() ? Documents : QDir::homePath());
}

// The save dialog starts in the documents folder, or in the home folder when
// there is no documents folder.
TEST_F(CommandConsoleTest, SaveDialogStartsInTheDocumentsFolderOrElseHome) {
  QTemporaryDir Home;
  ASSERT_TRUE(Home.isValid());
  const QByteArray OldHome = qgetenv("HOME");
  const QByteArray OldConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", Home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", Home.filePath(QStringLiteral(".config")).toLocal8Bit());
  for (const bool WithDocuments : {false, true}) {
    SCOPED_TRACE(WithDocuments);
    if (WithDocuments) {
      ASSERT_TRUE(QDir(Home.path()).mkdir(QStringLiteral("Documents")));
    }
    Recording->entries.clear();
    Console.btnSaveClick();
    ASSERT_EQ(Recording->entries.size(), 1u);
    EXPECT_EQ(Recording->entries.front().text,
              WithDocuments ? Home.filePath(QStringLiteral("Documents")) : Home.path());
  }
  qputenv("HOME", OldHome);
  if (OldConfig.isNull())
    qunsetenv("XDG_CONFIG_HOME");
  else
    qputenv("XDG_CONFIG_HOME", OldConfig);
}

TEST_F(CommandConsoleTest, CancelledSaveEmptiesTheTranscriptToo) {
  Run(QStringLiteral("C"));
  Console.btnSaveClick(); // no answer queued: the dialog is cancelled
  EXPECT_TRUE(Lines().isEmpty());
  EXPECT_TRUE(Memo().isEmpty());
  EXPECT_TRUE(Recording->shown().isEmpty());
}

TEST_F(CommandConsoleTest, FailedWriteIsReportedAndKeepsTheTranscript) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  // A path below a regular file can't be created, whoever runs the test.
  const QString Blocker = Dir.filePath(QStringLiteral("file"));
  WriteFile(Blocker, "keep");
  const QString Path = Blocker + QStringLiteral("/console.txt");
  Run(QStringLiteral("C"));
  const QStringList Before = Lines();
  Recording->saveAnswers.push_back(Path);

  Console.btnSaveClick();

  ASSERT_EQ(Recording->shown().size(), 1);
  EXPECT_TRUE(Recording->shown().front().contains(Path));
  EXPECT_EQ(Lines(), Before);
  EXPECT_EQ(Memo(), Before.join('\n'));
  EXPECT_EQ(ReadAll(Blocker), QByteArray("keep"));
}

TEST_F(CommandConsoleTest, ClearEmptiesTranscriptAndMemo) {
  Run(QStringLiteral("C"));
  QTest::mouseClick(Console.btnClear, Qt::LeftButton);
  EXPECT_TRUE(Lines().isEmpty());
  EXPECT_TRUE(Memo().isEmpty());
}

// A query whose list waits lets other work run; a rotator deleted meanwhile
// (the operator deletes it from its tab) gives an empty reply, not a crash.
TEST_F(CommandConsoleTest, RotatorDeletedDuringTheQueryWaitGivesAnEmptyReply) {
  auto Doomed = std::make_unique<TGs232>();
  Doomed->SetModel(QStringLiteral("GS-232A"));
  Doomed->SetPort(Emulator.devicePath());
  Driver.Close();
  Doomed->Open();
  ASSERT_TRUE(Doomed->Active());
  QTimer::singleShot(100, [&Doomed] { Doomed.reset(); });
  Run(QStringLiteral("C,WAIT500"), Doomed.get());
  EXPECT_FALSE(Doomed);
  EXPECT_EQ(Lines(), (QStringList{"S--> C,WAIT500", "R--> "}));
}

TEST_F(CommandConsoleTest, WhileAReplyIsAwaitedTheWindowWorksAndTakesNoSecondCommand) {
  Emulator.setSilent(true);
  Console.edtCommand->setText(QStringLiteral("C"));
  bool SeenDisabled = false;
  QObject Context; // no call into this frame once it has ended
  QTimer::singleShot(100, &Context, [&] {
    SeenDisabled = !Console.btnExecute->isEnabled();
    Console.btnExecuteClick(); // a second Execute while the first waits
  });
  // The click returns at once; the reply is awaited with the window working.
  Console.btnExecuteClick();
  EXPECT_FALSE(Console.btnExecute->isEnabled());
  WaitIdle();
  EXPECT_TRUE(SeenDisabled);
  EXPECT_EQ(Lines(), (QStringList{"S--> C", "R--> "}));
}
