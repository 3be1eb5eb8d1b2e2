#pragma once
// Typed settings kept in an XML file in the manner of an ini file.
//
// A section is an element addressed by a path below the root element
// ("/Main", "/Rotators/Rotator_0"); a key is a child element of a section
// whose text is the value and whose attribute "Type" records the typed write
// that produced it. The store keeps a current node, so that a caller opens a
// section once and then reads or writes plain key names in it; every operation
// that takes a parent node uses the current node when none is given.
//
// A store is short-lived: create it on the file (which reads the file afresh),
// open a section, read or write keys, call UpdateFile, free it. Changes not
// saved by UpdateFile are lost when the store is freed.
//
// Failures throw: TSettingsError for the file and the XML document,
// TConvertError for a key text that does not convert (see ValueText.h).

#include "settings/ValueText.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <pugixml.hpp>

// What the "Type" attribute of a key holds.
enum class TXMLNodeType {
  xdtUnknown = 0,
  xdtBinary = 1,
  xdtBool = 2,
  xdtCurrency = 3,
  xdtDate = 4,
  xdtDateTime = 5,
  xdtExpandString = 6,
  xdtFloat = 7,
  xdtInt64 = 8,
  xdtInteger = 9,
  xdtString = 10,
  xdtTime = 11,
};

class TXMLIniFile {
public:
  // Loads the file when it exists. Otherwise starts a document with the
  // declaration (version "1.0", encoding "utf-8") and an empty element "root",
  // and writes it to the file at once. An empty file name keeps everything in
  // memory. Throws TSettingsError when the file can't be read, is not
  // well-formed XML, or can't be created; a malformed file is left untouched.
  explicit TXMLIniFile(const QString &FileName);
  // Discards the document; changes not saved by UpdateFile are lost.
  virtual ~TXMLIniFile();
  TXMLIniFile(const TXMLIniFile &) = delete;
  TXMLIniFile &operator=(const TXMLIniFile &) = delete;

  pugi::xml_node CurrentNode() const { return FCurrentNode; }
  // Absolute path of the current node, always ending in "/" ("/" for the root).
  QString CurrentLocationPath() const { return FCurrentLocationPath; }
  pugi::xml_node RootNode() const { return FRootNode; }
  pugi::xml_document &XMLDocument() { return FXML; }
  QString RootNodeName() const;
  QString FileName() const { return FFileName; }
  // Whether the document changed since it was loaded, created or saved.
  bool Modified() const { return FModified; }

  // Absolute form of a path: a path starting with "/" unchanged, any other
  // appended to the current path; always ending in "/".
  QString ExpandLocationPath(const QString &LocationPath) const;

  // Makes the node at the path current. Without CanCreate, false when a
  // segment is missing; with it, missing segments are appended as new
  // elements (a refused element name throws before anything is created). On
  // false the current node and path stay as they were.
  bool OpenNode(const QString &LocationPath, bool CanCreate);
  // Does nothing; callers mark the end of a group of writes with it.
  void CloseNode() {}
  // True when every segment of the path exists. Changes nothing.
  bool NodeExists(const QString &LocationPath) const;
  // Appends a new child element, even if one of that name exists. False on
  // any failure (a refused name).
  bool CreateNode(const QString &TagName, pugi::xml_node ParentNode = {});
  // Removes the first child element named TagName with its subtree. True also
  // when there is no such child. When the current node lay inside the removed
  // subtree, the root element becomes the current node.
  bool DeleteNode(const QString &TagName, pugi::xml_node ParentNode = {});

  // The child elements of a node, in document order: the keys and subsections
  // of a section. Text and other non-element content is not listed.
  void GetNodeNames(QStringList &Strings, pugi::xml_node ParentNode = {}) const;
  int ChildNodesCount(pugi::xml_node ParentNode = {}) const;
  // The child element at the zero-based position; throws outside the list.
  pugi::xml_node ChildNodes(int Index, pugi::xml_node ParentNode = {}) const;
  // The first child element named TagName; throws when there is none.
  pugi::xml_node ChildNodeByName(const QString &TagName, pugi::xml_node ParentNode = {}) const;
  // Whether the node has any child node; the text of a key counts.
  bool HasChildNodes(pugi::xml_node ParentNode = {}) const;
  // The "Type" attribute of the first key named TagName; throws when the key
  // is missing or the attribute is not a whole number.
  TXMLNodeType GetNodeType(const QString &TagName, pugi::xml_node ParentNode = {}) const;

