#pragma once
// Shared pieces of the station tests: a temporary folder holding the settings
// document, documents written and read back with the settings document's own
// functions, a station with every report it raises logged in order, and the
// recording user-interface services, which must stay empty because the
// station shows nothing itself.

#include "station/StationSeam.h"
#include "common/RecordingUiServices.h"
#include "settings/SettingsDocument.h"
#include "settings/XMLIniFile.h"
#include "station/Station.h"
#include "tools/Gs232Emulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

inline void PrintTo(const QString &Text, std::ostream *Out) {
  *Out << '"' << Text.toStdString() << '"';
}

inline void PrintTo(const TRotatorSettings &S, std::ostream *Out) {
  *Out << "{Title=" << S.Title.toStdString() << " Enable=" << S.Enable
       << " AutoActive=" << S.AutoActive << " Model=" << S.Model.toStdString()
       << " Center=" << S.CenterPosition << " Angle=" << S.AzimuthAngle
       << " Speed=" << S.RotationSpeed.toStdString() << " Home=" << S.Home
       << " ReturnHome=" << S.ReturnHome << " Offset=" << S.Offset
       << " CommandB=" << S.CommandB.toStdString() << " CommandA=" << S.CommandA.toStdString()
       << " Relays=" << S.RelaysCount << " Port=" << S.Port.toStdString()
       << " Line=" << S.BaudRate.toStdString() << '/' << S.DataBits.toStdString() << '/'
       << S.Parity.toStdString() << '/' << S.StopBits.toStdString() << '/'
       << S.FlowControl.toStdString() << " Map=" << S.MapFileName.toStdString() << '}';
}

namespace station_test {

// Generous: the machine may be slow and loaded.
constexpr int kWaitMs = 15000;

inline bool WaitFor(const std::function<bool()> &Done) { return QTest::qWaitFor(Done, kWaitMs); }

inline QStringList Commands(const Gs232Emulator &Emu) {
  QStringList Out;
  for (const auto &C : Emu.commands())
    Out << QString::fromLatin1(C.command);
  return Out;
}

inline TRotatorSettings Rotator(const QString &Title, const QString &Port = QStringLiteral("COM3")) {
  TRotatorSettings S = TRotatorSettings::Defaults(Title);
  S.Port = Port;
  return S;
}

// The settings as a driver given S holds them (line settings in the port's
// own spelling).
inline TRotatorSettings Held(const TRotatorSettings &S) {
  TGs232 D;
  D.ApplySettings(S);
  return D.Settings();
}

inline QList<TRotatorSettings> Rotators(const QStringList &Titles) {
  QList<TRotatorSettings> Out;
  for (const QString &Title : Titles)
    Out << Rotator(Title);
  return Out;
}

class StationTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Dir.isValid()); }

  void TearDown() override {
    EXPECT_TRUE(Ui->shown().isEmpty()) << Ui->shown().join('|').toStdString();
    Station.reset();
    // Drivers the station removed are freed once control is back in an
    // event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  QString File() const { return Dir.filePath(QStringLiteral("orbalt.xml")); }

  void Store(const QList<TRotatorSettings> &List, bool CtrlTableEnable = false) {
    ::SaveRotators(File(), CtrlTableEnable, List);
  }

  QByteArray Bytes() const {
    QFile F(File());
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray("<missing>");
  }

  // The rotators of the document as the next start would read them.
  QList<TRotatorSettings> Stored() const {
    QList<TRotatorSettings> Out;
    if (!QFile::exists(File()))
      return Out;
    TXMLIniFile Ini(File());
    TLoadProblems Problems;
    Out = ReadRotatorEntries(Ini, Problems).value_or(QList<TRotatorSettings>());
    EXPECT_TRUE(Problems.isEmpty()) << LoadProblemsMessage(Problems).toStdString();
    return Out;
  }

  QStringList StoredTitles() const {
    QStringList Out;
    for (const TRotatorSettings &S : Stored())
      Out << S.Title;
    return Out;
  }

  // A station on the document (File() unless given), its reports logged,
  // not loaded yet.
  TStation &Make(const QString &Document = {}) {
    Station = std::make_unique<TStation>(Document.isEmpty() ? File() : Document);
    TStation *S = Station.get();
    auto Note = [this](const QString &Line) { Log << Line; };
    QObject::connect(S, &TStation::RotatorAdded, S,
                     [Note](int I) { Note(QStringLiteral("added %1").arg(I)); });
    QObject::connect(S, &TStation::RotatorRemoved, S,
                     [Note](int I) { Note(QStringLiteral("removed %1").arg(I)); });
    QObject::connect(S, &TStation::RotatorMoved, S, [Note](int From, int To) {
      Note(QStringLiteral("moved %1 %2").arg(From).arg(To));
    });
    QObject::connect(S, &TStation::RotatorOpened, S,
                     [Note](int I) { Note(QStringLiteral("opened %1").arg(I)); });
    QObject::connect(S, &TStation::RotatorClosed, S,
                     [Note](int I) { Note(QStringLiteral("closed %1").arg(I)); });
    QObject::connect(S, &TStation::Message, S, [this](const QString &Text, TMessageKind Kind) {
      Messages << Text;
      MessageKinds << Kind;
    });
    return *S;
  }

  // A station loaded from the document.
  TStation &Load(const QString &Document = {}) {
    TStation &S = Make(Document);
    S.Load();
    return S;
  }

  QStringList Titles() const {
    QStringList Out;
    for (int I = 0; I < Station->RotatorCount(); ++I)
      Out << TStationSeam::Driver(*Station, I).Title();
    return Out;
  }

  // The reports of the given kinds ("opened", "closed", ...), in order.
  QStringList LogOf(const QStringList &Kinds) const {
    QStringList Out;
    for (const QString &Line : Log)
      if (Kinds.contains(Line.section(u' ', 0, 0)))
        Out << Line;
    return Out;
  }

  QTemporaryDir Dir;
  TScopedRecordingUi Ui;
  std::unique_ptr<TStation> Station;
  QStringList Log;
  QStringList Messages;
  QList<TMessageKind> MessageKinds;
};

} // namespace station_test
