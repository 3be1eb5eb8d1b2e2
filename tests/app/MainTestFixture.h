#pragma once
// Shared fixture of the main window tests: a temporary folder holding the
// settings document and the window's pictures, the recording user-interface
// services, windows started on a station of their own, the window's controls
// found by their object names, and helpers to read what the window shows and
// what it saved.

#include "app/AzimuthDisplay.h"
#include "app/Main.h"
#include "common/RecordingUiServices.h"
#include "rotator/RotatorSettings.h"
#include "settings/SettingsDocument.h"
#include "settings/XMLIniFile.h"
#include "station/Station.h"
#include "station/StationSeam.h"
#include "tools/Gs232Emulator.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Ends a window started by the fixture: the window, then its station, which
// frees the drivers and with them their ports.
struct TEndWindow {
  void operator()(TMain *M) const {
    TStation *Station = &M->Station();
    delete M;
    delete Station;
  }
};
using TWindow = std::unique_ptr<TMain, TEndWindow>;

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

// The window's controls, found by their object names. A control that is
// missing ends the test with its name.
struct TControls {
  explicit TControls(const TMain &M)
      : PageControl1(Find<QTabWidget>(M, "PageControl1")),
        StatusBar1(Find<QFrame>(M, "StatusBar1")),
        StatusPanels{Find<QLabel>(M, "StatusPanel0"), Find<QLabel>(M, "StatusPanel1"),
                     Find<QLabel>(M, "StatusPanel2"), Find<QLabel>(M, "StatusPanel3")},
        pnlRotator(Find<QFrame>(M, "pnlRotator")), edtPresetD(Find<QLineEdit>(M, "edtPresetD")),
        btnPreset(Find<QPushButton>(M, "btnPreset")),
        btnOpenClose(Find<QPushButton>(M, "btnOpenClose")),
        GroupBox2(Find<QGroupBox>(M, "GroupBox2")), btnCCW(Find<QPushButton>(M, "btnCCW")),
        btnStop(Find<QPushButton>(M, "btnStop")), btnCW(Find<QPushButton>(M, "btnCW")),
        imgMap(Find<QLabel>(M, "imgMap")), imgPreset(Find<TOverlayLayer>(M, "imgPreset")),
        imgRelay(Find<TOverlayLayer>(M, "imgRelay")),
        imgDirection(Find<TOverlayLayer>(M, "imgDirection")),
        pnlConsole(Find<QFrame>(M, "pnlConsole")), edtCommand(Find<QLineEdit>(M, "edtCommand")),
        btnExecute(Find<QPushButton>(M, "btnExecute")),
        Memo1(Find<QPlainTextEdit>(M, "Memo1")), PopupMenu1(Find<QMenu>(M, "PopupMenu1")),
        actClose(Find<QAction>(M, "actClose")), actGotoHome(Find<QAction>(M, "actGotoHome")),
        actInsRotator(Find<QAction>(M, "actInsRotator")),
        actDelRotator(Find<QAction>(M, "actDelRotator")),
        actOptions(Find<QAction>(M, "actOptions")), actAboutBox(Find<QAction>(M, "actAboutBox")),
        actForwadRoatator(Find<QAction>(M, "actForwadRoatator")),
        actBackwardRptator(Find<QAction>(M, "actBackwardRptator")) {}

  template <class T> static T *Find(const TMain &M, const char *Name) {
    T *Child = M.findChild<T *>(QLatin1String(Name));
    if (!Child)
      throw std::runtime_error(std::string("The window has no control ") + Name);
    return Child;
  }

  QTabWidget *PageControl1;
  QFrame *StatusBar1;
  QLabel *StatusPanels[4];
  QFrame *pnlRotator;
  QLineEdit *edtPresetD;
  QPushButton *btnPreset;
  QPushButton *btnOpenClose;
  QGroupBox *GroupBox2;
  QPushButton *btnCCW;
  QPushButton *btnStop;
  QPushButton *btnCW;
  // The azimuth display: the map and its layers, bottom to top.
  QLabel *imgMap;
  TOverlayLayer *imgPreset;
  TOverlayLayer *imgRelay;
  TOverlayLayer *imgDirection;
  // The console page.
  QFrame *pnlConsole;
  QLineEdit *edtCommand;
  QPushButton *btnExecute;
  QPlainTextEdit *Memo1;
  QMenu *PopupMenu1;
  QAction *actClose;
  QAction *actGotoHome;
  QAction *actInsRotator;
  QAction *actDelRotator;
  QAction *actOptions;
  QAction *actAboutBox;
  QAction *actForwadRoatator;
  QAction *actBackwardRptator;
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
    // Drivers removed by the station are freed once control is back in the
    // event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  QString SettingsPath() const { return Dir.filePath(QStringLiteral("orbalt.xml")); }

  void WritePicture(const QString &Name, const QColor &Color, int Size = 16) {
    QImage Picture(Size, Size, QImage::Format_RGB32);
    Picture.fill(Color);
    ASSERT_TRUE(Picture.save(Dir.filePath(Name), "BMP"));
  }

