// Program entry: the single-instance lock, the station, its servers, the main
// window (or none) and the event loop.
//
// Options besides those of the automation server:
//   --headless       run the station and its servers without a window: no
//                    display is needed, every enabled rotator is opened (there
//                    is nobody to press Open) and one line per rotator on
//                    standard output tells whether it is open or why not,
//                    messages go to standard error one line
//                    each, and SIGTERM or SIGINT runs the closing sequence
//                    (rotators sent home and closed, settings written) and
//                    ends with exit code 0, or 1 when the settings could not
//                    be written
//   --settings PATH  use PATH as the settings document (also the environment
//                    variable ORBALT_SETTINGS; the option wins). Without it:
//                    the document beside the executable when one exists there
//                    and may be written (a portable copy), else
//                    $XDG_CONFIG_HOME/orbalt/orbalt.xml, its folder made at
//                    the first start. --help prints the one in use.
//   --demo           try the program without hardware: an emulated rotator
//                    controller runs inside the program, and the settings live
//                    in a temporary folder with one rotator on the emulator
//   --screenshot FILE  save a picture of the window to FILE (PNG) two seconds
//                    after it is shown, then end (for the documentation)
//   -h, --help       print the switches and end with 0; -v, --version print
//                    the version. A switch the program does not know prints
//                    the usage and ends with 2.
//
// One instance runs at a time: a second start asks the running one over the
// session bus to bring its window to the front, prints one line saying that
// Orbalt already runs and ends with 0.
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
// The loggers' links, remembered there too: --pst PORT|off, --n1mm PORT|off,
// --n1mm-status PORT, --rigctld HOST:PORT|off (see remote/StationNetwork.h).
// The web page, remembered there too: --web PORT|off, --web-address ADDR;
// --web-password reads a new password for it from standard input (an empty
// line removes it), stores its salted hash in the settings document and ends.

#include "app/Main.h"
#include "app/SecondStart.h"
#include "app/WidgetUiServices.h"
#include "base/DataFolder.h"
#include "base/Routine.h"
#include "base/UiServices.h"
#include "remote/OrbaltDBusRegistration.h"
#include "remote/StationAutomation.h"
#include "remote/StationNetwork.h"
#include "remote/WebPassword.h"
#include "settings/SettingsDocument.h"
#include "station/SingleInstance.h"
#include "station/Station.h"
#include "tools/Gs232Emulator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

const char *const HeadlessSwitch = "--headless";
const char *const WebPasswordSwitch = "--web-password";

// Writes a settings document with one enabled rotator on Device that opens at
// start.
void WriteDemoSettings(const QString &XmlName, const QString &Device) {
  TRotatorSettings Demo = TRotatorSettings::Defaults(QStringLiteral("Demo"));
  Demo.Enable = true;
  Demo.AutoActive = true;
  // The emulated controller turns from 0 to 360 with its end stops north:
  // the rotator's travel matches it, so that a preset anywhere arrives.
  Demo.CenterPosition = cpSouth;
  Demo.Port = Device;
  SaveRotators(XmlName, false, {Demo});
}

// A rotator as a start without a window reports it: title, controller
// model, port, and whether it is open or why not.
QString StartLine(const TRotatorStatus &S) {
  QString State;
  if (S.Open)
    State = QStringLiteral("open");
  else if (!S.Enabled)
    State = QStringLiteral("not enabled");
  else if (S.Problem.isEmpty())
    State = QStringLiteral("not open");
  else
    State = QStringLiteral("not open: ") + S.Problem.simplified();
  const QString Port = S.Port.isEmpty() ? QStringLiteral("no port") : S.Port;
  return QStringLiteral("%1 (%2) on %3: %4").arg(S.Title, S.Model, Port, State);
}

