#include "settings/XMLIniFile.h"
#include "base/AtomicWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <string>
#include <vector>

namespace {

const char *const TypeAttribute = "Type";

QString NativeName(const QString &FileName) { return QDir::toNativeSeparators(FileName); }

bool IsNameStartChar(char32_t C) {
  return C == U':' || C == U'_' || (C >= U'A' && C <= U'Z') || (C >= U'a' && C <= U'z') ||
         (C >= 0xC0 && C <= 0xD6) || (C >= 0xD8 && C <= 0xF6) || (C >= 0xF8 && C <= 0x2FF) ||
         (C >= 0x370 && C <= 0x37D) || (C >= 0x37F && C <= 0x1FFF) ||
         (C >= 0x200C && C <= 0x200D) || (C >= 0x2070 && C <= 0x218F) ||
         (C >= 0x2C00 && C <= 0x2FEF) || (C >= 0x3001 && C <= 0xD7FF) ||
         (C >= 0xF900 && C <= 0xFDCF) || (C >= 0xFDF0 && C <= 0xFFFD) ||
         (C >= 0x10000 && C <= 0xEFFFF);
}

bool IsNameChar(char32_t C) {
  return IsNameStartChar(C) || C == U'-' || C == U'.' || (C >= U'0' && C <= U'9') || C == 0xB7 ||
         (C >= 0x300 && C <= 0x36F) || (C >= 0x203F && C <= 0x2040);
}

// Element names follow the XML rules; pugixml itself would write any name,
// which would make the file unreadable.
bool IsValidElementName(const QString &Name) {
  const QList<uint> Chars = Name.toUcs4();
  if (Chars.isEmpty() || !IsNameStartChar(Chars.front()))
    return false;
  for (uint C : Chars)
    if (!IsNameChar(C))
      return false;
  return true;
}

void CheckElementName(const QString &Name) {
  if (!IsValidElementName(Name))
    throw TSettingsError(QStringLiteral("'%1' is not a valid XML element name").arg(Name));
}

pugi::xml_node FirstChildElement(pugi::xml_node Parent, const QString &Name) {
  const QByteArray Utf8 = Name.toUtf8();
  for (pugi::xml_node Child : Parent.children(Utf8.constData()))
    if (Child.type() == pugi::node_element)
      return Child;
  return {};
}

// The segments of an expanded path: the empty texts before the leading and
// after the trailing "/" are skipped, so "/" alone has none.
QStringList PathSegments(const QString &ExpandedPath) {
  QStringList Segments = ExpandedPath.split(u'/');
  Segments.removeFirst();
  Segments.removeLast();
  return Segments;
}

// The text content of a key: nothing, or a single text or CDATA node.
bool HoldsSingleText(pugi::xml_node Key) {
  const pugi::xml_node First = Key.first_child();
  return !First || (!First.next_sibling() &&
                    (First.type() == pugi::node_pcdata || First.type() == pugi::node_cdata));
}

[[noreturn]] void ThrowNoSingleText(pugi::xml_node Key) {
  throw TSettingsError(QStringLiteral("Element \"%1\" does not contain a single text node")
                           .arg(QString::fromUtf8(Key.name())));
}

// Collects the written text. A carriage return can only come from a value
// (the writer's own line ends are line feeds): it is written as a character
// reference, since a parser reads a raw one as a line feed, and the value
// would not read back as it was stored.
struct TByteWriter : pugi::xml_writer {
  QByteArray Data;
  void write(const void *Bytes, size_t Size) override {
    const auto *Text = static_cast<const char *>(Bytes);
    for (size_t I = 0; I < Size; ++I) {
      if (Text[I] == '\r')
        Data.append("&#13;");
      else
        Data.append(Text[I]);
    }
  }
};

// Deeper than anything the program writes by far; a deeper document is
// refused, since every level it keeps costs one more tab on each of its lines
// when it is written back.
constexpr int MaxDepth = 256;

// Whether an element lies deeper than MaxDepth; the walk stops at the first.
bool NestedTooDeeply(pugi::xml_document &Document) {
  struct TWalker : pugi::xml_tree_walker {
    bool TooDeep = false;
    bool for_each(pugi::xml_node &Node) override {
      TooDeep = Node.type() == pugi::node_element && depth() >= MaxDepth;
      return !TooDeep;
    }
  } Walker;
  Document.traverse(Walker);
  return Walker.TooDeep;
}

QByteArray DocumentText(pugi::xml_document &Document) {
  // The file is always written as UTF-8; a loaded declaration that named
  // another encoding would misdescribe it.
  for (pugi::xml_node Node : Document.children()) {
    if (Node.type() != pugi::node_declaration)
      continue;
    pugi::xml_attribute Encoding = Node.attribute("encoding");
    if (Encoding && QByteArray(Encoding.value()).toLower() != "utf-8")
      Encoding.set_value("utf-8");
  }
  TByteWriter Writer;
  Document.save(Writer, "\t", pugi::format_indent | pugi::format_no_empty_element_tags,
                pugi::encoding_utf8);
  return Writer.Data;
}

// Replaces the file as a whole: a write that fails part-way through (a full
// disk) leaves the old document as it was.
void SaveDocument(pugi::xml_document &Document, const QString &FileName) {
  QString Error;
  if (!WriteFileAtomically(FileName, DocumentText(Document), &Error))
    throw TSettingsError(QStringLiteral("Cannot write the settings file \"%1\": %2")
                             .arg(NativeName(FileName), Error));
}

// Joins texts that a comment or processing instruction separated: those are
// not kept, and written back the two texts would read as one, so that a key
// would read differently after a save than before it.
void JoinSplitTexts(pugi::xml_document &Document) {
  struct TWalker : pugi::xml_tree_walker {
    std::vector<pugi::xml_node> Second;
    bool for_each(pugi::xml_node &Node) override {
      if (Node.type() == pugi::node_pcdata && Node.previous_sibling().type() == pugi::node_pcdata)
        Second.push_back(Node);
      return true;
    }
  } Walker;
  Document.traverse(Walker);
  // Back to front, so that a run of several texts ends up in its first.
  for (auto It = Walker.Second.rbegin(); It != Walker.Second.rend(); ++It) {
    pugi::xml_node First = It->previous_sibling();
    const std::string Joined = std::string(First.value()) + It->value();
    First.set_value(Joined.c_str());
    It->parent().remove_child(*It);
  }
}

// Whitespace between elements is dropped; a key whose whole text is white
// space keeps it.
void LoadDocument(pugi::xml_document &Document, const QString &FileName) {
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly))
    throw TSettingsError(QStringLiteral("Cannot read the settings file \"%1\": %2")
                             .arg(NativeName(FileName), File.errorString()));
  const QByteArray Data = File.readAll();
  if (File.error() != QFileDevice::NoError)
    throw TSettingsError(QStringLiteral("Cannot read the settings file \"%1\": %2")
                             .arg(NativeName(FileName), File.errorString()));
  const pugi::xml_parse_result Result = Document.load_buffer(
      Data.constData(), static_cast<size_t>(Data.size()),
      pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single,
      pugi::encoding_auto);
  if (Result && NestedTooDeeply(Document))
    throw TSettingsError(
        QStringLiteral("The settings file \"%1\" is nested deeper than %2 elements")
            .arg(NativeName(FileName))
            .arg(MaxDepth));
  if (Result) {
    JoinSplitTexts(Document);
    return;
  }
  const QByteArray Before = Data.left(static_cast<qsizetype>(Result.offset));
  const qsizetype Line = Before.count('\n') + 1;
  const qsizetype Column = Before.size() - (Before.lastIndexOf('\n') + 1) + 1;
  throw TSettingsError(QStringLiteral("The settings file \"%1\" is not well-formed XML: %2 "
                                      "(line %3, column %4)")
                           .arg(NativeName(FileName), QString::fromUtf8(Result.description()))
                           .arg(Line)
                           .arg(Column));
}

