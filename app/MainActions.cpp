#include "app/Main.h"

#include "app/About.h"
#include "app/Options.h"
#include "base/UiServices.h"
#include "station/Station.h"

#include <QPointer>
#include <QTabWidget>

// --- Rotators ---------------------------------------------------------------------------

void TMain::actInsRotatorExecute() {
  // Inserted before the selected tab: before the console tab, at the end.
  const int P = PageControl1->currentIndex();
  if (P < FStation.RotatorCount())
    LeaveCurrentRotator();
  // The station raises RotatorAdded (the tab appears) before it writes the
  // document; a document that can't be written is reported with the new
  // rotator in place.
  const auto Enter = [this, P] {
    SelectTabSilently(P);
    EnterTab(P);
    UpdateStatusBar();
  };
  try {
    FStation.InsertRotator(P);
  } catch (...) {
    Enter();
    throw;
  }
  Enter();
}

void TMain::actDelRotatorExecute() {
  const int P = PageControl1->currentIndex();
  int N = FStation.RotatorCount();
  if (P < 0 || P >= N)
    return;
  if (N < 2) {
    Ui().ShowMessage(QStringLiteral("The last rotator can't be deleted: insert another rotator "
                                    "first."));
    return;
  }
  // A rotator goes with its settings (and an open port is closed): only on
  // the operator's word.
  const quint64 Doomed = FStation.RotatorId(P);
  const TRotatorStatus Status = *FStation.Status(P);
  QString Question = QStringLiteral("Delete the rotator \"%1\"?").arg(Status.Title);
  if (Status.Open)
    Question += QStringLiteral("\nIts port %1 is open and will be closed.")
                    .arg(FStation.RotatorSettings(P).Port);
  if (!Ui().AskWarningYesNo(QStringLiteral("Delete Rotator"), Question))
    return;
  // Other work ran behind the question: the rotator must still be the one
  // selected, and not the last one.
  N = FStation.RotatorCount();
  if (FStation.IndexOfId(Doomed) != P || PageControl1->currentIndex() != P || N < 2)
    return;
  LeaveCurrentRotator();
  const int Selected = P == 0 ? N - 2 : P - 1;
  const auto Enter = [this, Selected] {
    SelectTabSilently(Selected);
    EnterTab(Selected);
    UpdateStatusBar();
  };
  PageControl1->setUpdatesEnabled(false);
  try {
    FStation.DeleteRotator(P);
  } catch (...) {
    PageControl1->setUpdatesEnabled(true);
    Enter();
    throw;
  }
  PageControl1->setUpdatesEnabled(true);
  Enter();
}

void TMain::actForwadRoatatorExecute() { MoveRotator(true); }

void TMain::actBackwardRptatorExecute() { MoveRotator(false); }

void TMain::MoveRotator(bool Forward) {
  const int I = PageControl1->currentIndex();
  const int N = FStation.RotatorCount();
  if (I < 0 || I >= N)
    return;
  // Forward is one place to the left, backward one to the right; at an end
  // the rotator moves to the other end and the others shift by one place.
  const int Q = Forward ? (I == 0 ? N - 1 : I - 1) : (I == N - 1 ? 0 : I + 1);
  const auto Select = [this, Q] {
    SelectTabSilently(Q);
    FStation.SetCurrentRotator(Q);
    UpdateStatusBar();
  };
  try {
    FStation.MoveRotator(I, Q);
  } catch (...) {
    Select();
    throw;
  }
  Select();
}

// --- Other commands -----------------------------------------------------------------------

void TMain::actGotoHomeExecute() {
  if (const int Index = Current(); Index >= 0)
    FStation.GoHome(Index);
}

void TMain::actCloseExecute() { close(); }

void TMain::actAboutBoxExecute() { ShowAboutBox(this); }

void TMain::actOptionsExecute() { ExecuteOptions(*this); }

void TMain::actStationExecute() { ExecuteStationSettings(*this); }

void TMain::actTurnToExecute() { ExecuteTurnTo(*this); }