const char Usage[] =
    "Usage: orbalt [options]\n"
    "Controls the antenna rotators and the relay box of an amateur-radio station.\n"
    "\n"
    "Options:\n"
    "  --settings PATH          use PATH as the settings document (also the\n"
    "                           environment variable ORBALT_SETTINGS)\n"
    "  --headless               run without a window: every enabled rotator is\n"
    "                           opened and one line per rotator on standard\n"
    "                           output says whether it is; messages go to\n"
    "                           standard error, SIGTERM or SIGINT closes the\n"
    "                           station\n"
    "  --demo                   try it without hardware: an emulated controller\n"
    "                           and settings in a temporary folder\n"
    "  --screenshot FILE        save a picture of the window and end\n"
    "  --rotctld [PORT|off]     serve the rotctld protocol, rotator i on PORT + 2 i\n"
    "                           (first 4533); remembered in the settings\n"
    "  --rotctld-address ADDR   listen on ADDR instead of 127.0.0.1\n"
    "  --pst PORT|off           PstRotator's UDP messages on PORT (usually 12000)\n"
    "  --n1mm PORT|off          N1MM's rotor messages on PORT (usually 12040)\n"
    "  --n1mm-status PORT       where the headings go back to N1MM (13010)\n"
    "  --rigctld HOST:PORT|off  band following from rigctld (127.0.0.1:4532)\n"
    "  --web PORT|off           serve the web page on PORT (usually 8080)\n"
    "  --web-address ADDR       serve it on ADDR instead of 127.0.0.1 (needs a\n"
    "                           web password)\n"
    "  --web-password           read a new web password from standard input (an\n"
    "                           empty line removes it), store its hash and end\n"
    "  -Automation, -Embedding  started by the session bus for a client\n"
    "  -RegServer, -UnregServer, -RegServerPerUser, -UnregServerPerUser\n"
    "                           write or remove the bus activation file and end\n"
    "  -h, --help               show this text and end\n"
    "  -v, --version            show the version and end\n";

