// Program entry: the single-instance lock, the main window and the event loop.
//
// Options besides those of the automation server:
//   --settings PATH  use PATH as the settings document (also the environment
//                    variable ORBALT_SETTINGS; the option wins)
//   --demo           try the program without hardware: an emulated rotator
//                    controller runs inside the program, and the settings live
//                    in a temporary folder with one rotator on the emulator
//   --screenshot FILE  save a picture of the window to FILE (PNG) two seconds
//                    after it is shown, then end (for the documentation)
//
// Automation server switches ("/" or "-", any letter case): RegServer,
// UnregServer, RegServerPerUser, UnregServerPerUser write or remove the bus
// activation file and end; Automation or Embedding mark a start by the bus for
// a client, after which the program ends when its last client has left.
//
// Network control (rotctld protocol), remembered in the settings document:
//   --rotctld [PORT]        serve rotator i on 127.0.0.1, port PORT + 2 i
//                           (PORT defaults to the remembered one, at first 4533)
//   --rotctld off           stop serving
//   --rotctld-address ADDR  listen on ADDR instead

#include "rotator/Gs232.h"
#include "tools/Gs232Emulator.h"
#include "app/Main.h"
#include "app/MainAutomation.h"
#include "app/MainRotctld.h"
#include "remote/OrbaltDBusRegistration.h"
#include "settings/SettingsDocument.h"
#include "station/SingleInstance.h"
#include "app/WidgetUiServices.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <stdexcept>

namespace {

// Writes a settings document with one enabled rotator on Device that opens at
// start.
void WriteDemoSettings(const QString &XmlName, const QString &Device) {
  QStringList Rotator;
  TGs232 Driver;
  ApplyRotatorDefaults(Rotator, Driver, QStringLiteral("Demo"));
  SetBlockValue(Rotator, QStringLiteral("Enable"), BoolToText(true));
  SetBlockValue(Rotator, QStringLiteral("AutoActive"), BoolToText(true));
  Driver.SetPort(Device);
  SaveRotators(XmlName, false, {BlockText(Rotator)}, {&Driver});
}

} // namespace

int main(int argc, char *argv[]) {
  // Automation server: a registration switch ends the program here, before
  // the single-instance check and without a window.
  if (const int Code = HandleRegistrationSwitch(argc, argv); Code >= 0)
    return Code;

  QApplication App(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orbalt"));
  TWidgetUiServices Services;
  SetUi(&Services);

  QCommandLineParser Parser;
  const QCommandLineOption SettingsOption(QStringLiteral("settings"),
                                          QStringLiteral("Settings document to use."),
                                          QStringLiteral("PATH"));
  const QCommandLineOption DemoOption(
      QStringLiteral("demo"), QStringLiteral("Run with an emulated rotator controller."));
  const QCommandLineOption ScreenshotOption(
      QStringLiteral("screenshot"), QStringLiteral("Save a picture of the window and end."),
      QStringLiteral("FILE"));
  Parser.addOption(SettingsOption);
  Parser.addOption(DemoOption);
  Parser.addOption(ScreenshotOption);
  // Other switches belong to the automation server; they are not refused here.
  Parser.parse(App.arguments());

  TSingleInstance Lock;
  if (!Lock.TryLock())
    return 0;

  TMainOptions Options;
  Options.SettingsFile = Parser.isSet(SettingsOption)
                             ? Parser.value(SettingsOption)
                             : qEnvironmentVariable("ORBALT_SETTINGS");

  std::unique_ptr<Gs232Emulator> Emulator;
  std::unique_ptr<QTemporaryDir> DemoFolder;
  if (Parser.isSet(DemoOption)) {
    Guarded([&] {
      Gs232Emulator::Options EmulatorOptions;
      EmulatorOptions.azimuth = 135; // the needle points somewhere to look at
      Emulator = std::make_unique<Gs232Emulator>(EmulatorOptions);
      if (!Emulator->start())
        throw std::runtime_error("The emulated rotator controller could not be started");
      DemoFolder = std::make_unique<QTemporaryDir>();
      if (!DemoFolder->isValid())
        throw std::runtime_error("No temporary folder for the demonstration settings");
      Options.SettingsFile = DemoFolder->filePath(QStringLiteral("Orbalt.xml"));
      WriteDemoSettings(Options.SettingsFile, Emulator->devicePath());
    });
  }

  int Result = 0;
  {
    TMain Window(Options);
    Services.parent = &Window;

    // Automation server: the automation object over the window's workspace,
    // offered on the session bus once the workspace exists. Started for a
    // client, the program ends when the last client has left, without the
    // closing sequence; started by the operator, it keeps running.
    TMainAutomationServer Automation(Window, QDBusConnection::sessionBus());
    QString AutomationError;
    if (!Automation.Start(&AutomationError))
      qWarning("Automation server not started: %s", qPrintable(AutomationError));
    if (FindAutomationSwitch(App.arguments()) == TAutomationSwitch::Automation)
      Automation.EndWhenClientsLeave([] { QCoreApplication::exit(0); });

    // Network control (rotctld protocol): a server for each of the window's
    // rotators while switched on by --rotctld or by the settings document.
    QStringList RotctldArguments = App.arguments();
    TMainRotctld Rotctld(Window, TakeRotctldArguments(RotctldArguments));

    Window.show();
    if (Parser.isSet(ScreenshotOption)) {
      const QString File = Parser.value(ScreenshotOption);
      QTimer::singleShot(2000, &Window, [&Window, File] {
        if (!Window.grab().save(File))
          qWarning("Could not write %s", qPrintable(File));
        Window.close();
      });
    }
    Result = App.exec();
    Services.parent = nullptr;
    // Drivers removed while the program ran are freed before the window goes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  if (Emulator)
    Emulator->stop();
  return Result;
}
