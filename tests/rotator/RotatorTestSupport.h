#pragma once
// Shared pieces of the rotator tests: a driver wired to a controller emulator
// on a pseudo-terminal, the commands the emulator received, the messages and
// opening reports the driver raised, and waits that keep the main thread's
// events running.

#include "common/RotatorSettingsSamples.h"

#include "rotator/Gs232.h"
#include "tools/Gs232Emulator.h"
#include "common/RecordingUiServices.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString &Text, std::ostream *Out) {
  *Out << '"' << Text.toStdString() << '"';
}

namespace rotator_test {

using namespace std::chrono_literals;

// Generous: the machine may be slow and loaded.
constexpr int kWaitMs = 10000;

inline QStringList Commands(const Gs232Emulator &Emu) {
  QStringList Out;
  for (const auto &C : Emu.commands())
    Out << QString::fromLatin1(C.command);
  return Out;
}

inline int CountOf(const QStringList &Cmds, const QString &Cmd) {
  return static_cast<int>(Cmds.count(Cmd));
}

// Processes events until Done holds; false after kWaitMs.
inline bool WaitFor(const std::function<bool()> &Done, int TimeoutMs = kWaitMs) {
  return QTest::qWaitFor(Done, TimeoutMs);
}

// A read for a caller, waited for: the text the driver hands over (empty
// when it is closed or freed meanwhile).
inline QString Recv(TGs232 &Drv, int Len) {
  auto Reply = std::make_shared<std::optional<QString>>();
  Drv.BeginRecv(Len, [Reply](const QString &Text) { *Reply = Text; });
  WaitFor([&] { return Reply->has_value(); }, 10 * Len + 10000);
  return Reply->value_or(QString());
}

// One poll exchange after those before it, waited for.
inline void PollOnce(TGs232 &Drv) {
  auto Ended = std::make_shared<bool>(false);
  Drv.PollNow([Ended] { *Ended = true; });
  WaitFor([&] { return *Ended; });
}

// Every message a driver raised, in order, with its sender and kind.
struct TMessageLog {
  struct TEntry {
    QObject *Sender;
    QString Text;
    TMessageKind Kind;
  };

  void Attach(TGs232 &Drv) {
    Drv.SetMessage([this](QObject *Sender, const QString &Text, TMessageKind Kind) {
      Entries.append({Sender, Text, Kind});
    });
  }
  QStringList Texts() const {
    QStringList Out;
    for (const TEntry &E : Entries)
      Out << E.Text;
    return Out;
  }
  // True when every message came from Drv as Kind.
  bool AllFrom(const TGs232 *Drv, TMessageKind Kind) const {
    for (const TEntry &E : Entries)
      if (E.Sender != Drv || E.Kind != Kind)
        return false;
    return true;
  }

  QList<TEntry> Entries;
};

// Every ActiveChanged report of a driver: the value reported and whether
// the driver was active while its receivers ran.
struct TActiveLog {
  void Attach(TGs232 &Drv) {
    QObject::connect(&Drv, &TGs232::ActiveChanged, &Drv,
                     [this, D = &Drv](bool Active) { Reports << std::pair(Active, D->Active()); });
  }
  QList<bool> Values() const {
    QList<bool> Out;
    for (const auto &R : Reports)
      Out << R.first;
    return Out;
  }
  // True when Active() agreed with the reported value in every report.
  bool Consistent() const {
    for (const auto &R : Reports)
      if (R.first != R.second)
        return false;
    return true;
  }

  QList<std::pair<bool, bool>> Reports;
};

// A driver on an emulated controller. Its messages and opening reports are
// recorded; the message boxes are recorded too, as the driver must never
// show one itself.
struct TRig {
  explicit TRig(Gs232Emulator::Options Opts = {}) : Emu(Opts) {
    EXPECT_TRUE(Emu.start());
    Drv = std::make_unique<TGs232>();
    Messages.Attach(*Drv);
    Actives.Attach(*Drv);
    Drv->SetPort(Emu.devicePath());
    Drv->SetModel(QStringLiteral("GS-232A"));
    Drv->SetAzimuthAngle(az360);
  }
  ~TRig() {
    Drv.reset();
    Emu.stop();
    EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
  }

  // Opens the driver and waits until the controller has its start-up
  // commands, without processing events (so no poll has run yet).
  void Open(size_t StartupCommands = 3) {
    Drv->Open();
    ASSERT_TRUE(Drv->Active());
    ASSERT_TRUE(Emu.waitForCommands(StartupCommands, std::chrono::milliseconds(kWaitMs)));
  }

  int Polls() const {
    int N = 0;
    for (const auto &C : Emu.commands())
      N += C.command == "C" || C.command == "C2";
    return N;
  }

  // Runs the event loop until Count more polls have been answered and
  // evaluated (the query after them has reached the controller).
  void RunPolls(int Count) {
    const int Target = Polls() + Count + 1;
    ASSERT_TRUE(WaitFor([&] { return Polls() >= Target; }))
        << "polls stalled; driver " << (Drv->Active() ? "open" : "closed") << ", messages: "
        << Messages.Texts().join('|').toStdString() << ", received: "
        << Commands(Emu).join(',').toStdString();
  }

  // Runs Action and returns the commands it sent: everything the controller
  // received before a marker command sent afterwards. Unless Action waits, no
  // events run, so no poll interferes; DropPolls leaves out the polls that
  // ran inside its waits.
  QStringList SentBy(const std::function<void()> &Action, bool DropPolls = false) {
    Emu.clearLog();
    Action();
    Drv->DoCmd(QStringLiteral("K0")); // marker
    EXPECT_TRUE(WaitFor([&] { return Commands(Emu).contains(QStringLiteral("K0")); }));
    QStringList Cmds = Commands(Emu);
    Cmds = Cmds.mid(0, Cmds.indexOf(QStringLiteral("K0")));
    if (DropPolls)
      Cmds.removeIf([](const QString &C) { return C == u"C" || C == u"C2"; });
    return Cmds;
  }

  TScopedRecordingUi Ui;
  Gs232Emulator Emu;
  TMessageLog Messages;
  TActiveLog Actives;
  std::unique_ptr<TGs232> Drv;
};

} // namespace rotator_test
