#include "settings/SettingsDocument.h"

#include "rotator/Gs232.h"
#include "base/UiServices.h"

#include <QDir>
#include <utility>

namespace {

const QString VersionKey = QStringLiteral("Version");
const QString LeftKey = QStringLiteral("Left");
const QString TopKey = QStringLiteral("Top");
const QString EnableKey = QStringLiteral("Enable");

const QString TitleLine = QStringLiteral("Title");
const QString MapFileNameLine = QStringLiteral("MapFileName");
const QString EnableLine = QStringLiteral("Enable");
const QString AutoActiveLine = QStringLiteral("AutoActive");

// What a rotator entry without any keys, and a new rotator, gets.
const QString DefaultModel = QStringLiteral("GS-232A");
const QString DefaultRotationSpeed = QStringLiteral("4");
const QString DefaultPort = QStringLiteral("COM3");
const QString DefaultBaudRate = QStringLiteral("9600");
const QString DefaultDataBits = QStringLiteral("8");
const QString DefaultParity = QStringLiteral("NONE");
const QString DefaultStopBits = QStringLiteral("1");
const QString DefaultFlowControl = QStringLiteral("NONE");


// Opens a section of the form "/Name" with creation and reads it.
TKeyReader SectionReader(TXMLIniFile &Ini, const QString &Section, QStringList &Problems) {
  Ini.OpenNode(Section, true);
  return TKeyReader(Ini, Ini.CurrentNode(), Section, Problems);
}

// A Boolean block line for saving: a line that is missing or does not convert
// is written as false, so that a save never stops part-way.
bool BlockBoolOrFalse(const QStringList &Block, const QString &Name) {
  try {
    return BlockBool(Block, Name);
  } catch (const TConvertError &) {
    return false;
  }
}

} // namespace

QString SettingsFileName(const QString &AppName) {
  const qsizetype Slash = AppName.lastIndexOf(u'/');
  const qsizetype Dot = AppName.lastIndexOf(u'.');
  return (Dot > Slash ? AppName.left(Dot) : AppName) + QStringLiteral(".xml");
}

// A block holds one name=value per line: a line break inside a value (a
// title from a hand-edited file) would add or override lines of the block.
static QString BlockLineValue(QString Value) {
  Value.replace(u'\r', u' ');
  Value.replace(u'\n', u' ');
  return Value;
}

QStringList MakeRotatorBlock(const QString &Title, const QString &MapFileName, bool Enable,
                             bool AutoActive) {
  return {TitleLine + u'=' + BlockLineValue(Title),
          MapFileNameLine + u'=' + BlockLineValue(MapFileName),
          EnableLine + u'=' + BoolToText(Enable), AutoActiveLine + u'=' + BoolToText(AutoActive)};
}

QString BlockValue(const QStringList &Block, const QString &Name) {
  for (const QString &Line : Block) {
    const qsizetype Equals = Line.indexOf(u'=');
    if (Equals >= 0 && QStringView(Line).left(Equals) == Name)
      return Line.mid(Equals + 1);
  }
  return {};
}

void SetBlockValue(QStringList &Block, const QString &Name, const QString &Value) {
  for (QString &Line : Block) {
    const qsizetype Equals = Line.indexOf(u'=');
    if (Equals >= 0 && QStringView(Line).left(Equals) == Name) {
      Line = Name + u'=' + BlockLineValue(Value);
      return;
    }
  }
  Block.append(Name + u'=' + BlockLineValue(Value));
}

bool BlockBool(const QStringList &Block, const QString &Name) {
  return TextToBool(BlockValue(Block, Name));
}

QString BlockText(const QStringList &Block) {
  QString Text;
  for (const QString &Line : Block)
    Text += Line + u'\n';
  return Text;
}

QStringList BlockLines(const QString &Text) {
  QStringList Lines = Text.split(u'\n');
  for (QString &Line : Lines)
    if (Line.endsWith(u'\r'))
      Line.chop(1);
  if (!Lines.isEmpty() && Lines.last().isEmpty())
    Lines.removeLast();
  return Lines;
}