  // A window on a station of its own, kept in the settings document; the
  // station ends with the window.
  TWindow Start() {
    auto Station = std::make_unique<TStation>(SettingsPath());
    TMainOptions Options;
    Options.PictureFolder = Dir.path();
    TWindow M(new TMain(*Station, Options));
    Station.release();
    M->StartStation();
    return M;
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

  // --- What the window shows --------------------------------------------------

  static QStringList Tabs(const TMain &M) {
    const TControls C(M);
    QStringList Captions;
    for (int I = 0; I < C.PageControl1->count(); ++I)
      Captions << C.PageControl1->tabText(I);
    return Captions;
  }

  static QStringList Status(const TMain &M) {
    const TControls C(M);
    QStringList Texts;
    for (QLabel *Panel : C.StatusPanels)
      Texts << Panel->text();
    return Texts;
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

  // --- The window's station ---------------------------------------------------

  static int RotatorCount(const TMain &M) { return M.Station().RotatorCount(); }
  static TGs232 &Driver(const TMain &M, int Index) {
    return TStationSeam::Driver(M.Station(), Index);
  }
  // The driver of the station's current rotator; null while there is none.
  static TGs232 *CurrentDriver(const TMain &M) {
    const TStation &S = M.Station();
    const int I = S.CurrentRotator();
    return I >= 0 && I < S.RotatorCount() ? &TStationSeam::Driver(M.Station(), I) : nullptr;
  }
  // The current rotator's settings block ("Title", "MapFileName", "Enable",
  // "AutoActive"); empty while there is no rotator.
  static QStringList CurrentBlock(const TMain &M) {
    const TGs232 *D = CurrentDriver(M);
    return D ? RotatorBlock(D->Settings()) : QStringList();
  }
  static QStringList BlockTitles(const TMain &M) {
    QStringList Titles;
    for (int I = 0; I < RotatorCount(M); ++I)
      Titles << BlockValue(RotatorBlock(Driver(M, I).Settings()), QStringLiteral("Title"));
    return Titles;
  }

  // The events of a rotator that can reach the window's page.
  static QStringList AllEvents() { return {"AzEl", "Preset", "Bound", "Relays"}; }

  // Which of rotator Index's events move the window's page. Each event is
  // raised through the handler its driver reports with and recognised by
  // what the page does with it: a position re-enables the turn buttons, a
  // reached preset empties the preset field, a reached bound loads the turn
  // buttons' "off" pictures, changed relays redraw the lamps of the rotator
  // the page shows (given relays for the probe). The page is put back as it
  // was, except that a reached preset or bound also stops the page's rotator
  // and turns the turn buttons off.
  static QStringList EventsReachingPage(const TMain &M, int Index) {
    const TControls C(M);
    TGs232 &D = Driver(M, Index);
    QStringList Reached;

    const bool CWEnabled = C.btnCW->isEnabled();
    const bool CCWEnabled = C.btnCCW->isEnabled();
    C.btnCW->setEnabled(false);
    if (D.ChangeAzEl())
      D.ChangeAzEl()(&D);
    if (C.btnCW->isEnabled())
      Reached << "AzEl";
    C.btnCW->setEnabled(CWEnabled);
    C.btnCCW->setEnabled(CCWEnabled);

    const QString PresetText = C.edtPresetD->text();
    const QImage PresetPicture = C.imgPreset->Picture();
    C.edtPresetD->setText(QStringLiteral("1"));
    if (D.ReachPreset())
      D.ReachPreset()(&D);
    if (C.edtPresetD->text().isEmpty())
      Reached << "Preset";
    C.edtPresetD->setText(PresetText);
    C.imgPreset->Picture() = PresetPicture;
    C.imgPreset->update();

    const QIcon CWIcon = C.btnCW->icon();
    const QIcon CCWIcon = C.btnCCW->icon();
    C.btnCW->setIcon(QIcon());
    if (D.ReachBound())
      D.ReachBound()(&D, bpNone);
    if (!C.btnCW->icon().isNull())
      Reached << "Bound";
    C.btnCW->setIcon(CWIcon);
    C.btnCCW->setIcon(CCWIcon);

    const QImage RelayPicture = C.imgRelay->Picture();
    TGs232 *Shown = CurrentDriver(M);
    const int Relays = Shown ? Shown->RelayArray()->Count() : 0;
    if (Shown)
      Shown->RelayArray()->SetCount(4);
    C.imgRelay->Picture().fill(Qt::white);
    if (D.RelayArray()->ChangeRelays())
      D.RelayArray()->ChangeRelays()(D.RelayArray());
    if (!LayerIsClear(C.imgRelay))
      Reached << "Relays";
    if (Shown)
      Shown->RelayArray()->SetCount(Relays);
    C.imgRelay->Picture() = RelayPicture;
    C.imgRelay->update();
    return Reached;
  }

  static bool WaitFor(const std::function<bool()> &Condition, int TimeoutMs = 15000) {
    return QTest::qWaitFor(Condition, TimeoutMs);
  }

  TScopedRecordingUi Ui;
  QTemporaryDir Dir;
};

// The window's tests with an emulated controller on a pseudo-terminal, its
// time running ten times faster.
class MainWithEmulatorTest : public MainTest {
protected:
  void SetUp() override {
    MainTest::SetUp();
    Gs232Emulator::Options Options;
    Options.timeScale = 10;
    Emulator = std::make_unique<Gs232Emulator>(Options);
    ASSERT_TRUE(Emulator->start());
  }

  QString Device() const { return Emulator->devicePath(); }

  std::unique_ptr<Gs232Emulator> Emulator;
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
