#include "app/MainAutomation.h"

#include "app/Main.h"
#include "settings/SettingsDocument.h"

#include <QTabWidget>

#include <algorithm>
#include <stdexcept>

bool TMainAutomation::CtrlTableEnable() const { return FMain.CtrlTableEnable; }

int TMainAutomation::RotatorCount() const {
  // The two lists stay in step; the smaller count guards against a window
  // that is half-way through changing them.
  return static_cast<int>(std::min<qsizetype>(FMain.Gs232s.size(), FMain.Rotators.size()));
}

int TMainAutomation::CurrentRotator() const { return FMain.CurrentRotator; }

TGs232 &TMainAutomation::Driver(int Index) {
  if (Index < 0 || Index >= RotatorCount() || !FMain.Gs232s[static_cast<size_t>(Index)])
    throw std::out_of_range("No rotator at this index");
  return *FMain.Gs232s[static_cast<size_t>(Index)];
}

QString TMainAutomation::RotatorBlock(int Index) const {
  if (Index < 0 || Index >= RotatorCount())
    throw std::out_of_range("No rotator at this index");
  return FMain.Rotators[Index];
}

bool TMainAutomation::RotatorEnabled(int Index) const {
  try {
    return BlockBool(BlockLines(RotatorBlock(Index)), QStringLiteral("Enable"));
  } catch (const std::exception &) {
    // A block whose "Enable" is no Boolean counts as disabled.
    return false;
  }
}

void TMainAutomation::AutoOperation(int Az, double Freq) { FMain.AutoOperation(Az, Freq); }

void TMainAutomation::RotatorOpenedOrClosed(int Index) {
  if (Index == FMain.CurrentRotator && FMain.Gs232 == &Driver(Index))
    FMain.RefreshRotatorPage();
  else
    FMain.UpdateStatusBar();
}

// --- Server -------------------------------------------------------------------------

TMainAutomationServer::TMainAutomationServer(TMain &Main, const QDBusConnection &Connection)
    : FMain(Main), FWorkspace(Main), FOrbalt(FWorkspace), FServer(FOrbalt, Connection) {
  FMain.CloseQuery = [this] {
    return FServer.ClientCount() == 0 || ConfirmEndWithAutomationClients();
  };
}

TMainAutomationServer::~TMainAutomationServer() {
  FMain.CloseQuery = nullptr;
  FServer.Stop();
}

bool TMainAutomationServer::Start(QString *Error) { return FServer.Start(Error); }

void TMainAutomationServer::EndWhenClientsLeave(std::function<void()> End) {
  // Queued: the end never runs inside the handling of a bus message.
  QObject::connect(&FServer, &TOrbaltDBusServer::LastClientLeft, &FServer, std::move(End),
                   Qt::QueuedConnection);
}