void ApplyRotatorDefaults(QStringList &Rotator, TGs232 &Gs232, const QString &Title) {
  Rotator = MakeRotatorBlock(Title, QString(), false, false);
  Gs232.SetModel(DefaultModel);
  Gs232.SetCenterPosition(cpNorth);
  Gs232.SetAzimuthAngle(az360);
  Gs232.SetRotationSpeed(DefaultRotationSpeed);
  Gs232.SetHome(0, 0);
  Gs232.SetReturnHome(false);
  Gs232.SetOffset(0, 0);
  Gs232.SetCommandB(QString());
  Gs232.SetCommandA(QString());
  Gs232.RelayArray()->SetCount(0);
  Gs232.SetElEnable(false);
  Gs232.SetPort(DefaultPort);
  Gs232.SetBaudRate(DefaultBaudRate);
  Gs232.SetDataBits(DefaultDataBits);
  Gs232.SetParity(DefaultParity);
  Gs232.SetStopBits(DefaultStopBits);
  Gs232.SetFlowControl(DefaultFlowControl);
}

TWindowPosition ReadWindowPosition(TXMLIniFile &Ini, QStringList &Problems) {
  TKeyReader Keys = SectionReader(Ini, MainSection, Problems);
  TWindowPosition Position;
  Position.Top = Keys.Integer(TopKey, 0);
  Position.Left = Keys.Integer(LeftKey, 0);
  return Position;
}

bool ReadCtrlTableEnable(TXMLIniFile &Ini, QStringList &Problems) {
  return SectionReader(Ini, CtrlTableSection, Problems).Bool(EnableKey, false);
}

std::optional<QStringList> RotatorEntryNames(TXMLIniFile &Ini) {
  if (!Ini.OpenNode(RotatorsSection, false))
    return std::nullopt;
  QStringList Names;
  Ini.GetNodeNames(Names);
  return Names;
}

bool LoadRotatorEntry(TXMLIniFile &Ini, int Index, const QString &DefaultTitle,
                      QStringList &Rotator, TGs232 &Gs232, QStringList &Problems) {
  if (!Ini.OpenNode(RotatorsSection, false) || Index < 0 || Index >= Ini.ChildNodesCount())
    return false;
  const pugi::xml_node Entry = Ini.ChildNodes(Index);
  TKeyReader Keys(Ini, Entry, RotatorsSection + u'/' + QString::fromUtf8(Entry.name()), Problems);

  QString Title = Keys.String(RotatorKeys[0], QString());
  if (Title.isEmpty())
    Title = DefaultTitle;
  const QString MapFileName = Keys.String(RotatorKeys[1], QString());
  const bool Enable = Keys.Bool(RotatorKeys[2], false);
  const bool AutoActive = Keys.Bool(RotatorKeys[3], false);
  Rotator = MakeRotatorBlock(Title, MapFileName, Enable, AutoActive);

  Gs232.SetModel(Keys.String(RotatorKeys[4], DefaultModel));
  Gs232.SetCenterPosition(Keys.Integer(RotatorKeys[5], 0) <= 0 ? cpNorth : cpSouth);
  Gs232.SetAzimuthAngle(Keys.Integer(RotatorKeys[6], 0) <= 0 ? az360 : az450);
  Gs232.SetRotationSpeed(Keys.String(RotatorKeys[7], DefaultRotationSpeed));
  Gs232.SetHome(Keys.Integer(RotatorKeys[8], 0), 0);
  Gs232.SetReturnHome(Keys.Bool(RotatorKeys[9], false));
  Gs232.SetOffset(Keys.Integer(RotatorKeys[10], 0), 0);
  Gs232.SetCommandB(Keys.String(RotatorKeys[11], QString()));
  Gs232.SetCommandA(Keys.String(RotatorKeys[12], QString()));
  Gs232.RelayArray()->SetCount(Keys.Integer(RotatorKeys[13], 0));
  Gs232.SetElEnable(false);
  Gs232.SetPort(Keys.String(RotatorKeys[14], DefaultPort));
  Gs232.SetBaudRate(Keys.String(RotatorKeys[15], DefaultBaudRate));
  Gs232.SetDataBits(Keys.String(RotatorKeys[16], DefaultDataBits));
  Gs232.SetParity(Keys.String(RotatorKeys[17], DefaultParity));
  Gs232.SetStopBits(Keys.String(RotatorKeys[18], DefaultStopBits));
  Gs232.SetFlowControl(Keys.String(RotatorKeys[19], DefaultFlowControl));
  return true;
}