// The program's own switches, as both readings of the command line know
// them (Usage above is their text for the operator).
struct TSwitches {
  const QCommandLineOption Settings{QStringLiteral("settings"),
                                    QStringLiteral("Settings document to use."),
                                    QStringLiteral("PATH")};
  const QCommandLineOption Demo{QStringLiteral("demo"),
                                QStringLiteral("Run with an emulated rotator controller.")};
  const QCommandLineOption Screenshot{QStringLiteral("screenshot"),
                                      QStringLiteral("Save a picture of the window and end."),
                                      QStringLiteral("FILE")};
  const QCommandLineOption Headless{QStringLiteral("headless"),
                                    QStringLiteral("Run without a window.")};
  const QCommandLineOption Help{{QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show the switches and end.")};
  const QCommandLineOption Version{{QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and end.")};
  void AddTo(QCommandLineParser &Parser) const {
    Parser.addOptions({Settings, Demo, Screenshot, Headless, Help, Version});
  }
};

// The settings document to use: the one given by --settings, else by
// ORBALT_SETTINGS, else the executable's default.
TSettingsLocation SettingsDocument(const QCommandLineParser &Parser, const TSwitches &Switches) {
  const QString Given = Parser.isSet(Switches.Settings) ? Parser.value(Switches.Settings)
                                                        : qEnvironmentVariable("ORBALT_SETTINGS");
  if (!Given.isEmpty())
    return {TSettingsLocation::Given, Given};
  return DefaultSettingsLocation(QCoreApplication::applicationFilePath());
}

// The switches that only inform: --help and --version print and end with 0,
// and a switch the program does not know prints the usage and ends with 2.
// Checked before anything starts, so nothing is created and no display is
// needed. -1 when the program goes on.
int HandleInfoSwitches(int argc, char *argv[]) {
  QStringList Arguments;
  for (int I = 0; I < argc; ++I)
    Arguments << QString::fromLocal8Bit(argv[I]);
  // The switches of the rotctld servers and of the automation server are
  // read where they are used.
  TakeNetworkArguments(Arguments);
  Arguments.removeAll(QString::fromLatin1(WebPasswordSwitch));
  for (qsizetype I = Arguments.size() - 1; I >= 1; --I)
    if (IsAutomationSwitch(Arguments[I]))
      Arguments.removeAt(I);
  // Qt's own switches ("-platform offscreen", "-style Fusion", ...) are the
  // application object's.
  static const QStringList QtWithValue = {
      QStringLiteral("platform"), QStringLiteral("platformpluginpath"),
      QStringLiteral("platformtheme"), QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"),
      QStringLiteral("qwindowicon"), QStringLiteral("qwindowtitle"), QStringLiteral("geometry"),
      QStringLiteral("style"), QStringLiteral("stylesheet"), QStringLiteral("display"),
      QStringLiteral("session"), QStringLiteral("name"), QStringLiteral("title"),
      QStringLiteral("qmljsdebugger")};
  static const QStringList QtAlone = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"), QStringLiteral("dograb"),
                                      QStringLiteral("sync")};
  for (qsizetype I = 1; I < Arguments.size();) {
    const QString Name = Arguments[I].startsWith(u'-') ? Arguments[I].mid(1) : QString();
    const QString Bare = Name.section(u'=', 0, 0);
    if (QtWithValue.contains(Bare))
      Arguments.remove(I, Name.contains(u'=') || I + 1 >= Arguments.size() ? 1 : 2);
    else if (QtAlone.contains(Name))
      Arguments.removeAt(I);
    else
      ++I;
  }

  QCommandLineParser Parser;
  const TSwitches Switches;
  Switches.AddTo(Parser);
  QString Error;
  if (!Parser.parse(Arguments))
    Error = Parser.errorText();
  else if (!Parser.positionalArguments().isEmpty())
    Error = QStringLiteral("Unknown argument '%1'.").arg(Parser.positionalArguments().first());
  if (!Error.isEmpty()) {
    std::fprintf(stderr, "orbalt: %s\n\n%s", qPrintable(Error), Usage);
    return 2;
  }
  if (Parser.isSet(Switches.Help)) {
    // The paths in use, as a start with the same switches would take them.
    QCoreApplication Info(argc, argv);
    std::printf("%s\nSettings document: %s\nData folder:       %s\n", Usage,
                qPrintable(QDir::toNativeSeparators(SettingsDocument(Parser, Switches).File)),
                qPrintable(QDir::toNativeSeparators(DataFolder())));
    return 0;
  }
  if (Parser.isSet(Switches.Version)) {
    std::printf("Orbalt %s\n", qPrintable(ProgramVersion()));
    return 0;
  }
  return -1;
}

bool HasSwitch(int argc, char *argv[], const char *Switch) {
  for (int I = 1; I < argc; ++I)
    if (std::strcmp(argv[I], Switch) == 0)
      return true;
  return false;
}

bool HasHeadlessSwitch(int argc, char *argv[]) { return HasSwitch(argc, argv, HeadlessSwitch); }

// --web-password: one line from standard input becomes the web page's
// password, kept only as its salted hash; an empty line removes it. The
// exit code.
int SetWebPassword(const QString &SettingsFile) {
  // A prompt for a person at a terminal; a script's pipe gets none.
#ifdef Q_OS_UNIX
  const bool Terminal = ::isatty(STDIN_FILENO) != 0;
#else
  const bool Terminal = true;
#endif
  if (Terminal)
    std::fprintf(stderr, "New web password (an empty line removes it): ");
  std::string Line;
  std::getline(std::cin, Line);
  QString Password = QString::fromLocal8Bit(Line.c_str());
  if (Password.endsWith(u'\r'))
    Password.chop(1);
  bool Saved = false;
  Guarded([&] {
    TLoadProblems Problems;
    TNetworkSettings Settings = LoadNetworkSettings(SettingsFile, Problems);
    Settings.WebPassword = Password.isEmpty() ? QString() : HashWebPassword(Password);
    SaveNetworkSettings(SettingsFile, Settings);
    Saved = true;
  });
  if (!Saved)
    return 1;
  std::printf("%s\n", Password.isEmpty() ? "The web password is removed."
                                          : "The web password is set.");
  return 0;
}

#ifdef Q_OS_UNIX
// SIGTERM and SIGINT reach the event loop through a socket pair: the handler
// only writes one byte, the notifier runs the end on the main thread.
int SignalSockets[2] = {-1, -1};

void OnEndSignal(int) {
  const char Byte = 1;
  [[maybe_unused]] const ssize_t Written = ::write(SignalSockets[0], &Byte, 1);
}

// Runs End (once) on the main thread when SIGTERM or SIGINT arrives.
void OnEndSignals(QObject *Context, std::function<void()> End) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalSockets) != 0)
    return;
  auto *Notifier = new QSocketNotifier(SignalSockets[1], QSocketNotifier::Read, Context);
  QObject::connect(Notifier, &QSocketNotifier::activated, Context, [Notifier, End] {
    char Byte;
    [[maybe_unused]] const ssize_t Read = ::read(SignalSockets[1], &Byte, 1);
    Notifier->setEnabled(false);
    End();
  });
  struct sigaction Action = {};
  Action.sa_handler = OnEndSignal;
  sigemptyset(&Action.sa_mask);
  Action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &Action, nullptr);
  ::sigaction(SIGINT, &Action, nullptr);
}
#else
void OnEndSignals(QObject *, std::function<void()>) {}
#endif

