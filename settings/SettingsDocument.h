#pragma once
// The settings document: the XML file that keeps the main window's position,
// the switch of the frequency control table and the complete settings of
// every rotator.
//
//   /Main        "Version" (string), "Left", "Top" (integers)
//   /CtrlTable   "Enable" (Boolean)
//   /Rotators    one entry per rotator, written as Rotator_0, Rotator_1, ...;
//                on reading, every child is one rotator in document order and
//                the names carry no meaning
//
// A rotator entry holds the twenty keys of TRotatorSettings (RotatorKeys).
//
// Loading is tolerant: a key whose text does not convert takes its default
// and is noted as a problem value (file, section, key, text); the rest of the
// document still loads, and the caller shows the problems once
// (LoadProblemsMessage). Nothing here shows anything. Saving the rotators
// builds the whole new document first and writes the file once, replacing it
// atomically; a failed write throws and leaves the previous file.

#include "rotator/RotatorSettings.h"
#include "settings/ValueText.h"
#include "settings/XMLIniFile.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One key that could not be read and took its default.
struct TLoadProblem {
  QString File;    // the settings document
  QString Section; // "/Rotators/Rotator_0"
  QString Key;     // "Enable"
  QString Text;    // why: the conversion error's message
  bool operator==(const TLoadProblem &) const = default;
};
using TLoadProblems = QList<TLoadProblem>;

// The one message that reports Problems: the file named, one line per
// problem ("<section>, key "<key>": <text>"). Empty when there is none.
QString LoadProblemsMessage(const TLoadProblems &Problems);

// Reads the keys of one section; a key that does not convert takes its
// default and is noted.
class TKeyReader {
public:
  TKeyReader(TXMLIniFile &Ini, pugi::xml_node Section, QString SectionPath,
             TLoadProblems &Problems)
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
  double Float(const QString &Key, double Default) {
    return Tolerant(Key, Default, [&] { return FIni.ReadFloat(Key, Default, FSection); });
  }
  // Notes a problem of a key whose value was read but can't be used.
  void Note(const QString &Key, const QString &Text) {
    FProblems.append({FIni.FileName(), FSectionPath, Key, Text});
  }

private:
  template <class T, class F> T Tolerant(const QString &Key, const T &Default, F Read) {
    try {
      return Read();
    } catch (const TSettingsError &E) {
      Note(Key, E.Message());
      return Default;
    }
  }

  TXMLIniFile &FIni;
  pugi::xml_node FSection;
  QString FSectionPath;
  TLoadProblems &FProblems;
};

// Section paths.
inline const QString MainSection = QStringLiteral("/Main");
inline const QString CtrlTableSection = QStringLiteral("/CtrlTable");
inline const QString RotatorsSection = QStringLiteral("/Rotators");

// The settings document of the executable AppName: its path with the
// extension (the text from the last "." after the last "/") replaced by
// ".xml", or ".xml" appended when it has none.
QString SettingsFileName(const QString &AppName);

// Where the settings document is kept when no path is given, and why.
struct TSettingsLocation {
  enum TKind {
    Given,    // named by the operator (a switch or the environment)
    Portable, // beside the executable: its document exists and may be written
    User      // "orbalt.xml" in the user's configuration folder
  } Kind = User;
  QString File;
};

// The settings document of the executable AppName when no path is given: its
// own document (SettingsFileName) when that file exists and its folder is
// writable, so a copy carried on a stick keeps its settings with it;
// otherwise "orbalt.xml" in the folder "orbalt" of the user's configuration
// folder ($XDG_CONFIG_HOME, by default ~/.config). Creates nothing.
TSettingsLocation DefaultSettingsLocation(const QString &AppName);

// --- Reading (on a store the caller created) ---------------------------------
// Problems collect one value per key that did not convert and took its
// default.

struct TWindowPosition {
  int Left = 0;
  int Top = 0;
};

// Opens "/Main" (created in memory when missing) and reads "Top", then "Left".
TWindowPosition ReadWindowPosition(TXMLIniFile &Ini, TLoadProblems &Problems);
// Opens "/CtrlTable" (created in memory when missing) and reads "Enable".
bool ReadCtrlTableEnable(TXMLIniFile &Ini, TLoadProblems &Problems);
// The names of the rotator entries in document order, or nothing when the
// document has no "/Rotators" (then the program starts with one default
// rotator). An empty list means the section exists without entries.
std::optional<QStringList> RotatorEntryNames(TXMLIniFile &Ini);
// The rotator entry at position Index of "/Rotators": a missing key takes its
// default, an empty "Title" DefaultTitle; a line break in "Title" or
// "MapFileName" becomes a blank; "CenterPosition" and "AzimuthAngle"
// outside 0 and 1 take the nearest of them. Entries are taken by position, so
// that entries sharing a name each load. Nothing when there is no such entry.
std::optional<TRotatorSettings> ReadRotatorEntry(TXMLIniFile &Ini, int Index,
                                                 const QString &DefaultTitle,
                                                 TLoadProblems &Problems);
// Every rotator entry of "/Rotators" in document order, read as ReadRotatorEntry
// reads one (an empty "Title" stays empty), in one pass over the section; or
// nothing when the document has no "/Rotators".
std::optional<QList<TRotatorSettings>> ReadRotatorEntries(TXMLIniFile &Ini,
                                                         TLoadProblems &Problems);

// --- Writing (on a store the caller created; the caller calls UpdateFile) ----

// Writes "/Main": "Version", "Left", "Top".
void WriteWindowPosition(TXMLIniFile &Ini, const QString &Version, int Left, int Top);
// Writes the rotator entry "/Rotators/Rotator_<Index>" with all twenty keys.
void WriteRotatorEntry(TXMLIniFile &Ini, int Index, const TRotatorSettings &Settings);
// Writes "/CtrlTable" "Enable", removes "/Rotators" and writes every rotator
// anew in list order.
void WriteRotators(TXMLIniFile &Ini, bool CtrlTableEnable,
                   const QList<TRotatorSettings> &Rotators);

// --- Whole operations on the file (each on a store of its own) -------------
// Each throws TSettingsError when the file can't be read, is not well-formed
// XML (it is then never overwritten) or can't be written; the caller shows the
// message.

// Reads the window position; a missing file is created with an empty root,
// nothing else is written.
TWindowPosition LoadWindowPosition(const QString &XmlName, TLoadProblems &Problems);
// Writes "/Main" and the file.
void SaveWindowPosition(const QString &XmlName, const QString &Version, int Left, int Top);
// Writes "/CtrlTable" and all rotators, then the file once.
void SaveRotators(const QString &XmlName, bool CtrlTableEnable,
                  const QList<TRotatorSettings> &Rotators);
