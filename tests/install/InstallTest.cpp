// The installed program. The build is installed once into a temporary
// prefix; the installed program runs there offscreen with a home folder of
// its own and must keep its settings in the user's configuration folder,
// write nothing beside itself, find its pictures in the installed data
// folder, and answer --version. A copy of the program with a document beside
// it keeps using that document. The desktop entry and the metainfo pass
// Debian's validators, and CPack's Debian package holds the installed files
// with its documents and passes lintian without errors.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

// Generous: the machine may be slow and loaded.
constexpr int WaitMs = 120000;

const QString AppId = QStringLiteral(ORBALT_TEST_APP_ID);

struct TRun {
  bool Finished = false;
  int ExitCode = -1;
  QString Out;
  QString Err;
};

std::ostream &operator<<(std::ostream &Stream, const TRun &Run) {
  return Stream << "exit " << Run.ExitCode << (Run.Finished ? "" : " (did not finish)")
                << "\nstdout: " << Run.Out.toStdString() << "\nstderr: " << Run.Err.toStdString();
}

TRun RunProgram(const QString &Program, const QStringList &Arguments,
                const QProcessEnvironment &Env = QProcessEnvironment::systemEnvironment()) {
  QProcess Process;
  Process.setProcessEnvironment(Env);
  Process.start(Program, Arguments);
  TRun Result;
  Result.Finished = Process.waitForFinished(WaitMs);
  if (!Result.Finished)
    Process.kill(), Process.waitForFinished();
  Result.ExitCode = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
  Result.Out = QString::fromLocal8Bit(Process.readAllStandardOutput());
  Result.Err = QString::fromLocal8Bit(Process.readAllStandardError());
  return Result;
}

bool Ok(const TRun &R) { return R.Finished && R.ExitCode == 0; }

// Every file under Folder, relative to it, sorted.
QStringList FilesUnder(const QString &Folder) {
  QStringList Files;
  QDirIterator It(Folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (It.hasNext())
    Files << QDir(Folder).relativeFilePath(It.next());
  Files.sort();
  return Files;
}

QString ReadText(const QString &Path) {
  QFile File(Path);
  return File.open(QIODevice::ReadOnly) ? QString::fromUtf8(File.readAll()) : QString();
}

// The build installed into a temporary prefix, once for the whole suite.
class InstallTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Root = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(Root->isValid());
    Installed = RunProgram(QStringLiteral(ORBALT_TEST_CMAKE),
                           {QStringLiteral("--install"), QStringLiteral(ORBALT_TEST_BUILD_DIR),
                            QStringLiteral("--prefix"), Prefix()});
  }
  static void TearDownTestSuite() {
    Packages.reset();
    Root.reset();
  }

  // CPack's Debian package of the build, made once for the suite; empty
  // when it could not be made (Packed tells why).
  static QString DebianPackage() {
    if (!Packages) {
      Packages = std::make_unique<QTemporaryDir>();
      if (!Packages->isValid())
        return {};
      Packed = RunProgram(QStringLiteral(ORBALT_TEST_CPACK),
                          {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                           QStringLiteral(ORBALT_TEST_BUILD_DIR "/CPackConfig.cmake"),
                           QStringLiteral("-B"), Packages->path()});
    }
    const QStringList Found =
        QDir(Packages->path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    return Ok(Packed) && Found.size() == 1 ? Packages->filePath(Found.first()) : QString();
  }

  void SetUp() override { ASSERT_TRUE(Ok(Installed)) << Installed; }

  static QString Prefix() { return Root->filePath(QStringLiteral("prefix")); }
  static QString InstalledProgram() { return Prefix() + QStringLiteral("/bin/orbalt"); }

  // A user of their own: an empty home folder, the default configuration
  // folder, a private runtime folder for the single-instance lock, no session
  // bus, and the offscreen platform.
  QProcessEnvironment UserEnvironment() {
    EXPECT_TRUE(Home.isValid());
    EXPECT_TRUE(QDir(Home.path()).mkpath(QStringLiteral("run")));
    QFile::setPermissions(Home.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    for (const char *Name : {"XDG_CONFIG_HOME", "ORBALT_SETTINGS", "DISPLAY", "WAYLAND_DISPLAY"})
      Env.remove(QString::fromLatin1(Name));
    Env.insert(QStringLiteral("HOME"), Home.path());
    Env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Home.filePath(QStringLiteral("run")));
    Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + Home.filePath(QStringLiteral("no-bus")));
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return Env;
  }

  // The program started by the operator and closed after a picture of its
  // window was taken; its standard error (where error boxes are also
  // written) is in the result.
  TRun RunWindow(const QString &Program, const QStringList &Extra = {}) {
    return RunProgram(
        Program,
        QStringList{QStringLiteral("--screenshot"), Home.filePath(QStringLiteral("shot.png"))} +
            Extra,
        UserEnvironment());
  }

  static inline std::unique_ptr<QTemporaryDir> Root;
  static inline TRun Installed;
  static inline std::unique_ptr<QTemporaryDir> Packages;
  static inline TRun Packed;
  QTemporaryDir Home;
};