void ReportLoadProblems(const QString &XmlName, const QStringList &Problems) {
  if (Problems.isEmpty())
    return;
  Ui().ShowMessage(QStringLiteral("Some settings in \"%1\" could not be read and take their "
                                  "default values:\n%2")
                       .arg(QDir::toNativeSeparators(XmlName), Problems.join(u'\n')));
}

void WriteWindowPosition(TXMLIniFile &Ini, const QString &Version, int Left, int Top) {
  Ini.OpenNode(MainSection, true);
  Ini.WriteString(VersionKey, Version);
  Ini.WriteInteger(LeftKey, Left);
  Ini.WriteInteger(TopKey, Top);
  Ini.CloseNode();
}

void WriteRotatorEntry(TXMLIniFile &Ini, int Index, const QStringList &Rotator,
                       const TGs232 &Gs232) {
  Ini.OpenNode(QStringLiteral("%1/Rotator_%2").arg(RotatorsSection).arg(Index), true);
  Ini.WriteString(RotatorKeys[0], BlockValue(Rotator, TitleLine));
  Ini.WriteString(RotatorKeys[1], BlockValue(Rotator, MapFileNameLine));
  Ini.WriteBool(RotatorKeys[2], BlockBoolOrFalse(Rotator, EnableLine));
  Ini.WriteBool(RotatorKeys[3], BlockBoolOrFalse(Rotator, AutoActiveLine));
  Ini.WriteString(RotatorKeys[4], Gs232.Model());
  Ini.WriteInteger(RotatorKeys[5], static_cast<int>(Gs232.CenterPosition()));
  Ini.WriteInteger(RotatorKeys[6], static_cast<int>(Gs232.AzimuthAngle()));
  Ini.WriteString(RotatorKeys[7], Gs232.RotationSpeed());
  Ini.WriteInteger(RotatorKeys[8], Gs232.AzHomeD());
  Ini.WriteBool(RotatorKeys[9], Gs232.ReturnHome());
  Ini.WriteInteger(RotatorKeys[10], Gs232.AzOffsetD());
  Ini.WriteString(RotatorKeys[11], Gs232.CommandB());
  Ini.WriteString(RotatorKeys[12], Gs232.CommandA());
  Ini.WriteInteger(RotatorKeys[13], Gs232.RelayArray()->Count());
  Ini.WriteString(RotatorKeys[14], Gs232.Port());
  Ini.WriteString(RotatorKeys[15], Gs232.BaudRate());
  Ini.WriteString(RotatorKeys[16], Gs232.DataBits());
  Ini.WriteString(RotatorKeys[17], Gs232.Parity());
  Ini.WriteString(RotatorKeys[18], Gs232.StopBits());
  Ini.WriteString(RotatorKeys[19], Gs232.FlowControl());
  Ini.CloseNode();
}

void WriteRotators(TXMLIniFile &Ini, bool CtrlTableEnable, const QStringList &Rotators,
                   const QList<TGs232 *> &Gs232s) {
  Ini.OpenNode(CtrlTableSection, true);
  Ini.WriteBool(EnableKey, CtrlTableEnable);
  Ini.CloseNode();
  // Every "Rotators" section goes: one left behind by a hand edit would
  // otherwise receive the new entries beside its old ones.
  while (Ini.NodeExists(RotatorsSection) &&
         Ini.DeleteNode(RotatorsSection.mid(1), Ini.RootNode())) {
  }
  Ini.CloseNode();
  for (int I = 0; I < Gs232s.size(); ++I)
    WriteRotatorEntry(Ini, I, BlockLines(Rotators.value(I)), *Gs232s[I]);
}

TWindowPosition LoadWindowPosition(const QString &XmlName) {
  TXMLIniFile Ini(XmlName);
  QStringList Problems;
  const TWindowPosition Position = ReadWindowPosition(Ini, Problems);
  ReportLoadProblems(XmlName, Problems);
  return Position;
}

void SaveWindowPosition(const QString &XmlName, const QString &Version, int Left, int Top) {
  TXMLIniFile Ini(XmlName);
  WriteWindowPosition(Ini, Version, Left, Top);
  Ini.UpdateFile();
}

void SaveRotators(const QString &XmlName, bool CtrlTableEnable, const QStringList &Rotators,
                  const QList<TGs232 *> &Gs232s) {
  TXMLIniFile Ini(XmlName);
  WriteRotators(Ini, CtrlTableEnable, Rotators, Gs232s);
  Ini.UpdateFile();
}
