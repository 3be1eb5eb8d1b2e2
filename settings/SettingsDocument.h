#pragma once
// The settings document: the file beside the executable that keeps the main
// window's position, the switch of the frequency control table and the
// complete settings of every rotator.
//
//   /Main        "Version" (string), "Left", "Top" (integers)
//   /CtrlTable   "Enable" (Boolean)
//   /Rotators    one entry per rotator, written as Rotator_0, Rotator_1, ...;
//                on reading, every child is one rotator in document order and
//                the names carry no meaning
//
// A rotator's settings are split in two halves: the rotator settings block
// (four lines "Title=", "MapFileName=", "Enable=", "AutoActive=", kept by the
// main window as text) and its driver (everything else). The document is the
// only place where both halves meet.
//
// Loading is tolerant: a key whose text does not convert takes its default
// and is noted in a list of problems; the rest of the document still loads,
// and the caller shows the problems once (ReportLoadProblems). Saving the
// rotators builds the whole new document first and writes the file once,
// replacing it atomically; a failed write throws and leaves the previous file.

#include "settings/ValueText.h"
#include "settings/XMLIniFile.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class TGs232;

// Reads the keys of one section; a key that does not convert takes its
// default and is noted.
class TKeyReader {
public:
  TKeyReader(TXMLIniFile &Ini, pugi::xml_node Section, QString SectionPath, QStringList &Problems)
      : FIni(Ini), FSection(Section), FSectionPath(std::move(SectionPath)), FProblems(Problems) {}

  QString String(const QString &Key, const QString &Default) {
    return Tolerant(Key, Default, [&] { return FIni.ReadString(Key, Default, FSection); });
  }
  int Integer(const QString &Key, int Default) {
    return Tolerant(Key, Default, [&] { return FIni.ReadInteger(Key, Default, FSection); });
  }
  bool Bool(const QString &Key, bool Default) {
    return Tolerant(Key, Default, [&] { return FIni.ReadBool(Key, Default, FSection); });
  }

private:
  template <class T, class F> T Tolerant(const QString &Key, const T &Default, F Read) {
    try {
      return Read();
    } catch (const TSettingsError &E) {
      FProblems.append(QStringLiteral("%1, key \"%2\": %3").arg(FSectionPath, Key, E.Message()));
      return Default;
    }
  }

  TXMLIniFile &FIni;
  pugi::xml_node FSection;
  QString FSectionPath;
  QStringList &FProblems;
};

// Section paths.
inline const QString MainSection = QStringLiteral("/Main");
inline const QString CtrlTableSection = QStringLiteral("/CtrlTable");
inline const QString RotatorsSection = QStringLiteral("/Rotators");

// The keys of a rotator entry, in the order in which they are written and read.
inline const QStringList RotatorKeys = {
    QStringLiteral("Title"),        QStringLiteral("MapFileName"),
    QStringLiteral("Enable"),       QStringLiteral("AutoActive"),
    QStringLiteral("Model"),        QStringLiteral("CenterPosition"),
    QStringLiteral("AzimuthAngle"), QStringLiteral("RotationSpeed"),
    QStringLiteral("Home"),         QStringLiteral("ReturnHome"),
    QStringLiteral("Offset"),       QStringLiteral("CommandB"),
    QStringLiteral("CommandA"),     QStringLiteral("RelaysCount"),
    QStringLiteral("Port"),         QStringLiteral("BaudRate"),
    QStringLiteral("DataBits"),     QStringLiteral("Parity"),
    QStringLiteral("StopBits"),     QStringLiteral("FlowControl"),
};

// The settings document of the executable AppName: its path with the
// extension (the text from the last "." after the last "/") replaced by
// ".xml", or ".xml" appended when it has none.
QString SettingsFileName(const QString &AppName);

// --- Rotator settings block -------------------------------------------------

// The four lines of a block, Booleans as "-1" or "0".
QStringList MakeRotatorBlock(const QString &Title, const QString &MapFileName, bool Enable,
                             bool AutoActive);