  // Writes the document to its file when it changed and the file name is not
  // empty. The file is replaced atomically: a failed write throws
  // TSettingsError and leaves the previous file as it was.
  void UpdateFile();

  // Reads return Default when the key is missing. ReadInteger, ReadInt64,
  // ReadFloat and ReadTime also return it when the key's text is empty; the
  // other typed reads try to convert the empty text. A text that does not
  // convert throws TConvertError; a key whose content is not a single text
  // throws TSettingsError.
  QString ReadString(const QString &TagName, const QString &Default,
                     pugi::xml_node ParentNode = {}) const;
  QString ReadExpandString(const QString &TagName, const QString &Default,
                           pugi::xml_node ParentNode = {}) const;
  int ReadInteger(const QString &TagName, int Default, pugi::xml_node ParentNode = {}) const;
  qint64 ReadInt64(const QString &TagName, qint64 Default, pugi::xml_node ParentNode = {}) const;
  bool ReadBool(const QString &TagName, bool Default, pugi::xml_node ParentNode = {}) const;
  double ReadFloat(const QString &TagName, double Default, pugi::xml_node ParentNode = {}) const;
  TCurrency ReadCurrency(const QString &TagName, TCurrency Default,
                         pugi::xml_node ParentNode = {}) const;
  QDate ReadDate(const QString &TagName, const QDate &Default,
                 pugi::xml_node ParentNode = {}) const;
  QTime ReadTime(const QString &TagName, const QTime &Default,
                 pugi::xml_node ParentNode = {}) const;
  QDateTime ReadDateTime(const QString &TagName, const QDateTime &Default,
                         pugi::xml_node ParentNode = {}) const;
  // An empty array when the key is missing.
  QByteArray ReadBinaryData(const QString &TagName, pugi::xml_node ParentNode = {}) const;

  // Writes find the first key named TagName or append it to the parent, set
  // its text and then its "Type" attribute; a rewritten key keeps its place.
  void WriteString(const QString &TagName, const QString &Value, pugi::xml_node ParentNode = {});
  void WriteExpandString(const QString &TagName, const QString &Value,
                         pugi::xml_node ParentNode = {});
  void WriteInteger(const QString &TagName, int Value, pugi::xml_node ParentNode = {});
  void WriteInt64(const QString &TagName, qint64 Value, pugi::xml_node ParentNode = {});
  void WriteBool(const QString &TagName, bool Value, pugi::xml_node ParentNode = {});
  void WriteFloat(const QString &TagName, double Value, pugi::xml_node ParentNode = {});
  void WriteCurrency(const QString &TagName, TCurrency Value, pugi::xml_node ParentNode = {});
  void WriteDate(const QString &TagName, const QDate &Value, pugi::xml_node ParentNode = {});
  void WriteTime(const QString &TagName, const QTime &Value, pugi::xml_node ParentNode = {});
  void WriteDateTime(const QString &TagName, const QDateTime &Value,
                     pugi::xml_node ParentNode = {});
  void WriteBinaryData(const QString &TagName, const QByteArray &Value,
                       pugi::xml_node ParentNode = {});

private:
  pugi::xml_node Parent(pugi::xml_node ParentNode) const;
  pugi::xml_node FindLocationNode(const QString &ExpandedPath) const;
  // The key element, or a null node when it is missing.
  pugi::xml_node FindKeyNode(const QString &TagName, pugi::xml_node ParentNode) const;
  // The key element, appended when it is missing.
  pugi::xml_node GetKeyNode(const QString &TagName, pugi::xml_node ParentNode);
  // The text of a key, or nothing when the key is missing.
  std::optional<QString> KeyText(const QString &TagName, pugi::xml_node ParentNode) const;
  void WriteKey(const QString &TagName, const QString &Text, TXMLNodeType Type,
                pugi::xml_node ParentNode);

  pugi::xml_node FCurrentNode;
  QString FCurrentLocationPath;
  pugi::xml_node FRootNode;
  pugi::xml_document FXML;
  QString FFileName;
  bool FModified = false;
};