// Written values are escaped once by the store and once more by the XML
// writer; reading undoes the store's escaping after the parser undid its own.
QString EscapeValue(QString Value) {
  Value.replace(u'&', QStringLiteral("&amp;"));
  Value.replace(u'>', QStringLiteral("&gt;"));
  Value.replace(u'<', QStringLiteral("&lt;"));
  Value.replace(u'"', QStringLiteral("&quot;"));
  return Value;
}

QString UnescapeValue(QString Text) {
  Text.replace(QStringLiteral("&gt;"), QStringLiteral(">"), Qt::CaseInsensitive);
  Text.replace(QStringLiteral("&lt;"), QStringLiteral("<"), Qt::CaseInsensitive);
  Text.replace(QStringLiteral("&quot;"), QStringLiteral("\""), Qt::CaseInsensitive);
  Text.replace(QStringLiteral("&amp;"), QStringLiteral("&"), Qt::CaseInsensitive);
  return Text;
}

} // namespace

TXMLIniFile::TXMLIniFile(const QString &FileName) : FFileName(FileName) {
  if (!FileName.isEmpty() && QFileInfo::exists(FileName)) {
    LoadDocument(FXML, FileName);
  } else {
    pugi::xml_node Declaration = FXML.append_child(pugi::node_declaration);
    Declaration.append_attribute("version").set_value("1.0");
    Declaration.append_attribute("encoding").set_value("utf-8");
    FXML.append_child("root");
    if (!FileName.isEmpty())
      SaveDocument(FXML, FileName);
  }
  FRootNode = FXML.document_element();
  FCurrentNode = FRootNode;
  FCurrentLocationPath = QStringLiteral("/");
}