TEST_F(InstallTest, InstalledProgramKeepsItsSettingsInTheUsersFolderAndFindsItsPictures) {
  const QStringList Before = FilesUnder(Prefix());

  const TRun Version =
      RunProgram(InstalledProgram(), {QStringLiteral("--version")}, UserEnvironment());
  ASSERT_TRUE(Ok(Version)) << Version;
  EXPECT_EQ(Version.Out.trimmed(), QStringLiteral("Orbalt " ORBALT_TEST_VERSION));

  const TRun Help = RunProgram(InstalledProgram(), {QStringLiteral("--help")}, UserEnvironment());
  const QString Document = Home.filePath(QStringLiteral(".config/orbalt/orbalt.xml"));
  EXPECT_TRUE(Help.Out.contains(QStringLiteral("Settings document: ") + Document)) << Help;
  EXPECT_TRUE(Help.Out.contains(QStringLiteral("Data folder:       ") + Prefix() +
                                QStringLiteral("/share/orbalt")))
      << Help;

  // A first start makes the folder and the document.
  const TRun First = RunWindow(InstalledProgram());
  ASSERT_TRUE(Ok(First)) << First;
  EXPECT_TRUE(QFileInfo(Document).isFile());
  EXPECT_TRUE(QFileInfo(Home.filePath(QStringLiteral("shot.png"))).isFile());

  // A rotator's page shows the default map and the turn buttons' pictures:
  // a picture that can't be read would be an error on standard error.
  const TRun Demo = RunWindow(InstalledProgram(), {QStringLiteral("--demo")});
  ASSERT_TRUE(Ok(Demo)) << Demo;
  EXPECT_FALSE(Demo.Err.contains(QStringLiteral("picture"), Qt::CaseInsensitive)) << Demo;
  EXPECT_FALSE(Demo.Err.contains(QStringLiteral(".bmp"), Qt::CaseInsensitive)) << Demo;

  EXPECT_EQ(FilesUnder(Prefix()),
            Before); // nothing written in the installed tree
}

TEST_F(InstallTest, DocumentBesideTheExecutableIsStillUsed) {
  // A copy of the program carried with its document (and its pictures).
  QTemporaryDir Portable;
  ASSERT_TRUE(Portable.isValid());
  const QString Program = Portable.filePath(QStringLiteral("orbalt"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(ORBALT_TEST_PROGRAM), Program));
  for (const QString &Picture :
       QDir(Prefix() + QStringLiteral("/share/orbalt")).entryList(QDir::Files))
    ASSERT_TRUE(QFile::copy(Prefix() + QStringLiteral("/share/orbalt/") + Picture,
                            Portable.filePath(Picture)));
  const QString Document = Portable.filePath(QStringLiteral("orbalt.xml"));
  {
    QFile File(Document);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root/>\n");
  }

  const TRun Help = RunProgram(Program, {QStringLiteral("--help")}, UserEnvironment());
  EXPECT_TRUE(Help.Out.contains(QStringLiteral("Settings document: ") + Document)) << Help;
  EXPECT_TRUE(Help.Out.contains(QStringLiteral("Data folder:       ") + Portable.path())) << Help;

  const TRun Window = RunWindow(Program);
  ASSERT_TRUE(Ok(Window)) << Window;
  EXPECT_TRUE(ReadText(Document).contains(QStringLiteral("<Rotators")))
      << ReadText(Document).toStdString();
  EXPECT_FALSE(QFileInfo::exists(Home.filePath(QStringLiteral(".config/orbalt"))));
}

// Validators print nothing for a file without errors, warnings or hints.
TEST_F(InstallTest, DesktopEntryAndMetainfoValidate) {
  const QString DesktopEntry =
      Prefix() + QStringLiteral("/share/applications/") + AppId + QStringLiteral(".desktop");
  const QString Metainfo =
      Prefix() + QStringLiteral("/share/metainfo/") + AppId + QStringLiteral(".metainfo.xml");
  const QString DesktopValidator =
      QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  const QString AppStream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
  ASSERT_FALSE(DesktopValidator.isEmpty())
      << "desktop-file-validate (desktop-file-utils) is missing";
  ASSERT_FALSE(AppStream.isEmpty()) << "appstreamcli (appstream) is missing";

  const TRun Desktop = RunProgram(DesktopValidator, {DesktopEntry});
  EXPECT_TRUE(Ok(Desktop) && Desktop.Out.trimmed().isEmpty()) << Desktop;
  const QString Entry = ReadText(DesktopEntry);
  EXPECT_TRUE(Entry.contains(QStringLiteral("HamRadio;"))) << Entry.toStdString();
  EXPECT_TRUE(Entry.contains(QStringLiteral("\nIcon=") + AppId + u'\n')) << Entry.toStdString();

  // Without the network: the screenshot's address is not fetched.
  const TRun Meta = RunProgram(AppStream, {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                           QStringLiteral("--no-color"), Metainfo});
  EXPECT_TRUE(Ok(Meta)) << Meta;
  EXPECT_TRUE(Meta.Out.contains(QStringLiteral("successful"))) << Meta;

  // The bus starts the installed program for a client.
  EXPECT_EQ(ReadText(Prefix() + QStringLiteral("/share/dbus-1/services/Orbalt.Orbalt.service")),
            QStringLiteral("[D-BUS Service]\nName=Orbalt.Orbalt\nExec=") + InstalledProgram() +
                QStringLiteral(" -Automation\n"));
}

