#include "settings/SettingsDocument.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <utility>

namespace {

const QString VersionKey = QStringLiteral("Version");
const QString LeftKey = QStringLiteral("Left");
const QString TopKey = QStringLiteral("Top");
const QString EnableKey = QStringLiteral("Enable");

// Opens a section of the form "/Name" with creation and reads it.
TKeyReader SectionReader(TXMLIniFile &Ini, const QString &Section, TLoadProblems &Problems) {
  Ini.OpenNode(Section, true);
  return TKeyReader(Ini, Ini.CurrentNode(), Section, Problems);
}

// A title or map file name is one line: a line break from a hand-edited
// file becomes a blank, as the title is a tab caption.
QString OneLine(QString Value) {
  Value.replace(u'\r', u' ');
  Value.replace(u'\n', u' ');
  return Value;
}

} // namespace

QString SettingsFileName(const QString &AppName) {
  const qsizetype Slash = AppName.lastIndexOf(u'/');
  const qsizetype Dot = AppName.lastIndexOf(u'.');
  return (Dot > Slash ? AppName.left(Dot) : AppName) + QStringLiteral(".xml");
}

TSettingsLocation DefaultSettingsLocation(const QString &AppName) {
  const QString Beside = SettingsFileName(AppName);
  const QFileInfo BesideInfo(Beside);
  if (BesideInfo.isFile() && QFileInfo(BesideInfo.absolutePath()).isWritable())
    return {TSettingsLocation::Portable, Beside};
  const QString ConfigFolder =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return {TSettingsLocation::User,
          QDir(ConfigFolder).filePath(QStringLiteral("orbalt/orbalt.xml"))};
}

QString LoadProblemsMessage(const TLoadProblems &Problems) {
  if (Problems.isEmpty())
    return {};
  QStringList Lines;
  for (const TLoadProblem &P : Problems)
    Lines << QStringLiteral("%1, key \"%2\": %3").arg(P.Section, P.Key, P.Text);
  return QStringLiteral("Some settings in \"%1\" could not be read and take their "
                        "default values:\n%2")
      .arg(QDir::toNativeSeparators(Problems.first().File), Lines.join(u'\n'));
}

TWindowPosition ReadWindowPosition(TXMLIniFile &Ini, TLoadProblems &Problems) {
  TKeyReader Keys = SectionReader(Ini, MainSection, Problems);
  TWindowPosition Position;
  Position.Top = Keys.Integer(TopKey, 0);
  Position.Left = Keys.Integer(LeftKey, 0);
  return Position;
}

bool ReadCtrlTableEnable(TXMLIniFile &Ini, TLoadProblems &Problems) {
  return SectionReader(Ini, CtrlTableSection, Problems).Bool(EnableKey, false);
}

std::optional<QStringList> RotatorEntryNames(TXMLIniFile &Ini) {
  if (!Ini.OpenNode(RotatorsSection, false))
    return std::nullopt;
  QStringList Names;
  Ini.GetNodeNames(Names);
  return Names;
}

namespace {

// One rotator entry; an empty "Title" becomes DefaultTitle.
TRotatorSettings ReadEntry(TXMLIniFile &Ini, pugi::xml_node Entry, const QString &DefaultTitle,
                           TLoadProblems &Problems) {
  TKeyReader Keys(Ini, Entry, RotatorsSection + u'/' + QString::fromUtf8(Entry.name()), Problems);

  const TRotatorSettings D;
  TRotatorSettings S;
  S.Title = OneLine(Keys.String(RotatorKeys[0], D.Title));
  if (S.Title.isEmpty())
    S.Title = DefaultTitle;
  S.MapFileName = OneLine(Keys.String(RotatorKeys[1], D.MapFileName));
  S.Enable = Keys.Bool(RotatorKeys[2], D.Enable);
  S.AutoActive = Keys.Bool(RotatorKeys[3], D.AutoActive);
  S.Model = Keys.String(RotatorKeys[4], D.Model);
  S.CenterPosition = TRotatorSettings::CenterPositionOf(Keys.Integer(RotatorKeys[5], 0));
  S.AzimuthAngle = TRotatorSettings::AzimuthAngleOf(Keys.Integer(RotatorKeys[6], 0));
  S.RotationSpeed = Keys.String(RotatorKeys[7], D.RotationSpeed);
  S.Home = Keys.Integer(RotatorKeys[8], D.Home);
  S.ReturnHome = Keys.Bool(RotatorKeys[9], D.ReturnHome);
  S.Offset = Keys.Integer(RotatorKeys[10], D.Offset);
  S.CommandB = Keys.String(RotatorKeys[11], D.CommandB);
  S.CommandA = Keys.String(RotatorKeys[12], D.CommandA);
  S.RelaysCount = Keys.Integer(RotatorKeys[13], D.RelaysCount);
  S.Port = Keys.String(RotatorKeys[14], D.Port);
  S.BaudRate = Keys.String(RotatorKeys[15], D.BaudRate);
  S.DataBits = Keys.String(RotatorKeys[16], D.DataBits);
  S.Parity = Keys.String(RotatorKeys[17], D.Parity);
  S.StopBits = Keys.String(RotatorKeys[18], D.StopBits);
  S.FlowControl = Keys.String(RotatorKeys[19], D.FlowControl);
  return S;
}

} // namespace