TXMLIniFile::~TXMLIniFile() = default;

QString TXMLIniFile::RootNodeName() const { return QString::fromUtf8(FRootNode.name()); }

QString TXMLIniFile::ExpandLocationPath(const QString &LocationPath) const {
  QString Path;
  if (LocationPath.startsWith(u'/')) {
    Path = LocationPath;
  } else {
    Path = FCurrentLocationPath;
    if (!Path.endsWith(u'/'))
      Path += u'/';
    Path += LocationPath;
  }
  if (!Path.endsWith(u'/'))
    Path += u'/';
  return Path;
}

pugi::xml_node TXMLIniFile::FindLocationNode(const QString &ExpandedPath) const {
  pugi::xml_node Node = FRootNode;
  for (const QString &Segment : PathSegments(ExpandedPath)) {
    Node = FirstChildElement(Node, Segment);
    if (!Node)
      break;
  }
  return Node;
}

bool TXMLIniFile::OpenNode(const QString &LocationPath, bool CanCreate) {
  const QString Path = ExpandLocationPath(LocationPath);
  const QStringList Segments = PathSegments(Path);
  pugi::xml_node Node = FRootNode;
  qsizetype Found = 0;
  for (; Found < Segments.size(); ++Found) {
    const pugi::xml_node Child = FirstChildElement(Node, Segments[Found]);
    if (!Child)
      break;
    Node = Child;
  }
  if (Found < Segments.size()) {
    if (!CanCreate)
      return false;
    // Every missing name is checked first, so that a refused one leaves the
    // document as it was.
    for (qsizetype I = Found; I < Segments.size(); ++I)
      CheckElementName(Segments[I]);
    for (qsizetype I = Found; I < Segments.size(); ++I)
      Node = Node.append_child(Segments[I].toUtf8().constData());
    FModified = true;
  }
  FCurrentNode = Node;
  FCurrentLocationPath = Path;
  return true;
}

bool TXMLIniFile::NodeExists(const QString &LocationPath) const {
  return static_cast<bool>(FindLocationNode(ExpandLocationPath(LocationPath)));
}

pugi::xml_node TXMLIniFile::Parent(pugi::xml_node ParentNode) const {
  return ParentNode ? ParentNode : FCurrentNode;
}

bool TXMLIniFile::CreateNode(const QString &TagName, pugi::xml_node ParentNode) {
  if (!IsValidElementName(TagName))
    return false;
  if (!Parent(ParentNode).append_child(TagName.toUtf8().constData()))
    return false;
  FModified = true;
  return true;
}

bool TXMLIniFile::DeleteNode(const QString &TagName, pugi::xml_node ParentNode) {
  pugi::xml_node Owner = Parent(ParentNode);
  const pugi::xml_node Child = FirstChildElement(Owner, TagName);
  if (!Child)
    return true;
  // The current node must never point into freed memory.
  for (pugi::xml_node Node = FCurrentNode; Node; Node = Node.parent()) {
    if (Node == Child) {
      FCurrentNode = FRootNode;
      FCurrentLocationPath = QStringLiteral("/");
      break;
    }
  }
  if (!Owner.remove_child(Child))
    return false;
  FModified = true;
  return true;
}

void TXMLIniFile::GetNodeNames(QStringList &Strings, pugi::xml_node ParentNode) const {
  for (pugi::xml_node Child : Parent(ParentNode).children())
    if (Child.type() == pugi::node_element)
      Strings.append(QString::fromUtf8(Child.name()));
}

