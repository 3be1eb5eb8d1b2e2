#include "app/OptionsAction.h"

#include "app/Main.h"
#include "app/Options.h"
#include "settings/SettingsDocument.h"
#include "base/UiServices.h"
#include "settings/ValueText.h"

#include <QFileInfo>
#include <QPointer>

void ExecuteOptions(TMain &Main, const TShowOptions &Show) {
  if (!Main.Gs232)
    return;
  const QPointer<TGs232> Driver = Main.Gs232;
  const QString Title = QStringLiteral("Title");
  const QString MapFileName = QStringLiteral("MapFileName");
  const QString Enable = QStringLiteral("Enable");
  const QString AutoActive = QStringLiteral("AutoActive");

  TOptions Options(Main.CtrlName, &Main);

  // The order of filling is the order in which the setters' messages appear.
  Options.SetCtrlTableEnable(Main.CtrlTableEnable);
  Options.SetTitle(BlockValue(Main.Rotator, Title));
  Options.SetMapFileName(BlockValue(Main.Rotator, MapFileName));
  Options.SetEnable(BlockBool(Main.Rotator, Enable));
  Options.SetAutoActive(BlockBool(Main.Rotator, AutoActive));
  Options.SetModel(Driver->Model());
  Options.SetCenterPosition(Driver->CenterPosition());
  Options.SetAzimuthAngle(Driver->AzimuthAngle());
  Options.SetRotationSpeed(Driver->RotationSpeed());
  Options.SetHomePosition(Driver->AzHomeD());
  Options.SetReturnHome(Driver->ReturnHome());
  Options.SetOffsetAngle(Driver->AzOffsetD());
  Options.SetCommandB(Driver->CommandB());
  Options.SetCommandA(Driver->CommandA());
  Options.SetRelaysCount(Driver->RelayArray()->Count());
  Options.SetCurrentPosition(Driver->AzimuthD());
  Options.SetPort(Driver->Port());
  Options.SetBaudRate(Driver->BaudRate());
  Options.SetDataBits(Driver->DataBits());
  Options.SetParity(Driver->Parity());
  Options.SetStopBits(Driver->StopBits());
  Options.SetFlowControl(Driver->FlowControl());

  const int Result = Show ? Show(Options) : Options.exec();
  // The rotator the dialog was filled from must still be the current one.
  if (Result != QDialog::Accepted || !Driver || Main.Gs232 != Driver)
    return;

  // The controller and line settings change only while the port is closed.
  if (Driver->Active())
    Driver->Close();

  Main.CtrlTableEnable = Options.CtrlTableEnable();

  SetBlockValue(Main.Rotator, Title, Options.Title());
  SetBlockValue(Main.Rotator, MapFileName, Options.MapFileName());
  SetBlockValue(Main.Rotator, Enable, BoolToText(Options.Enable()));
  SetBlockValue(Main.Rotator, AutoActive, BoolToText(Options.AutoActive()));
  Main.Rotators[Main.CurrentRotator] = BlockText(Main.Rotator);

  Driver->SetModel(Options.Model());
  Driver->SetCenterPosition(Options.CenterPosition() == cpSouth ? cpSouth : cpNorth);
  Driver->SetAzimuthAngle(Options.AzimuthAngle() == az450 ? az450 : az360);
  Driver->SetRotationSpeed(Options.RotationSpeed());
  Driver->SetHome(Options.HomePosition());
  Driver->SetReturnHome(Options.ReturnHome());
  Driver->SetOffset(Options.OffsetAngle());
  Driver->SetCommandB(Options.CommandB());
  Driver->SetCommandA(Options.CommandA());
  Driver->RelayArray()->SetCount(Options.RelaysCount());
  Driver->SetPort(Options.Port());
  Driver->SetBaudRate(Options.BaudRate());
  Driver->SetDataBits(Options.DataBits());
  Driver->SetParity(Options.Parity());
  Driver->SetStopBits(Options.StopBits());
  Driver->SetFlowControl(Options.FlowControl());

  // The settings in memory have changed already; a document that can't be
  // written is reported, and the port and the page still follow them.
  Guarded([&Main] { Main.SaveRotators(); });

  if (BlockBool(Main.Rotator, AutoActive))
    Driver->Open();
  // A rotator that is now disabled is closed again here. A page that can't
  // be shown (a map file that can't be read) is reported; the window's table
  // must follow the file all the same.
  Guarded([&Main] { Main.RefreshRotatorPage(); });

  // The window's table follows the file the dialog has written; without a
  // file it stays as it was.
  if (QFileInfo::exists(Main.CtrlName))
    Main.CtrlTable.Load(Main.CtrlName);
}