// The end of the program, asked for by an end signal, by the last automation
// client leaving or by the window closing. Once the start-up has returned it
// runs at once. While the start-up runs, its boxes and waits run nested event
// loops, inside which an end would leave the start-up to go on after it (and
// an exit asked for before the main event loop runs is lost): the station
// then stops opening rotators, and the end runs as soon as the start-up has
// returned. Either way the boxes open close as if answered, and later ones
// are lines on standard error, as nobody may be there to answer them. The
// first request wins; later ones do nothing.
class TProgramEnd {
public:
  // An end: runs what ends the program (the closing sequence, or nothing)
  // and gives the exit code.
  using TEnd = std::function<int()>;

  explicit TProgramEnd(TStation &Station) : FStation(Station) {}

  void Request(TEnd End) {
    if (FRequested)
      return;
    FRequested = true;
    // Nobody may be there to answer a box from here on: the boxes open now
    // close as if answered, and the later ones are lines on standard error.
    Ui().CloseBoxes();
    SetUi(nullptr);
    if (!FStarting) {
      QCoreApplication::exit(End());
      return;
    }
    FPending = std::move(End);
    FStation.BeginClosing();
  }

  // The start-up has returned. An end asked for during it runs now; its exit
  // code, or none when the program goes on to its event loop.
  std::optional<int> StartupDone() {
    FStarting = false;
    if (!FPending)
      return std::nullopt;
    return std::exchange(FPending, nullptr)();
  }

private:
  TStation &FStation;
  bool FStarting = true;
  bool FRequested = false;
  TEnd FPending;
};

} // namespace

