#pragma once
// Shared fixture of the main window tests: a temporary folder holding the
// settings document and the window's pictures, the recording user-interface
// services, and helpers to read what the window shows and what it saved.

#include "app/AzimuthDisplay.h"
#include "app/Main.h"
#include "common/RecordingUiServices.h"
#include "settings/SettingsDocument.h"
#include "settings/XMLIniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// Colours of the picture files, so that a button's picture tells which file
// it came from.
inline const QColor ColorCW_On(200, 0, 0);
inline const QColor ColorCW_Off(0, 160, 0);
inline const QColor ColorCCW_On(0, 0, 200);
inline const QColor ColorCCW_Off(200, 200, 0);

// One rotator entry of a settings document: the element name and its keys
// as they stand in the file.
struct TEntry {
  QString Name;
  std::vector<std::pair<QString, QString>> Keys;
};

class MainTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    WritePicture(QStringLiteral("AzChart.bmp"), QColor(230, 230, 230), 64);
    WritePicture(QStringLiteral("CW_On.bmp"), ColorCW_On);
    WritePicture(QStringLiteral("CW_Off.bmp"), ColorCW_Off);
    WritePicture(QStringLiteral("CCW_On.bmp"), ColorCCW_On);
    WritePicture(QStringLiteral("CCW_Off.bmp"), ColorCCW_Off);
  }

  void TearDown() override {
    // Drivers removed by the window are freed once control is back in the
    // event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  QString SettingsPath() const { return Dir.filePath(QStringLiteral("orbalt.xml")); }

  void WritePicture(const QString &Name, const QColor &Color, int Size = 16) {
    QImage Picture(Size, Size, QImage::Format_RGB32);
    Picture.fill(Color);
    ASSERT_TRUE(Picture.save(Dir.filePath(Name), "BMP"));
  }

  std::unique_ptr<TMain> Start() {
    TMainOptions Options;
    Options.SettingsFile = SettingsPath();
    Options.PictureFolder = Dir.path();
    return std::make_unique<TMain>(Options);
  }

  // A settings document with the rotator entries given, each key a string.
  void WriteSettings(const std::vector<TEntry> &Entries, const QString &Extra = {}) {
    QString Text = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n") + Extra;
    Text += QStringLiteral("<Rotators>\n");
    for (const TEntry &Entry : Entries) {
      Text += QStringLiteral("<%1>").arg(Entry.Name);
      for (const auto &[Key, Value] : Entry.Keys)
        Text += QStringLiteral("<%1 Type=\"%2\">%3</%1>")
                    .arg(Key, QString::number(KeyType(Key)), Value.toHtmlEscaped());
      Text += QStringLiteral("</%1>\n").arg(Entry.Name);
    }
    Text += QStringLiteral("</Rotators>\n</root>\n");
    WriteFile(Text);
  }

  // The "Type" attribute the program writes for a rotator key.
  static int KeyType(const QString &Key) {
    static const QStringList Booleans = {QStringLiteral("Enable"), QStringLiteral("AutoActive"),
                                         QStringLiteral("ReturnHome")};
    static const QStringList Integers = {
        QStringLiteral("CenterPosition"), QStringLiteral("AzimuthAngle"), QStringLiteral("Home"),
        QStringLiteral("Offset"), QStringLiteral("RelaysCount")};
    return Booleans.contains(Key) ? 2 : Integers.contains(Key) ? 9 : 10;
  }

  void WriteFile(const QString &Text) {
    QFile File(SettingsPath());
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    File.write(Text.toUtf8());
  }

  QByteArray ReadFile() const {
    QFile File(SettingsPath());
    if (!File.open(QIODevice::ReadOnly))
      return {};
    return File.readAll();
  }

  // The saved rotator entries: element name and every key's text, in
  // document order; nothing when the document has no "/Rotators".
  std::optional<std::vector<std::pair<QString, std::map<QString, QString>>>> SavedRotators() {
    TXMLIniFile Ini(SettingsPath());
    if (!Ini.OpenNode(QStringLiteral("/Rotators"), false))
      return std::nullopt;
    std::vector<std::pair<QString, std::map<QString, QString>>> Result;
    QStringList Names;
    Ini.GetNodeNames(Names);
    for (const QString &Name : Names) {
      TXMLIniFile Entry(SettingsPath());
      EXPECT_TRUE(Entry.OpenNode(QStringLiteral("/Rotators/") + Name, false));
      QStringList Keys;
      Entry.GetNodeNames(Keys);
      std::map<QString, QString> Values;
      for (const QString &Key : Keys)
        Values[Key] = Entry.ReadString(Key, QString());
      Result.emplace_back(Name, Values);
    }
    return Result;
  }

  QStringList SavedTitles() {
    QStringList Titles;
    if (auto Entries = SavedRotators())
      for (const auto &[Name, Values] : *Entries)
        Titles << Values.at(QStringLiteral("Title"));
    return Titles;
  }

  static QStringList Tabs(const TMain &M) {
    QStringList Captions;
    for (int I = 0; I < M.PageControl1->count(); ++I)
      Captions << M.PageControl1->tabText(I);
    return Captions;
  }

  static QStringList Status(const TMain &M) {
    QStringList Texts;
    for (QLabel *Panel : M.StatusPanels)
      Texts << Panel->text();
    return Texts;
  }

  static QStringList BlockTitles(const TMain &M) {
    QStringList Titles;
    for (const QString &Block : M.Rotators)
      Titles << BlockValue(BlockLines(Block), QStringLiteral("Title"));
    return Titles;
  }

  static QColor PictureColor(const QPushButton *Button) {
    const QImage Picture = Button->icon().pixmap(QSize(16, 16)).toImage();
    return Picture.pixelColor(Picture.width() / 2, Picture.height() / 2);
  }

  // Whether the layer's pixel is the colour given.
  static bool PixelIs(const TOverlayLayer *Layer, int X, int Y, TColor Color) {
    return Layer->Picture().pixelColor(X, Y) == ColorOf(Color);
  }

  // Whether the layer shows nothing (all white).
  static bool LayerIsClear(const TOverlayLayer *Layer) {
    const QImage &Picture = Layer->Picture();
    for (int Y = 0; Y < Picture.height(); ++Y)
      for (int X = 0; X < Picture.width(); ++X)
        if (Picture.pixel(X, Y) != qRgb(255, 255, 255))
          return false;
    return true;
  }

  static bool WaitFor(const std::function<bool()> &Condition, int TimeoutMs = 15000) {
    return QTest::qWaitFor(Condition, TimeoutMs);
  }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
};

// The keys of an enabled rotator on Port.
inline std::vector<std::pair<QString, QString>> EntryKeys(const QString &Title,
                                                            const QString &Port,
                                                            bool Enable = true,
                                                            bool AutoActive = false) {
  return {{QStringLiteral("Title"), Title},
          {QStringLiteral("Enable"), Enable ? QStringLiteral("-1") : QStringLiteral("0")},
          {QStringLiteral("AutoActive"), AutoActive ? QStringLiteral("-1") : QStringLiteral("0")},
          {QStringLiteral("Port"), Port}};
}