TEST_F(InstallTest, DebianPackageHoldsTheProgramAndItsDesktopFiles) {
  const QString Package = DebianPackage();
  ASSERT_FALSE(Package.isEmpty()) << Packed;

  const TRun Contents =
      RunProgram(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), Package});
  ASSERT_TRUE(Ok(Contents)) << Contents;
  for (const QString &File :
       {QStringLiteral("./usr/bin/orbalt"), QStringLiteral("./usr/bin/gs232emu"),
        QStringLiteral("./usr/share/orbalt/AzChart.bmp"),
        QStringLiteral("./usr/share/applications/") + AppId + QStringLiteral(".desktop"),
        QStringLiteral("./usr/share/icons/hicolor/scalable/apps/") + AppId + QStringLiteral(".svg"),
        QStringLiteral("./usr/share/icons/hicolor/48x48/apps/") + AppId + QStringLiteral(".png"),
        QStringLiteral("./usr/share/metainfo/") + AppId + QStringLiteral(".metainfo.xml"),
        QStringLiteral("./usr/share/dbus-1/services/Orbalt.Orbalt.service"),
        QStringLiteral("./usr/share/man/man1/orbalt.1.gz"),
        QStringLiteral("./usr/share/man/man1/gs232emu.1.gz"),
        QStringLiteral("./usr/share/doc/orbalt/copyright"),
        QStringLiteral("./usr/share/doc/orbalt/changelog.Debian.gz")})
    EXPECT_TRUE(Contents.Out.contains(u' ' + File + u'\n')) << File.toStdString();

  const TRun Fields = RunProgram(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), Package});
  ASSERT_TRUE(Ok(Fields)) << Fields;
  EXPECT_TRUE(Fields.Out.contains(QStringLiteral("\nSection: hamradio\n"))) << Fields;
  EXPECT_TRUE(Fields.Out.contains(QStringLiteral("\nMaintainer: "))) << Fields;
  // Computed from the binaries: Qt's libraries and the serial port module.
  EXPECT_TRUE(Fields.Out.contains(QStringLiteral("libqt6core6"))) << Fields;
  EXPECT_TRUE(Fields.Out.contains(QStringLiteral("libqt6serialport6"))) << Fields;
  // The long description: its lines as written, none led by a list separator.
  EXPECT_TRUE(Fields.Out.contains(
      QStringLiteral("\n Turns the antenna rotators of an amateur-radio station (GS-232A, GS-232B\n"
                     " and KELVANE compatible controllers on serial lines)")))
      << Fields;
  EXPECT_FALSE(Fields.Out.contains(QStringLiteral("\n ;"))) << Fields;

  // The copyright file is machine-readable and carries the notices of the
  // map data and of the geodesy library.
  QTemporaryDir Unpacked;
  ASSERT_TRUE(Unpacked.isValid());
  const TRun Extract = RunProgram(QStringLiteral("dpkg-deb"),
                                  {QStringLiteral("--extract"), Package, Unpacked.path()});
  ASSERT_TRUE(Ok(Extract)) << Extract;
  const QString Text = ReadText(Unpacked.filePath(QStringLiteral("usr/share/doc/orbalt/copyright")));
  EXPECT_TRUE(Text.startsWith(
      QStringLiteral("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")))
      << Text.toStdString();
  for (const char *Notice : {"Natural Earth", "naturalearthdata.com", "GeographicLib",
                             "License: Expat", "License: ISC"})
    EXPECT_TRUE(Text.contains(QLatin1String(Notice))) << Notice;
}

// lintian finds no error in the package (warnings and notes are for the
// maintainers to weigh).
TEST_F(InstallTest, DebianPackagePassesLintianWithoutErrors) {
  const QString Lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
  if (Lintian.isEmpty())
    GTEST_SKIP() << "lintian is missing: install it (scripts/deps.sh) to check the package";
  const QString Package = DebianPackage();
  ASSERT_FALSE(Package.isEmpty()) << Packed;
  const TRun Run = RunProgram(Lintian, {QStringLiteral("--no-cfg"), Package});
  ASSERT_TRUE(Run.Finished) << Run;
  QStringList Errors;
  for (const QString &Line : Run.Out.split(u'\n'))
    if (Line.startsWith(QStringLiteral("E: ")))
      Errors << Line;
  EXPECT_TRUE(Errors.isEmpty()) << Errors.join(u'\n').toStdString();
  // Besides its findings lintian fails only for errors of its own.
  EXPECT_TRUE(Run.ExitCode == 0 || !Errors.isEmpty()) << Run;
}

} // namespace