int TXMLIniFile::ChildNodesCount(pugi::xml_node ParentNode) const {
  int Count = 0;
  for (pugi::xml_node Child : Parent(ParentNode).children())
    Count += Child.type() == pugi::node_element ? 1 : 0;
  return Count;
}

pugi::xml_node TXMLIniFile::ChildNodes(int Index, pugi::xml_node ParentNode) const {
  int Position = 0;
  for (pugi::xml_node Child : Parent(ParentNode).children()) {
    if (Child.type() != pugi::node_element)
      continue;
    if (Position++ == Index)
      return Child;
  }
  throw TSettingsError(QStringLiteral("List index out of bounds (%1)").arg(Index));
}

pugi::xml_node TXMLIniFile::ChildNodeByName(const QString &TagName,
                                            pugi::xml_node ParentNode) const {
  if (pugi::xml_node Child = FirstChildElement(Parent(ParentNode), TagName))
    return Child;
  throw TSettingsError(QStringLiteral("Node \"%1\" not found").arg(TagName));
}

bool TXMLIniFile::HasChildNodes(pugi::xml_node ParentNode) const {
  return static_cast<bool>(Parent(ParentNode).first_child());
}

TXMLNodeType TXMLIniFile::GetNodeType(const QString &TagName, pugi::xml_node ParentNode) const {
  const pugi::xml_node Key = FindKeyNode(TagName, ParentNode);
  if (!Key)
    throw TSettingsError(QStringLiteral("Node \"%1\" not found").arg(TagName));
  const QString Text = QString::fromUtf8(Key.attribute(TypeAttribute).value());
  int Number = 0;
  try {
    Number = TextToInteger(Text);
  } catch (const TConvertError &) {
    throw TSettingsError(
        QStringLiteral("Node \"%1\" has no valid \"Type\" attribute ('%2')").arg(TagName, Text));
  }
  if (Number < 0 || Number > static_cast<int>(TXMLNodeType::xdtTime))
    return TXMLNodeType::xdtUnknown;
  return static_cast<TXMLNodeType>(Number);
}

void TXMLIniFile::UpdateFile() {
  if (!FModified || FFileName.isEmpty())
    return;
  SaveDocument(FXML, FFileName);
  FModified = false;
}

pugi::xml_node TXMLIniFile::FindKeyNode(const QString &TagName, pugi::xml_node ParentNode) const {
  return FirstChildElement(Parent(ParentNode), TagName);
}

pugi::xml_node TXMLIniFile::GetKeyNode(const QString &TagName, pugi::xml_node ParentNode) {
  if (pugi::xml_node Key = FindKeyNode(TagName, ParentNode))
    return Key;
  CheckElementName(TagName);
  FModified = true;
  return Parent(ParentNode).append_child(TagName.toUtf8().constData());
}

std::optional<QString> TXMLIniFile::KeyText(const QString &TagName,
                                            pugi::xml_node ParentNode) const {
  const pugi::xml_node Key = FindKeyNode(TagName, ParentNode);
  if (!Key)
    return std::nullopt;
  if (!HoldsSingleText(Key))
    ThrowNoSingleText(Key);
  return QString::fromUtf8(Key.first_child().value());
}

void TXMLIniFile::WriteKey(const QString &TagName, const QString &Text, TXMLNodeType Type,
                           pugi::xml_node ParentNode) {
  if (pugi::xml_node Existing = FindKeyNode(TagName, ParentNode);
      Existing && !HoldsSingleText(Existing))
    ThrowNoSingleText(Existing);
  pugi::xml_node Key = GetKeyNode(TagName, ParentNode);
  while (pugi::xml_node Child = Key.first_child())
    Key.remove_child(Child);
  // An empty value leaves the element without content, as a loaded file has it.
  if (!Text.isEmpty())
    Key.append_child(pugi::node_pcdata).set_value(Text.toUtf8().constData());
  pugi::xml_attribute Attribute = Key.attribute(TypeAttribute);
  if (!Attribute)
    Attribute = Key.append_attribute(TypeAttribute);
  Attribute.set_value(static_cast<int>(Type));
  FModified = true;
}

QString TXMLIniFile::ReadString(const QString &TagName, const QString &Default,
                                pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text ? UnescapeValue(*Text) : Default;
}

