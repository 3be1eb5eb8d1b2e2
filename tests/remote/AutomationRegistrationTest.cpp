// The automation server's command-line switches and its registration: the
// D-Bus activation file written and removed by the program, which ends
// without a window.

#include "remote/OrbaltDBusRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

// Sets an environment variable for the lifetime of this object.
class TScopedEnv {
public:
  TScopedEnv(const char *Name, const std::optional<QByteArray> &Value)
      : FName(Name), FOld(qEnvironmentVariableIsSet(Name)
                              ? std::optional<QByteArray>(qgetenv(Name))
                              : std::nullopt) {
    Set(Value);
  }
  ~TScopedEnv() { Set(FOld); }

private:
  void Set(const std::optional<QByteArray> &Value) {
    if (Value)
      qputenv(FName, *Value);
    else
      qunsetenv(FName);
  }
  const char *FName;
  std::optional<QByteArray> FOld;
};

QByteArray ReadAll(const QString &Path) {
  QFile File(Path);
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

struct TRun {
  int Code = -1;
  QByteArray Err;
};

// Runs the program with Arguments and the variables given on top of the
// test's environment. No display is offered: a window would end the run with
// an error.
TRun RunProgram(const QStringList &Arguments, const QList<std::pair<QString, QString>> &Vars) {
  QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
  Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
  for (const auto &[Name, Value] : Vars)
    Env.insert(Name, Value);
  QProcess Program;
  Program.setProcessEnvironment(Env);
  Program.start(QStringLiteral(ORBALT_TEST_PROGRAM), Arguments);
  TRun Run;
  if (!Program.waitForFinished(60000)) {
    Program.kill();
    Program.waitForFinished();
    return Run;
  }
  Run.Code = Program.exitStatus() == QProcess::NormalExit ? Program.exitCode() : -2;
  Run.Err = Program.readAllStandardError();
  return Run;
}

TEST(AutomationSwitchTest, SwitchesInAnyCaseWithSlashOrDash) {
  using S = TAutomationSwitch;
  const struct {
    QStringList Arguments; // after the program's path
    S Expected;
  } Cases[] = {
      {{}, S::None},
      {{"-RegServer"}, S::RegServer},
      {{"/REGSERVER"}, S::RegServer},
      {{"-unregserver"}, S::UnregServer},
      {{"/RegServerPerUser"}, S::RegServerPerUser},
      {{"-UNREGSERVERPERUSER"}, S::UnregServerPerUser},
      {{"-Automation"}, S::Automation},
      {{"/embedding"}, S::Automation},
      {{"--settings", "x.xml", "-Embedding"}, S::Automation},
      // A registration switch wins, wherever it stands.
      {{"-Automation", "/regserver"}, S::RegServer},
      // Not switches of the automation server.
      {{"RegServer"}, S::None},
      {{"--regserver"}, S::None},
      {{"-RegServerX"}, S::None},
      {{"/"}, S::None},
  };
  for (const auto &Case : Cases) {
    EXPECT_EQ(FindAutomationSwitch(QStringList{"orbalt"} + Case.Arguments), Case.Expected)
        << Case.Arguments.join(' ').toStdString();
  }
  // The program's own path is never taken for a switch.
  EXPECT_EQ(FindAutomationSwitch({"/regserver"}), S::None);
}

TEST(AutomationSwitchTest, ActivationFolders) {
  EXPECT_EQ(ActivationFolder(false), QStringLiteral("/usr/share/dbus-1/services"));
  {
    TScopedEnv Data("XDG_DATA_HOME", QByteArray("/srv/data/"));
    EXPECT_EQ(ActivationFolder(true), QStringLiteral("/srv/data/dbus-1/services"));
    EXPECT_EQ(ActivationFolder(false), QStringLiteral("/usr/share/dbus-1/services"));
  }
  const QString Default = QDir::homePath() + QStringLiteral("/.local/share/dbus-1/services");
  {
    TScopedEnv Data("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(ActivationFolder(true), Default);
  }
  {
    TScopedEnv Data("XDG_DATA_HOME", QByteArray("relative/data"));
    EXPECT_EQ(ActivationFolder(true), Default);
  }
}

TEST(AutomationSwitchTest, ActivationFileQuotesAnUnusualPath) {
  EXPECT_EQ(ActivationFileText("/usr/bin/orbalt"),
            "[D-BUS Service]\nName=Orbalt.Orbalt\nExec=/usr/bin/orbalt -Automation\n");
  EXPECT_EQ(ActivationFileText("/opt/my radio/orbalt"),
            "[D-BUS Service]\nName=Orbalt.Orbalt\nExec='/opt/my radio/orbalt' -Automation\n");
  EXPECT_EQ(ActivationFileText("/opt/it's/orbalt"),
            "[D-BUS Service]\nName=Orbalt.Orbalt\nExec='/opt/it'\\''s/orbalt' -Automation\n");
}

TEST(AutomationSwitchTest, ProgramRegistersAndUnregistersForTheUser) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  const QString Data = Dir.filePath("data");
  const QString File = Data + "/dbus-1/services/Orbalt.Orbalt.service";
  const QString Program = QFileInfo(ORBALT_TEST_PROGRAM).canonicalFilePath();
  const QList<std::pair<QString, QString>> Vars = {{"XDG_DATA_HOME", Data}};

  // Registering creates the folders and ends with no window.
  TRun Run = RunProgram({"-RegServerPerUser"}, Vars);
  EXPECT_EQ(Run.Code, 0) << Run.Err.toStdString();
  EXPECT_EQ(ReadAll(File), ActivationFileText(Program).toUtf8());
  EXPECT_TRUE(ReadAll(File).contains("Exec=" + Program.toUtf8() + " -Automation\n"));

  // Registering again replaces the file.
  QFile::remove(File);
  ASSERT_TRUE(QFile(File).open(QIODevice::WriteOnly));
  Run = RunProgram({"/REGSERVERPERUSER"}, Vars);
  EXPECT_EQ(Run.Code, 0) << Run.Err.toStdString();
  EXPECT_EQ(ReadAll(File), ActivationFileText(Program).toUtf8());

  Run = RunProgram({"/unregserverperuser"}, Vars);
  EXPECT_EQ(Run.Code, 0) << Run.Err.toStdString();
  EXPECT_FALSE(QFile::exists(File));
  // A file that is already gone is no failure.
  Run = RunProgram({"-UnregServerPerUser"}, Vars);
  EXPECT_EQ(Run.Code, 0) << Run.Err.toStdString();
}

TEST(AutomationSwitchTest, FailedRegistrationSaysWhyAndEndsWithAnError) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  // The data folder is a plain file: nothing can be created beneath it.
  const QString Blocker = Dir.filePath("data");
  ASSERT_TRUE(QFile(Blocker).open(QIODevice::WriteOnly));
  const TRun Run = RunProgram({"-RegServerPerUser"}, {{"XDG_DATA_HOME", Blocker}});
  EXPECT_GT(Run.Code, 0);
  EXPECT_TRUE(Run.Err.contains("dbus-1/services")) << Run.Err.toStdString();
}

TEST(AutomationSwitchTest, FailedUnregistrationSaysWhyAndEndsWithAnError) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  // Something that can't be removed as a file stands in the file's place.
  const QString Services = Dir.filePath("data/dbus-1/services");
  ASSERT_TRUE(QDir().mkpath(Services + "/Orbalt.Orbalt.service/inside"));
  const TRun Run = RunProgram({"-UnregServerPerUser"}, {{"XDG_DATA_HOME", Dir.filePath("data")}});
  EXPECT_GT(Run.Code, 0);
  EXPECT_TRUE(Run.Err.contains("Orbalt.Orbalt.service")) << Run.Err.toStdString();
}

} // namespace
