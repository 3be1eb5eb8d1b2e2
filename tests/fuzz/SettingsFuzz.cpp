// The settings store on any file: loading either refuses it with its error or
// gives a document whose every key reads the same after a save and a reload,
// as text and in every typed read.

#include "FuzzSupport.h"

#include "settings/ValueText.h"
#include "settings/XMLIniFile.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

// What every read of a key gives: its text, or that it is no single text, and
// each typed read's value or that it does not convert.
QStringList Readings(const TXMLIniFile &Ini, const QString &Key, pugi::xml_node Parent) {
  QStringList Out;
  auto Try = [&](const std::function<QString()> &Read) {
    try {
      Out << Read();
    } catch (const TConvertError &) {
      Out << QStringLiteral("<convert>");
    } catch (const TSettingsError &) {
      Out << QStringLiteral("<settings>");
    }
  };
  Try([&] { return Ini.ReadString(Key, QStringLiteral("<default>"), Parent); });
  Try([&] { return QString::number(Ini.ReadInteger(Key, -7, Parent)); });
  Try([&] { return QString::number(Ini.ReadInt64(Key, -7, Parent)); });
  Try([&] { return BoolToText(Ini.ReadBool(Key, false, Parent)); });
  Try([&] { return FloatToText(Ini.ReadFloat(Key, -7.5, Parent)); });
  Try([&] { return CurrencyToText(Ini.ReadCurrency(Key, TCurrency{-7}, Parent)); });
  Try([&] { return DateTimeToText(Ini.ReadDateTime(Key, QDateTime(), Parent)); });
  Try([&] { return QString::fromLatin1(Ini.ReadBinaryData(Key, Parent).toHex()); });
  return Out;
}

// Every key of every section, depth first, with its readings.
void Collect(const TXMLIniFile &Ini, pugi::xml_node Node, const QString &Path,
             QStringList &Out) {
  QStringList Names;
  Ini.GetNodeNames(Names, Node);
  int Index = 0;
  for (pugi::xml_node Child = Node.first_child(); Child; Child = Child.next_sibling()) {
    if (Child.type() != pugi::node_element)
      continue;
    const QString Name = Names.value(Index++);
    Out << Path + Name + QStringLiteral(" = ") + Readings(Ini, Name, Node).join(u'|');
    Collect(Ini, Child, Path + Name + u'/', Out);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QString File = ScratchFile("settings.xml");
  if (!WriteBytes(File, Bytes(Data, Size)))
    return 0;
  QStringList Before;
  try {
    TXMLIniFile Ini(File);
    Collect(Ini, Ini.RootNode(), QStringLiteral("/"), Before);
    // A write marks the document changed, so that it is saved.
    Ini.WriteString(QStringLiteral("FuzzMark"), QStringLiteral("\r\n\t&<>\""));
    Ini.UpdateFile();
  } catch (const TSettingsError &) {
    return 0; // refused as a whole: nothing to compare
  }
  QStringList After;
  try {
    TXMLIniFile Ini(File);
    Collect(Ini, Ini.RootNode(), QStringLiteral("/"), After);
    FUZZ_CHECK(Ini.ReadString(QStringLiteral("FuzzMark"), QString()) ==
                   QStringLiteral("\r\n\t&<>\""),
               "a written value reads back as written");
  } catch (const TSettingsError &) {
    FUZZ_CHECK(false, "a document the store wrote loads again");
  }
  // Apart from the mark (which may have been there already), every key reads
  // the same, in the same order.
  auto WithoutMark = [](QStringList Keys) {
    Keys.removeIf([](const QString &Key) { return Key.startsWith(QLatin1String("/FuzzMark")); });
    return Keys;
  };
  const QStringList Was = WithoutMark(Before), Is = WithoutMark(After);
  for (qsizetype I = 0; I < std::min(Was.size(), Is.size()); ++I)
    if (Was[I] != Is[I]) {
      std::fprintf(stderr, "before: %s\nafter:  %s\n", qPrintable(Was[I]), qPrintable(Is[I]));
      break;
    }
  FUZZ_CHECK(Is == Was, "every key reads the same after a save");
  return 0;
}