bool ConfirmEndWithAutomationClients() {
  return Ui().AskWarningYesNo(
      QStringLiteral("オートメーションサーバーから警告"),
      QStringLiteral("作動中の COM オブジェクトがアプリケーション内に残っています。 "
                     "このアプリケーションはこれらのクライアントアプリケーションを失敗させることが"
                     "あります。\n\nこのアプリケーションを閉じますか？"));
}

// --- Station and Turn to -------------------------------------------------------------

void ExecuteStationSettings(TMain &Main, const TShowDialog &Show) {
  TStation &Station = Main.FStation;
  TNetworkSettings Network;
  if (Main.NetworkSettings) {
    Network = Main.NetworkSettings();
  } else {
    TLoadProblems Problems;
    Network = LoadNetworkSettings(Station.SettingsFile(), Problems);
  }
  QStringList Titles;
  for (int I = 0; I < Station.RotatorCount(); ++I)
    Titles << Station.Status(I)->Title;
  TStationDialog Dialog(Station.Location(), Network, Titles, &Main);
  if ((Show ? Show(Dialog) : Dialog.exec()) != QDialog::Accepted)
    return;
  if (Dialog.Settings() != Station.Location())
    Station.SetLocation(Dialog.Settings());
  if (Dialog.Network() == Network)
    return;
  if (Main.ApplyNetwork)
    Main.ApplyNetwork(Dialog.Network());
  else
    SaveNetworkSettings(Station.SettingsFile(), Dialog.Network());
}

void ExecuteTurnTo(TMain &Main, const TShowDialog &Show) {
  TStation &Station = Main.FStation;
  const quint64 Rotator = Station.RotatorId(Main.Current());
  if (Rotator == 0)
    return;
  TTurnToDialog Dialog(
      Station.Status(Main.Current())->Title,
      [&Station](const QString &Place) { return Station.Aim(Place); }, &Main);
  const int Result = Show ? Show(Dialog) : Dialog.exec();
  // The rotator the dialog was opened for must still be the current one.
  const auto *Aim = std::get_if<TStation::TAim>(&Dialog.Aimed());
  const int Index = Main.Current();
  if (Result != QDialog::Accepted || !Aim || Station.RotatorId(Index) != Rotator)
    return;
  if (!Station.SetPreset(Index, WholeDegrees(Dialog.Azimuth())).Done())
    return;
  Main.SetAimedAt(Aim->Place.Position);
  Main.SetPresetDisplay();
  if (Dialog.Go())
    Station.GoToPreset(Index);
}

// --- Options ------------------------------------------------------------------------------

void ExecuteOptions(TMain &Main, const TShowOptions &Show) {
  TStation &Station = Main.FStation;
  const quint64 Rotator = Station.RotatorId(Main.Current());
  if (Rotator == 0)
    return;

  TOptions Options(Station.CtrlTableFile(), &Main);
  // A control table that can't be read is told first; the rotator's options
  // can still be changed.
  if (!Options.TableProblem().isEmpty())
    Ui().ShowException(Options.TableProblem());
  // The order of filling is the order in which the setters' messages appear.
  Options.SetCtrlTableEnable(Station.CtrlTableEnable());
  Options.SetSettings(Station.RotatorSettings(Main.Current()));
  Options.SetCurrentPosition(Station.Status(Main.Current())->Azimuth);

  const int Result = Show ? Show(Options) : Options.exec();
  // The rotator the dialog was filled from must still be the current one.
  const int Index = Main.Current();
  if (Result != QDialog::Accepted || Station.RotatorId(Index) != Rotator)
    return;

  Station.SetCtrlTableEnable(Options.CtrlTableEnable());
  Station.ApplyRotatorSettings(Index, Options.Settings());
  // A rotator that is now disabled is closed again here. A page that can't
  // be shown (a map file that can't be read) is reported; the station's table
  // must follow the file all the same.
  Guarded([&Main] { Main.RefreshRotatorPage(); });

  // The station's table follows the file the dialog has written; without a
  // file, or with one the dialog could not read (and left alone), it stays as
  // it was.
  if (Options.TableProblem().isEmpty())
    Station.ReloadCtrlTable();
}