int main(int argc, char *argv[]) {
  // Automation server: a registration switch ends the program here, before
  // the single-instance check and without a window.
  if (const int Code = HandleRegistrationSwitch(argc, argv); Code >= 0)
    return Code;
  if (const int Code = HandleInfoSwitches(argc, argv); Code >= 0)
    return Code;

  // Without a window there is no QApplication and so no platform plugin: no
  // display is needed.
  // Setting the web password needs no window either.
  const bool SettingPassword = HasSwitch(argc, argv, WebPasswordSwitch);
  const bool Headless = HasHeadlessSwitch(argc, argv) || SettingPassword;
  std::unique_ptr<QCoreApplication> App =
      Headless ? std::make_unique<QCoreApplication>(argc, argv)
               : std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Orbalt"));
  // Without a window the console services (standard error) show the
  // messages; with one, the widget services.
  std::unique_ptr<TWidgetUiServices> Services;
  if (!Headless) {
    // The desktop matches the window to the installed desktop entry and
    // shows the theme's icon of it.
    QGuiApplication::setDesktopFileName(ProgramDesktopId());
    QGuiApplication::setWindowIcon(QIcon::fromTheme(ProgramDesktopId()));
    Services = std::make_unique<TWidgetUiServices>();
    SetUi(Services.get());
  }

  QCommandLineParser Parser;
  const TSwitches Switches;
  Switches.AddTo(Parser);
  // Other switches belong to the automation server; they are not refused here.
  Parser.parse(QCoreApplication::arguments());

  TSingleInstance Lock;
  if (SettingPassword && !Lock.TryLock()) {
    // A running program would write its own copy of the setting back.
    std::fprintf(stderr, "orbalt: Orbalt is running; end it first to set the web password.\n");
    return 1;
  }
  if (!SettingPassword && !Lock.TryLock()) {
    // Another instance runs: its window comes to the front, and the operator
    // is told why no second one starts.
    std::printf("%s\n", qPrintable(BringRunningInstanceToFront(QDBusConnection::sessionBus())));
    return 0;
  }

  const TSettingsLocation Location = SettingsDocument(Parser, Switches);
  QString SettingsFile = Location.File;
  // The user's folder is made at the first start; saving reports it if that
  // failed.
  if (Location.Kind == TSettingsLocation::User)
    QDir().mkpath(QFileInfo(SettingsFile).absolutePath());

  if (SettingPassword)
    return SetWebPassword(SettingsFile);

  std::unique_ptr<Gs232Emulator> Emulator;
  std::unique_ptr<QTemporaryDir> DemoFolder;
  if (Parser.isSet(Switches.Demo)) {
    Guarded([&] {
      Gs232Emulator::Options EmulatorOptions;
      EmulatorOptions.azimuth = 135; // the needle points somewhere to look at
      Emulator = std::make_unique<Gs232Emulator>(EmulatorOptions);
      if (!Emulator->start())
        throw std::runtime_error("The emulated rotator controller could not be started");
      DemoFolder = std::make_unique<QTemporaryDir>();
      if (!DemoFolder->isValid())
        throw std::runtime_error("No temporary folder for the demonstration settings");
      SettingsFile = DemoFolder->filePath(QStringLiteral("Orbalt.xml"));
      WriteDemoSettings(SettingsFile, Emulator->devicePath());
    });
  }

  int Result = 0;
  {
    TStation Station(SettingsFile);
    std::unique_ptr<TMain> Window;
    TProgramEnd End(Station);

    // The servers come first, from the moment the station exists: a client
    // is served while the start-up shows its messages (modal boxes run the
    // event loop), and a logger that started the program through the bus
    // finds its object at once.
    //
    // Automation server: the automation object over the station, offered on
    // the session bus. Started for a client, the program ends when the last
    // client has left, without the closing sequence; started by the
    // operator, it keeps running, and closing the window while clients
    // remain asks first.
    TStationAutomation Automation(Station, QDBusConnection::sessionBus());
    // A second start asks this instance, on the same object, to show its
    // window.
    new TProgramDBusAdaptor(&Automation.Server(), [&Window]() -> QWidget * { return Window.get(); });
    QString AutomationError;
    if (!Automation.Start(&AutomationError))
      qWarning("Automation server not started: %s", qPrintable(AutomationError));
    if (FindAutomationSwitch(QCoreApplication::arguments()) == TAutomationSwitch::Automation)
      Automation.EndWhenClientsLeave([&End] { End.Request([] { return 0; }); });

    // Network control: a rotctld server for each of the station's rotators,
    // the loggers' UDP listeners and band following from rigctld, while
    // switched on by their switches or by the settings document. Its
    // messages wait for the event loop, so that a box never shows before the
    // window.
    QStringList NetworkArguments = QCoreApplication::arguments();
    TStationNetwork Network(Station, TakeNetworkArguments(NetworkArguments));
    QObject::connect(
        &Network, &TStationNetwork::Message, &Network,
        [](const QString &Text) { ShowMessage(Text, mkInformation); }, Qt::QueuedConnection);
    // The loggers' links tell how they stand (from the start on): in the
    // status bar, or one line on the standard error without a window (there
    // only the changes of the connection, not every frequency).
    QObject::connect(&Network, &TStationNetwork::Notice, &Network,
                     [&Window](const QString &Text, bool Often) {
                       if (Window)
                         Window->ShowNotice(Text);
                       else if (!Often)
                         qInfo("%s", qPrintable(Text));
                     });
    Network.Start();

    if (Headless) {
      QObject::connect(&Station, &TStation::Message, &Station,
                       [](const QString &Text, TMessageKind Kind) { ShowMessage(Text, Kind); });
      // Without a window, a controller that stops or resumes answering is
      // told on the standard error, one line each.
      QObject::connect(&Station, &TStation::RotatorRespondingChanged, &Station,
                       [&Station](int Index, bool Responding) {
                         const QString State = Responding ? QStringLiteral("responds again")
                                                          : QStringLiteral("not responding");
                         qInfo("%s %s", qPrintable(Station.Status(Index)->Title),
                               qPrintable(State));
                       });
      // The closing sequence, then the end; a signal that comes during the
      // start (in a wait of a start list) ends it once the start has
      // returned.
      OnEndSignals(&Station, [&Station, &End] {
        End.Request([&Station] {
          Station.Close();
          return 0;
        });
      });
      // Nobody is there to press Open: every enabled rotator opens. Then one
      // line per rotator on standard output says what came of it.
      Guarded([&] {
        Station.Load();
        Station.Start(true);
      });
      for (int I = 0; I < Station.RotatorCount(); ++I)
        std::printf("%s\n", qPrintable(StartLine(*Station.Status(I))));
      std::fflush(stdout);
    } else {
      Window = std::make_unique<TMain>(Station);
      Services->parent = Window.get();
      Window->CloseQuery = [&Automation] {
        return !Automation.HasClients() || ConfirmEndWithAutomationClients();
      };
      // SIGTERM or SIGINT (a desktop session or a service manager ending the
      // program) closes the window as "Exit" does, so the closing sequence
      // runs; nobody is asked, as nobody may be there to answer.
      const auto CloseWindow = [W = Window.get()] {
        W->CloseQuery = nullptr;
        W->close();
        return 0;
      };
      OnEndSignals(Window.get(), [&End, CloseWindow] { End.Request(CloseWindow); });
      // The window closed while a start-up box is open ends the program the
      // same way, once the start-up has returned.
      Window->EndDuringStart = [&End, CloseWindow] { End.Request(CloseWindow); };
      // The start-up's messages show over the window.
      Window->show();
      Window->StartStation();
    }

    if (Window) {
      Window->NetworkSettings = [&Network] { return Network.Settings(); };
      Window->ApplyNetwork = [&Network](const TNetworkSettings &S) { Network.Apply(S); };
    }

    if (Window) {
      if (Parser.isSet(Switches.Screenshot)) {
        const QString File = Parser.value(Switches.Screenshot);
        TMain *W = Window.get();
        QTimer::singleShot(2000, W, [W, File] {
          if (!W->grab().save(File))
            qWarning("Could not write %s", qPrintable(File));
          W->close();
        });
      }
    }
    // An end asked for during the start-up has run: the program ends
    // without its event loop.
    if (const std::optional<int> Ended = End.StartupDone())
      Result = *Ended;
    else
      Result = QCoreApplication::exec();
    // The closing sequence may still wait (a list's WAIT, the lines' drain):
    // the program goes on until it has ended.
    if (Station.CloseBegun() && !Station.Closed()) {
      QEventLoop Closing;
      QObject::connect(&Station, &TStation::ClosingEnded, &Closing, &QEventLoop::quit);
      Closing.exec();
    }
    if (Headless && Station.ClosingSaveFailed())
      Result = 1;
    if (Window) {
      Window->EndDuringStart = nullptr;
      Window->CloseQuery = nullptr;
      Services->parent = nullptr;
    }
    // Drivers removed while the program ran are freed before the station
    // goes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Window.reset();
  }
  if (Emulator)
    Emulator->stop();
  return Result;
}