// The value of the first line whose name (the text before the first "=")
// is Name; empty when there is none.
QString BlockValue(const QStringList &Block, const QString &Name);
// Replaces the value of the line named Name, or appends the line.
void SetBlockValue(QStringList &Block, const QString &Name, const QString &Value);
// A Boolean line read by the text-to-Boolean rule; throws TConvertError when
// the value (possibly empty) is not a Boolean.
bool BlockBool(const QStringList &Block, const QString &Name);
// The block as one text (the form kept in the main window's Rotators list),
// and back.
QString BlockText(const QStringList &Block);
QStringList BlockLines(const QString &Text);

// Gives a new rotator its settings: the block "Title" = Title, no map file,
// disabled, not opened at start (replacing what Rotator held), and the driver
// the defaults of a rotator entry whose keys are all missing.
void ApplyRotatorDefaults(QStringList &Rotator, TGs232 &Gs232, const QString &Title);

// --- Reading (on a store the caller created) ---------------------------------
// Problems collect one line per key that did not convert and took its
// default, naming the section and the key.

struct TWindowPosition {
  int Left = 0;
  int Top = 0;
};

// Opens "/Main" (created in memory when missing) and reads "Top", then "Left".
TWindowPosition ReadWindowPosition(TXMLIniFile &Ini, QStringList &Problems);
// Opens "/CtrlTable" (created in memory when missing) and reads "Enable".
bool ReadCtrlTableEnable(TXMLIniFile &Ini, QStringList &Problems);
// The names of the rotator entries in document order, or nothing when the
// document has no "/Rotators" (then the program starts with one default
// rotator). An empty list means the section exists without entries.
std::optional<QStringList> RotatorEntryNames(TXMLIniFile &Ini);
// Loads the rotator entry at position Index of "/Rotators": Rotator becomes
// its block (an empty "Title" takes DefaultTitle) and Gs232 gets every other
// value, a missing key its default; "CenterPosition" and "AzimuthAngle"
// outside 0 and 1 take the nearest of them; elevation is switched off. Entries
// are taken by position, so that entries sharing a name each load. False, with
// Rotator and Gs232 untouched, when there is no such entry.
bool LoadRotatorEntry(TXMLIniFile &Ini, int Index, const QString &DefaultTitle,
                      QStringList &Rotator, TGs232 &Gs232, QStringList &Problems);
// Shows one message naming the file and every problem; nothing when there is
// none.
void ReportLoadProblems(const QString &XmlName, const QStringList &Problems);

// --- Writing (on a store the caller created; the caller calls UpdateFile) ----

// Writes "/Main": "Version", "Left", "Top".
void WriteWindowPosition(TXMLIniFile &Ini, const QString &Version, int Left, int Top);
// Writes the rotator entry "/Rotators/Rotator_<Index>" with all twenty keys:
// the first four from the block (a Boolean line that does not convert is
// written as false), the rest from the driver.
void WriteRotatorEntry(TXMLIniFile &Ini, int Index, const QStringList &Rotator,
                       const TGs232 &Gs232);
// Writes "/CtrlTable" "Enable", removes "/Rotators" and writes every rotator
// anew in list order: Rotators[i] (a block as text) with Gs232s[i].
void WriteRotators(TXMLIniFile &Ini, bool CtrlTableEnable, const QStringList &Rotators,
                   const QList<TGs232 *> &Gs232s);

// --- Whole operations on the file (each on a store of its own) -------------
// Each throws TSettingsError when the file can't be read, is not well-formed
// XML (it is then never overwritten) or can't be written; the caller shows the
// message.

// Reads the window position; a missing file is created with an empty root,
// nothing else is written. Shows one message when keys took their defaults.
TWindowPosition LoadWindowPosition(const QString &XmlName);
// Writes "/Main" and the file.
void SaveWindowPosition(const QString &XmlName, const QString &Version, int Left, int Top);
// Writes "/CtrlTable" and all rotators, then the file once.
void SaveRotators(const QString &XmlName, bool CtrlTableEnable, const QStringList &Rotators,
                  const QList<TGs232 *> &Gs232s);