QString TXMLIniFile::ReadExpandString(const QString &TagName, const QString &Default,
                                      pugi::xml_node ParentNode) const {
  return ExpandEnvironmentText(ReadString(TagName, Default, ParentNode));
}

int TXMLIniFile::ReadInteger(const QString &TagName, int Default, pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text && !Text->isEmpty() ? TextToInteger(*Text) : Default;
}

qint64 TXMLIniFile::ReadInt64(const QString &TagName, qint64 Default,
                              pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text && !Text->isEmpty() ? TextToInt64(*Text) : Default;
}

bool TXMLIniFile::ReadBool(const QString &TagName, bool Default, pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text ? TextToBool(*Text) : Default;
}

double TXMLIniFile::ReadFloat(const QString &TagName, double Default,
                              pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text && !Text->isEmpty() ? TextToFloat(*Text) : Default;
}

TCurrency TXMLIniFile::ReadCurrency(const QString &TagName, TCurrency Default,
                                    pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text ? TextToCurrency(*Text) : Default;
}

QDate TXMLIniFile::ReadDate(const QString &TagName, const QDate &Default,
                            pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text ? TextToDate(*Text) : Default;
}

QTime TXMLIniFile::ReadTime(const QString &TagName, const QTime &Default,
                            pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text && !Text->isEmpty() ? TextToTime(*Text) : Default;
}

QDateTime TXMLIniFile::ReadDateTime(const QString &TagName, const QDateTime &Default,
                                    pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text ? TextToDateTime(*Text) : Default;
}

QByteArray TXMLIniFile::ReadBinaryData(const QString &TagName, pugi::xml_node ParentNode) const {
  const auto Text = KeyText(TagName, ParentNode);
  return Text ? TextToBinary(*Text) : QByteArray();
}

void TXMLIniFile::WriteString(const QString &TagName, const QString &Value,
                              pugi::xml_node ParentNode) {
  WriteKey(TagName, EscapeValue(Value), TXMLNodeType::xdtString, ParentNode);
}

void TXMLIniFile::WriteExpandString(const QString &TagName, const QString &Value,
                                    pugi::xml_node ParentNode) {
  WriteKey(TagName, EscapeValue(Value), TXMLNodeType::xdtExpandString, ParentNode);
}

void TXMLIniFile::WriteInteger(const QString &TagName, int Value, pugi::xml_node ParentNode) {
  WriteKey(TagName, QString::number(Value), TXMLNodeType::xdtInteger, ParentNode);
}

void TXMLIniFile::WriteInt64(const QString &TagName, qint64 Value, pugi::xml_node ParentNode) {
  WriteKey(TagName, QString::number(Value), TXMLNodeType::xdtInt64, ParentNode);
}

void TXMLIniFile::WriteBool(const QString &TagName, bool Value, pugi::xml_node ParentNode) {
  WriteKey(TagName, BoolToText(Value), TXMLNodeType::xdtBool, ParentNode);
}

void TXMLIniFile::WriteFloat(const QString &TagName, double Value, pugi::xml_node ParentNode) {
  WriteKey(TagName, FloatToText(Value), TXMLNodeType::xdtFloat, ParentNode);
}

void TXMLIniFile::WriteCurrency(const QString &TagName, TCurrency Value,
                                pugi::xml_node ParentNode) {
  WriteKey(TagName, CurrencyToText(Value), TXMLNodeType::xdtCurrency, ParentNode);
}

void TXMLIniFile::WriteDate(const QString &TagName, const QDate &Value, pugi::xml_node ParentNode) {
  WriteKey(TagName, DateToText(Value), TXMLNodeType::xdtDate, ParentNode);
}

void TXMLIniFile::WriteTime(const QString &TagName, const QTime &Value, pugi::xml_node ParentNode) {
  WriteKey(TagName, TimeToText(Value), TXMLNodeType::xdtTime, ParentNode);
}

void TXMLIniFile::WriteDateTime(const QString &TagName, const QDateTime &Value,
                                pugi::xml_node ParentNode) {
  WriteKey(TagName, DateTimeToText(Value), TXMLNodeType::xdtDateTime, ParentNode);
}

void TXMLIniFile::WriteBinaryData(const QString &TagName, const QByteArray &Value,
                                  pugi::xml_node ParentNode) {
  WriteKey(TagName, BinaryToText(Value), TXMLNodeType::xdtBinary, ParentNode);
}