std::optional<TRotatorSettings> ReadRotatorEntry(TXMLIniFile &Ini, int Index,
                                                 const QString &DefaultTitle,
                                                 TLoadProblems &Problems) {
  if (!Ini.OpenNode(RotatorsSection, false) || Index < 0 || Index >= Ini.ChildNodesCount())
    return std::nullopt;
  return ReadEntry(Ini, Ini.ChildNodes(Index), DefaultTitle, Problems);
}

std::optional<QList<TRotatorSettings>> ReadRotatorEntries(TXMLIniFile &Ini,
                                                         TLoadProblems &Problems) {
  if (!Ini.OpenNode(RotatorsSection, false))
    return std::nullopt;
  QList<TRotatorSettings> Entries;
  for (pugi::xml_node Entry : Ini.CurrentNode().children())
    if (Entry.type() == pugi::node_element)
      Entries << ReadEntry(Ini, Entry, QString(), Problems);
  return Entries;
}

void WriteWindowPosition(TXMLIniFile &Ini, const QString &Version, int Left, int Top) {
  Ini.OpenNode(MainSection, true);
  Ini.WriteString(VersionKey, Version);
  Ini.WriteInteger(LeftKey, Left);
  Ini.WriteInteger(TopKey, Top);
  Ini.CloseNode();
}

void WriteRotatorEntry(TXMLIniFile &Ini, int Index, const TRotatorSettings &S) {
  Ini.OpenNode(QStringLiteral("%1/Rotator_%2").arg(RotatorsSection).arg(Index), true);
  Ini.WriteString(RotatorKeys[0], S.Title);
  Ini.WriteString(RotatorKeys[1], S.MapFileName);
  Ini.WriteBool(RotatorKeys[2], S.Enable);
  Ini.WriteBool(RotatorKeys[3], S.AutoActive);
  Ini.WriteString(RotatorKeys[4], S.Model);
  Ini.WriteInteger(RotatorKeys[5], static_cast<int>(S.CenterPosition));
  Ini.WriteInteger(RotatorKeys[6], static_cast<int>(S.AzimuthAngle));
  Ini.WriteString(RotatorKeys[7], S.RotationSpeed);
  Ini.WriteInteger(RotatorKeys[8], S.Home);
  Ini.WriteBool(RotatorKeys[9], S.ReturnHome);
  Ini.WriteInteger(RotatorKeys[10], S.Offset);
  Ini.WriteString(RotatorKeys[11], S.CommandB);
  Ini.WriteString(RotatorKeys[12], S.CommandA);
  Ini.WriteInteger(RotatorKeys[13], S.RelaysCount);
  Ini.WriteString(RotatorKeys[14], S.Port);
  Ini.WriteString(RotatorKeys[15], S.BaudRate);
  Ini.WriteString(RotatorKeys[16], S.DataBits);
  Ini.WriteString(RotatorKeys[17], S.Parity);
  Ini.WriteString(RotatorKeys[18], S.StopBits);
  Ini.WriteString(RotatorKeys[19], S.FlowControl);
  Ini.CloseNode();
}

void WriteRotators(TXMLIniFile &Ini, bool CtrlTableEnable,
                   const QList<TRotatorSettings> &Rotators) {
  Ini.OpenNode(CtrlTableSection, true);
  Ini.WriteBool(EnableKey, CtrlTableEnable);
  Ini.CloseNode();
  // Every "Rotators" section goes: one left behind by a hand edit would
  // otherwise receive the new entries beside its old ones.
  while (Ini.NodeExists(RotatorsSection) &&
         Ini.DeleteNode(RotatorsSection.mid(1), Ini.RootNode())) {
  }
  Ini.CloseNode();
  for (int I = 0; I < Rotators.size(); ++I)
    WriteRotatorEntry(Ini, I, Rotators[I]);
}

TWindowPosition LoadWindowPosition(const QString &XmlName, TLoadProblems &Problems) {
  TXMLIniFile Ini(XmlName);
  return ReadWindowPosition(Ini, Problems);
}

void SaveWindowPosition(const QString &XmlName, const QString &Version, int Left, int Top) {
  TXMLIniFile Ini(XmlName);
  WriteWindowPosition(Ini, Version, Left, Top);
  Ini.UpdateFile();
}

void SaveRotators(const QString &XmlName, bool CtrlTableEnable,
                  const QList<TRotatorSettings> &Rotators) {
  TXMLIniFile Ini(XmlName);
  WriteRotators(Ini, CtrlTableEnable, Rotators);
  Ini.UpdateFile();
}
