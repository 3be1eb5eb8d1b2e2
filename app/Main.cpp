#include "app/Main.h"

#include "app/LargeMap.h"

#include "app/AzimuthDisplay.h"
#include "app/CommandConsole.h"
#include "base/DataFolder.h"
#include "base/Routine.h"
#include "base/UiServices.h"
#include "settings/SettingsDocument.h"
#include "station/Station.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>

#include <utility>

namespace {

constexpr int ClientWidth = 269;
constexpr int ClientHeight = 421;
constexpr int StatusBarHeight = 27;
constexpr int StatusPanelWidth = 65;
// A move of the window counts as ended when no further move follows within
// this time.
constexpr int MoveSettleMs = 500;
// How long a notice stays in the status bar.
constexpr int NoticeMs = 8000;
// The map of the station's location is drawn again for a new size once the
// size has not changed for this long (drawing it takes a while).
constexpr int MapRedrawMs = 150;

// The rotator page's controls at the smallest window.
constexpr int ButtonWidth = 68;
constexpr int ButtonHeight = 33;
constexpr int MapSide = 250;
constexpr int GroupHeight = 57;

const QString ConsoleCaption = QStringLiteral("Console");

// The colour of the rotator and console panels: the window colour tinted a
// little with the highlight, so that the page stands out from the window in
// a light theme and in a dark one alike, and its captions in the palette's
// text colour stay readable on it.
QColor PanelColor(const QPalette &Palette) {
  const QColor Base = Palette.color(QPalette::Active, QPalette::Window);
  const QColor Tint = Palette.color(QPalette::Active, QPalette::Highlight);
  const auto Mix = [](int A, int B) { return (A * 85 + B * 15) / 100; };
  return QColor(Mix(Base.red(), Tint.red()), Mix(Base.green(), Tint.green()),
                Mix(Base.blue(), Tint.blue()));
}

// The window's client area: at least the size the rotator page was drawn
// for, and as large as the menu bar and the captions need by default.
class TClientArea : public QWidget {
public:
  using QWidget::QWidget;
  std::function<QSize()> DefaultSize;
  QSize sizeHint() const override {
    return DefaultSize ? DefaultSize() : QSize(ClientWidth, ClientHeight);
  }
};

// A tab bar that remembers the size of a tab by its text and icon. The tab
// bar lays out all its tabs after every insert and every removal, asking the
// style for each tab's size; with the sizes remembered that costs little, so
// that a station with many rotators starts and closes quickly.
class TRotatorTabBar : public QTabBar {
public:
  using QTabBar::QTabBar;

protected:
  QSize tabSizeHint(int Index) const override {
    const QString Key = (tabIcon(Index).isNull() ? QStringLiteral("0") : QStringLiteral("1")) +
                        tabText(Index);
    auto Found = FSizes.constFind(Key);
    if (Found == FSizes.constEnd())
      Found = FSizes.insert(Key, QTabBar::tabSizeHint(Index));
    return *Found;
  }
  void changeEvent(QEvent *Event) override {
    // A new style or font measures differently.
    if (Event->type() == QEvent::StyleChange || Event->type() == QEvent::FontChange)
      FSizes.clear();
    QTabBar::changeEvent(Event);
  }

private:
  mutable QHash<QString, QSize> FSizes;
};

class TRotatorTabs : public QTabWidget {
public:
  explicit TRotatorTabs(QWidget *Parent) : QTabWidget(Parent) {
    setTabBar(new TRotatorTabBar(this));
  }
};

QPushButton *MakeButton(QWidget *Parent, const char *Name, const QString &Caption, int Left,
                        int Top) {
  auto *Button = new QPushButton(Caption, Parent);
  Button->setObjectName(QLatin1String(Name));
  Button->setGeometry(Left, Top, 68, 33);
  return Button;
}

QLabel *MakeLabel(QWidget *Parent, const char *Name, const QString &Caption, int Left,
                  int Top) {
  auto *Label = new QLabel(Caption, Parent);
  Label->setObjectName(QLatin1String(Name));
  Label->move(Left, Top);
  Label->adjustSize();
  return Label;
}

QFrame *MakePanel(QWidget *Parent, const char *Name) {
  auto *Panel = new QFrame(Parent);
  Panel->setObjectName(QLatin1String(Name));
  Panel->setFrameShape(QFrame::NoFrame);
  Panel->setAutoFillBackground(true);
  return Panel;
}

// A button's size: the one the page was drawn for, larger where its caption
// needs more.
QSize ButtonSize(const QPushButton *Button) {
  const QFontMetrics Metrics = Button->fontMetrics();
  return {std::max(ButtonWidth, Metrics.horizontalAdvance(Button->text()) + 18),
          std::max(ButtonHeight, Metrics.height() + 16)};
}

// How much taller than the page was drawn for a caption of Label is.
int LabelExtra(const QLabel *Label) {
  return std::max(0, Label->fontMetrics().height() - 17);
}

} // namespace

TMain::TMain(TStation &Station, const TMainOptions &Options, QWidget *Parent)
    : QMainWindow(Parent), FStation(Station) {
  BuildWindow();
  BuildMenus();
  FNoticeTimer.setSingleShot(true);
  FNoticeTimer.setInterval(NoticeMs);
  connect(&FNoticeTimer, &QTimer::timeout, this, [this] {
    FNotice.clear();
    Guarded([this] { UpdateStatusBar(); });
  });
  FMoveTimer.setSingleShot(true);
  FMoveTimer.setInterval(MoveSettleMs);
  connect(&FMoveTimer, &QTimer::timeout, this,
          [this] { Guarded([this] { SaveWindowPosition(); }); });
  SetPaths(Options);
  ConnectStation();
  FormCreate();
}

TMain::~TMain() {
  edtPresetD->removeEventFilter(this);
  LeaveCurrentRotator();
  FStation.disconnect(this);
}

// --- Building the window ------------------------------------------------------------

void TMain::BuildWindow() {
  setObjectName(QStringLiteral("Main"));
  setWindowTitle(QStringLiteral("Orbalt"));

  // The window grows from its smallest size; the pages and the map follow
  // (LayOut).
  auto *Client = new TClientArea(this);
  Client->setObjectName(QStringLiteral("Client"));
  Client->setMinimumSize(ClientWidth, ClientHeight);
  Client->DefaultSize = [this] { return DefaultClientSize(); };
  setCentralWidget(Client);

  PageControl1 = new TRotatorTabs(Client);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(0, 0, ClientWidth, ClientHeight - StatusBarHeight);
  // The rotator tabs come and go with the station's rotators, before the
  // console tab.
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(TabSheet2, ConsoleCaption);
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
    Guarded([this] {
      PageControl1Changing();
      PageControl1Change();
    });
  });

  StatusBar1 = new QFrame(Client);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setGeometry(0, ClientHeight - StatusBarHeight, ClientWidth, StatusBarHeight);
  for (int I = 0; I < 4; ++I) {
    StatusPanels[I] = new QLabel(StatusBar1);
    StatusPanels[I]->setObjectName(QStringLiteral("StatusPanel%1").arg(I));
    StatusPanels[I]->setFrameShape(QFrame::Panel);
    StatusPanels[I]->setFrameShadow(QFrame::Sunken);
    StatusPanels[I]->setGeometry(I * StatusPanelWidth, 2, StatusPanelWidth, StatusBarHeight - 4);
  }
  StatusNotice = new QLabel(StatusBar1);
  StatusNotice->setObjectName(QStringLiteral("StatusNotice"));
  StatusNotice->setFrameShape(QFrame::Panel);
  StatusNotice->setFrameShadow(QFrame::Sunken);
  StatusNotice->setGeometry(0, 2, 4 * StatusPanelWidth, StatusBarHeight - 4);
  StatusNotice->hide();

  // The rotator page, shared by every rotator tab.
  pnlRotator = MakePanel(Client, "pnlRotator");
  pnlRotator->setGeometry(PageControl1->x() + 3, PageControl1->y() + 22,
                          PageControl1->width() - 4, PageControl1->height() - 24);

  edtPresetD = new QLineEdit(pnlRotator);
  edtPresetD->setObjectName(QStringLiteral("edtPresetD"));
  edtPresetD->setGeometry(8, 13, 57, 24);
  edtPresetD->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont PresetFont = edtPresetD->font();
  PresetFont.setBold(true);
  PresetFont.setPixelSize(16);
  edtPresetD->setFont(PresetFont);
  edtPresetD->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), edtPresetD));
  edtPresetD->installEventFilter(this);

  btnPreset = MakeButton(pnlRotator, "btnPreset", QStringLiteral("Preset"), 70, 9);
  btnOpenClose = MakeButton(pnlRotator, "btnOpenClose", QStringLiteral("Open"), 189, 9);

  Display = std::make_unique<TAzimuthDisplay>(pnlRotator);
  Display->OnMapPress = [this](double AzimuthR, bool Go) { PresetFromMap(AzimuthR, Go); };

  GroupBox2 = new QGroupBox(pnlRotator);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(7, 301, 250, 57);
  Label2 = MakeLabel(GroupBox2, "Label2", QStringLiteral("CCW"), 29, 7);
  Label3 = MakeLabel(GroupBox2, "Label3", QStringLiteral("STOP"), 105, 7);
  Label1 = MakeLabel(GroupBox2, "Label1", QStringLiteral("CW"), 192, 7);
  btnCCW = MakeButton(GroupBox2, "btnCCW", QString(), 7, 19);
  btnStop = MakeButton(GroupBox2, "btnStop", QString(), 87, 20);
  btnCW = MakeButton(GroupBox2, "btnCW", QString(), 171, 19);
  // Built-in pictures until the first press loads the picture files.
  btnCCW->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
  btnStop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  btnCW->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
  for (QPushButton *Button : {btnCCW, btnStop, btnCW})
    Button->setIconSize(Button->size() - QSize(6, 6));

  connect(btnOpenClose, &QPushButton::clicked, this,
          [this] { Operate(&TMain::btnOpenCloseClick); });
  connect(btnPreset, &QPushButton::clicked, this, [this] { Operate(&TMain::btnPresetClick); });
  connect(edtPresetD, &QLineEdit::returnPressed, this,
          [this] { Operate(&TMain::edtPresetDReturn); });
  connect(btnCW, &QPushButton::clicked, this, [this] { Operate(&TMain::btnCWClick); });
  connect(btnCCW, &QPushButton::clicked, this, [this] { Operate(&TMain::btnCCWClick); });
  connect(btnStop, &QPushButton::clicked, this, [this] { Operate(&TMain::btnStopClick); });

  // The console page.
  pnlConsole = MakePanel(Client, "pnlConsole");
  pnlConsole->setGeometry(pnlRotator->geometry());
  ApplyPanelColours();
  // The console talks to the rotator selected before it.
  Console = std::make_unique<TConsolePanel>(
      pnlConsole, [this](const QString &Command, int ReplyLength,
                         std::function<void(const QString &)> Done) {
        // A rotator that can't take the command answers nothing.
        if (!FStation.Converse(Current(), Command, ReplyLength, Done).Done())
          Done(QString());
      });
  Client->installEventFilter(this);
  FMapTimer.setSingleShot(true);
  FMapTimer.setInterval(MapRedrawMs);
  connect(&FMapTimer, &QTimer::timeout, this, [this] { Guarded([this] { ShowMap(); }); });
}

void TMain::ApplyPanelColours() {
  QPalette Colors = palette();
  Colors.setColor(QPalette::Window, PanelColor(palette()));
  pnlRotator->setPalette(Colors);
  pnlConsole->setPalette(Colors);
}

void TMain::changeEvent(QEvent *Event) {
  QMainWindow::changeEvent(Event);
  // A new theme gives the pages its colours.
  if (Event->type() == QEvent::PaletteChange && pnlRotator)
    ApplyPanelColours();
  else if (Event->type() == QEvent::FontChange || Event->type() == QEvent::StyleChange)
    LayOut();
}

QSize TMain::DefaultClientSize() const {
  // Wide enough for the whole menu bar, the tabs and the buttons' captions.
  const int MenuWidth = menuBar() ? menuBar()->sizeHint().width() : 0;
  const int TopRow = 8 + 57 + 5 + ButtonSize(btnPreset).width() + 51 +
                     ButtonSize(btnOpenClose).width() + 8;
  const int Width = std::max({ClientWidth, MenuWidth, TopRow + 4});
  const int Taller = std::max(0, TabBarHeight() - 22) + std::max(0, StatusHeight() - StatusBarHeight) +
                     2 * std::max(0, ButtonSize(btnPreset).height() - ButtonHeight) +
                     LabelExtra(Label1);
  return {Width, ClientHeight + Taller};
}

int TMain::TabBarHeight() const {
  return std::max(22, PageControl1->tabBar()->fontMetrics().height() + 8);
}

int TMain::StatusHeight() const {
  return std::max(StatusBarHeight, StatusNotice->fontMetrics().height() + 10);
}

void TMain::LayOut() {
  const QWidget *Client = centralWidget();
  if (!Client || !Display)
    return;
  const int W = Client->width();
  const int H = Client->height();
  const int Bar = StatusHeight();
  PageControl1->setGeometry(0, 0, W, H - Bar);
  StatusBar1->setGeometry(0, H - Bar, W, Bar);
  // The four panels share the bar; the notice takes all of it.
  const int Span = W - (ClientWidth - 4 * StatusPanelWidth);
  const int PanelWidth = std::max(StatusPanelWidth, Span / 4);
  for (int I = 0; I < 4; ++I)
    StatusPanels[I]->setGeometry(I * PanelWidth, 2, PanelWidth, Bar - 4);
  StatusNotice->setGeometry(0, 2, std::max(Span, 4 * StatusPanelWidth), Bar - 4);

  // Both pages lie over the tab pages, below the tabs.
  const int TabTop = TabBarHeight();
  pnlRotator->setGeometry(PageControl1->x() + 3, PageControl1->y() + TabTop,
                          PageControl1->width() - 4, PageControl1->height() - TabTop - 2);
  pnlConsole->setGeometry(pnlRotator->geometry());
  LayOutRotatorPage();
  LayOutConsolePage();
}

void TMain::LayOutRotatorPage() {
  const int PW = pnlRotator->width();
  const int PH = pnlRotator->height();
  // The top row: preset field, Preset at its right, Open/Close at the
  // page's right edge.
  const QSize Preset = ButtonSize(btnPreset);
  const QSize Open = ButtonSize(btnOpenClose);
  const int RowHeight = std::max(Preset.height(), Open.height());
  const int FieldHeight = std::max(24, edtPresetD->fontMetrics().height() + 4);
  edtPresetD->setGeometry(8, 9 + (RowHeight - FieldHeight) / 2, 57, FieldHeight);
  btnPreset->setGeometry(70, 9, Preset.width(), RowHeight);
  btnOpenClose->setGeometry(std::max(PW - 8 - Open.width(), btnPreset->geometry().right() + 6), 9,
                            Open.width(), RowHeight);

  // The turn buttons' group at the bottom, its captions above the buttons.
  const QSize Turn(ButtonWidth, Preset.height());
  const int LabelTop = 7;
  const int ButtonTop = 19 + LabelExtra(Label1);
  const int GroupH = GroupHeight + (ButtonTop - 19) + (Turn.height() - ButtonHeight);
  const int GroupTop = PH - 12 - GroupH;

  // The map: the largest square between the two, centred.
  const int MapTop = 9 + RowHeight + 6;
  const int Side = std::max(MapSide / 2, std::min(PW - 15, GroupTop - 3 - MapTop));
  const QRect Map((PW - Side) / 2, MapTop + (GroupTop - 3 - MapTop - Side) / 2, Side, Side);
  if (Map != Display->imgMap->geometry() ||
      Display->imgDirection->Picture().devicePixelRatio() != devicePixelRatioF()) {
    Display->SetMapBounds(Map);
    // The needles, the preset and the lamps drawn again at the new size; the
    // map picture of the station's location is drawn again once the size
    // settles.
    Guarded([this] {
      DrawDirection();
      ShowPresetNeedle();
      DrawRelays();
    });
    if (FStationMapShown)
      FMapTimer.start();
  }

  const int GroupW = std::max({Side, MapSide, 3 * Turn.width() + 28});
  GroupBox2->setGeometry((PW - GroupW) / 2, GroupTop, GroupW, GroupH);
  const int Mid = (GroupW - MapSide) / 2;
  const int Right = GroupW - MapSide;
  btnCCW->setGeometry(7, ButtonTop, Turn.width(), Turn.height());
  btnStop->setGeometry((GroupW - Turn.width()) / 2 - 4, ButtonTop + 1, Turn.width(),
                       Turn.height());
  btnCW->setGeometry(GroupW - 11 - Turn.width(), ButtonTop, Turn.width(), Turn.height());
  Label2->move(btnCCW->x() + 22, LabelTop);
  Label3->move(105 + Mid + (Turn.width() - ButtonWidth) / 2, LabelTop);
  Label1->move(192 + Right - (Turn.width() - ButtonWidth), LabelTop);
  for (QLabel *Label : {Label1, Label2, Label3})
    Label->adjustSize();
  for (QPushButton *Button : {btnCCW, btnStop, btnCW})
    Button->setIconSize(Button->size() - QSize(6, 6));
}

void TMain::LayOutConsolePage() {
  const int PW = pnlConsole->width();
  const int PH = pnlConsole->height();
  const QSize Execute = ButtonSize(Console->btnExecute);
  const QSize Clear = ButtonSize(Console->btnClear);
  const QSize Save = ButtonSize(Console->btnSave);
  const int RowHeight = std::max(Execute.height(), ButtonHeight);
  Console->btnExecute->setGeometry(PW - 6 - Execute.width(), 6, Execute.width(), RowHeight);
  const int FieldLeft = std::max(72, Console->Label4->sizeHint().width() + 6);
  const int FieldHeight = std::max(21, Console->edtCommand->fontMetrics().height() + 6);
  Console->edtCommand->setGeometry(FieldLeft, 6 + (RowHeight - FieldHeight) / 2,
                                   std::max(60, Console->btnExecute->x() - 11 - FieldLeft),
                                   FieldHeight);
  Console->Label4->move(4, Console->edtCommand->y() + 3);
  const int BottomHeight = std::max(Clear.height(), Save.height());
  const int BottomTop = PH - 25 - BottomHeight;
  const int MemoTop = 6 + RowHeight + 1;
  Console->Memo1->setGeometry(4, MemoTop, PW - 17, BottomTop - 6 - MemoTop);
  Console->btnClear->setGeometry(4, BottomTop, Clear.width(), BottomHeight);
  Console->btnSave->setGeometry(Console->Memo1->geometry().right() + 1 - Save.width(), BottomTop,
                                Save.width(), BottomHeight);
}

void TMain::BuildMenus() {
  auto MakeAction = [this](const char *Name, const QString &Caption, void (TMain::*Handler)()) {
    auto *Action = new QAction(Caption, this);
    Action->setObjectName(QLatin1String(Name));
    connect(Action, &QAction::triggered, this, [this, Handler] { Operate(Handler); });
    return Action;
  };
  // The captions carry their Alt mnemonics ("&").
  actClose = MakeAction("actClose", QStringLiteral("E&xit"), &TMain::actCloseExecute);
  actGotoHome =
      MakeAction("actGotoHome", QStringLiteral("Goto &Home position"), &TMain::actGotoHomeExecute);
  actInsRotator =
      MakeAction("actInsRotator", QStringLiteral("&Insert Rotator"), &TMain::actInsRotatorExecute);
  actDelRotator =
      MakeAction("actDelRotator", QStringLiteral("&Delete Rotator"), &TMain::actDelRotatorExecute);
  actOptions = MakeAction("actOptions", QStringLiteral("&Options"), &TMain::actOptionsExecute);
  actAboutBox = MakeAction("actAboutBox", QStringLiteral("&About"), &TMain::actAboutBoxExecute);
  actStation = MakeAction("actStation", QStringLiteral("&Station..."), &TMain::actStationExecute);
  actLargeMap = MakeAction("actLargeMap", QStringLiteral("&Large map"), &TMain::actLargeMapExecute);
  actTurnTo = MakeAction("actTurnTo", QStringLiteral("&Turn to..."), &TMain::actTurnToExecute);
  actTurnTo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  actTurnTo->setShortcutContext(Qt::WindowShortcut);
  addAction(actTurnTo);
  // Stops the current rotator from anywhere in the window with Escape.
  actStop = MakeAction("actStop", QStringLiteral("&Stop"), &TMain::btnStopClick);
  actStop->setShortcut(QKeySequence(Qt::Key_Escape));
  actStop->setShortcutContext(Qt::WindowShortcut);
  addAction(actStop);
  actForwadRoatator = MakeAction("actForwadRoatator", QStringLiteral("Forwad"),
                                 &TMain::actForwadRoatatorExecute);
  actBackwardRptator = MakeAction("actBackwardRptator", QStringLiteral("Backward"),
                                  &TMain::actBackwardRptatorExecute);

  QMenuBar *MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  MainMenu1->addAction(actClose);
  QMenu *RotatorMenu = MainMenu1->addMenu(QStringLiteral("&Rotator"));
  RotatorMenu->addAction(actGotoHome);
  RotatorMenu->addAction(actInsRotator);
  RotatorMenu->addAction(actDelRotator);
  RotatorMenu->addAction(actOptions);
  RotatorMenu->addAction(actTurnTo);
  RotatorMenu->addSeparator();
  RotatorMenu->addAction(actStop);
  QMenu *StationMenu = MainMenu1->addMenu(QStringLiteral("S&tation"));
  StationMenu->addAction(actStation);
  QMenu *ViewMenu = MainMenu1->addMenu(QStringLiteral("&View"));
  ViewMenu->addAction(actLargeMap);
  QMenu *HelpMenu = MainMenu1->addMenu(QStringLiteral("&Help"));
  HelpMenu->addAction(actAboutBox);

  // The popup's items carry captions of their own and run the same actions.
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  auto AddItem = [this](const QString &Caption, QAction *Action) {
    QAction *Item = PopupMenu1->addAction(Caption);
    connect(Item, &QAction::triggered, Action, &QAction::trigger);
  };
  AddItem(QStringLiteral("Insert"), actInsRotator);
  AddItem(QStringLiteral("Delete"), actDelRotator);
  PopupMenu1->addAction(actForwadRoatator);
  PopupMenu1->addAction(actBackwardRptator);
  for (QWidget *Owner : {static_cast<QWidget *>(PageControl1->tabBar()),
                         static_cast<QWidget *>(GroupBox2)}) {
    Owner->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Owner, &QWidget::customContextMenuRequested, this,
            [this, Owner](const QPoint &Pos) { PopupMenu1->popup(Owner->mapToGlobal(Pos)); });
  }
}

void TMain::Operate(void (TMain::*Handler)()) {
  // Once closing has started the workspace and the rotators are being shut
  // down, possibly while a command list waits in a nested event loop: an
  // operator action then would change the lists the closing works through.
  if (FClosed)
    return;
  Guarded([this, Handler] { (this->*Handler)(); });
}

void TMain::SetPaths(const TMainOptions &Options) {
  AppName = QCoreApplication::applicationFilePath();
  const QString Folder =
      Options.PictureFolder.isEmpty() ? DataFolder() : Options.PictureFolder;
  AppPath = QDir(Folder).absolutePath() + u'/';
  MapName = AppPath + QStringLiteral("AzChart.bmp");
  FileCW_On = AppPath + QStringLiteral("CW_On.bmp");
  FileCW_Off = AppPath + QStringLiteral("CW_Off.bmp");
  FileCCW_On = AppPath + QStringLiteral("CCW_On.bmp");
  FileCCW_Off = AppPath + QStringLiteral("CCW_Off.bmp");
}

void TMain::PresetFromMap(double AzimuthR, bool Go) {
  const int Index = Current();
  if (Index < 0)
    return;
  // The direction clicked, in whole degrees (truncated) from north.
  const double Turn = std::fmod(AzimuthR, 2 * M_PI);
  if (!FStation.SetPreset(Index, RadToDeg(Turn < 0 ? Turn + 2 * M_PI : Turn)).Done())
    return;
  SetPresetDisplay();
  if (Go)
    FStation.GoToPreset(Index);
}

void TMain::actLargeMapExecute() {
  if (!FLargeMap) {
    FLargeMap = new TLargeMapWindow(FStation, MapName, this);
    FLargeMap->OnPress = [this](double AzimuthR, bool Go) { PresetFromMap(AzimuthR, Go); };
    FLargeMap->SetAimedAt(FAimedAt);
    // Where it was last, else beside the window.
    bool Restored = false;
    Guarded([&] { Restored = FLargeMap->RestoreGeometry(); });
    if (!Restored)
      FLargeMap->PlaceBeside(*this);
  }
  FLargeMap->show();
  FLargeMap->raise();
  FLargeMap->activateWindow();
}

void TMain::ConnectStation() {
  TStation *S = &FStation;
  connect(S, &TStation::RotatorAdded, this, &TMain::RotatorAdded);
  connect(S, &TStation::RotatorRemoved, this, &TMain::RotatorRemoved);
  connect(S, &TStation::RotatorMoved, this, &TMain::RotatorMoved);
  // A port opened or closed from anywhere (the automation server, a
  // failure) shows on the page and on the rotator's tab at once.
  auto PortChanged = [this](int Index) {
    Guarded([&] {
      ShowRespondingMark(Index);
      if (IsConnected(Index))
        ShowPortState();
      else
        UpdateStatusBar();
    });
  };
  connect(S, &TStation::RotatorOpened, this, PortChanged);
  connect(S, &TStation::RotatorClosed, this, PortChanged);
  // A controller that stops or resumes answering: its tab and, while it is
  // the current rotator, the status bar.
  connect(S, &TStation::RotatorRespondingChanged, this, [this](int Index, bool) {
    Guarded([&] {
      ShowRespondingMark(Index);
      UpdateStatusBar();
    });
  });
  // Wherever a movement came from (the operator, automation, rotctld, home),
  // its target shows on the map and in the status bar.
  connect(S, &TStation::RotatorMoveTargetChanged, this, [this](int Index) {
    if (IsConnected(Index))
      Guarded([this] {
        ShowPresetNeedle();
        UpdateStatusBar();
      });
  });
  connect(S, &TStation::AzimuthChanged, this, [this](int Index) {
    if (IsConnected(Index))
      Guarded([this] { Gs232ChangeAzEl(); });
  });
  connect(S, &TStation::BoundReached, this, [this](int Index, TBoundPosition Bound) {
    if (IsConnected(Index))
      Guarded([&] { Gs232ReachBound(Bound); });
  });
  connect(S, &TStation::PresetReached, this, [this](int Index) {
    if (IsConnected(Index))
      Guarded([this] { Gs232ReachPreset(); });
  });
  connect(S, &TStation::RelaysChanged, this, [this](int Index) {
    if (IsConnected(Index))
      Guarded([this] { RelayArrayChangeRelays(); });
  });
  connect(S, &TStation::TablePresetShown, this, &TMain::ShowTablePreset);
  connect(S, &TStation::Message, this, [this](const QString &Text, TMessageKind Kind) {
    ShowTabs();
    ShowMessage(Text, Kind);
  });
  // A new location gives a new map (SetAimedAt redraws it); the place aimed
  // at before was aimed at from the old one.
  connect(S, &TStation::LocationChanged, this, [this] { SetAimedAt(std::nullopt); });
  // Band following made another rotator current: its tab comes to the front.
  connect(S, &TStation::CurrentRotatorFollowed, this, [this](int Index) {
    if (Index < PageControl1->count())
      PageControl1->setCurrentIndex(Index);
  });
}

// --- Start and close ------------------------------------------------------------------

void TMain::FormCreate() {
  // A failing step ends the start-up there; the window is still shown, on
  // its first rotator when there is one.
  const bool Placed = Guarded([this] {
    PlaceWindow();

    edtPresetD->clear();
    Console->edtCommand->clear();
    Console->Console.Clear();

    // Both pages lie over the tab pages; the selected tab decides which one
    // is in front. The map fills its part of the page. The client area gets
    // its size now: the window's layout gives it only once it is shown.
    if (centralWidget()->size() != DefaultClientSize())
      centralWidget()->resize(DefaultClientSize());
    LayOut();
  });
  FPlaced = Placed;
}

void TMain::StartStation() {
  if (FStarted)
    return;
  FStarted = true;
  FStarting = true;
  const auto Started = qScopeGuard([this] { FStarting = false; });
  bool Loaded = false;
  if (FPlaced) {
    // The loaded rotators' tabs go into the tab control while it is hidden,
    // so that the tab control does not size itself again after every tab (the
    // tab bar still lays its tabs out on each insert; see TRotatorTabBar). A
    // message of the loading shows it first.
    FTabsHidden = true;
    PageControl1->hide();
    Loaded = Guarded([this] { FStation.Load(); });
    ShowTabs();
  }
  // A problem with the stored window position is told over the window once
  // the station is in, as the loading's problems are.
  if (!FPlaceProblems.isEmpty() && !FStation.Closing())
    Ui().ShowMessage(std::exchange(FPlaceProblems, QString()));
  if (Loaded && !FStation.Closing())
    Guarded([this] { FStation.Start(); });

  if (FStation.RotatorCount() > 0) {
    SelectTabSilently(0);
    Guarded([this] {
      PageControl1Changing();
      EnterTab(0);
    });
  } else {
    pnlConsole->raise();
  }
}

void TMain::PlaceWindow() {
  TLoadProblems Problems;
  const TWindowPosition Pos = LoadWindowPosition(FStation.SettingsFile(), Problems);
  if (!Problems.isEmpty())
    FPlaceProblems = LoadProblemsMessage(Problems);
  // The stored point is the outer frame's corner, as it is saved. The window
  // gets its size first: a window shown without one is sized at show, and that
  // places the client area at the point instead of the frame, so the window
  // would creep by its title bar at every start.
  adjustSize();
  QPoint Corner(Pos.Left, Pos.Top);
  if (Corner.isNull()) {
    // First start: centred on the screen by its outer size. Where the window
    // manager frames the window only once it is shown, it is centred again
    // when the frame is known.
    Corner = CentredCorner();
    FCentreOnFrame = frameGeometry().size() == size();
  }
  move(Corner);
  FSavedPos = Corner;
}

QPoint TMain::CentredCorner() const {
  const QScreen *Screen = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!Screen)
    return frameGeometry().topLeft();
  const QSize Outer = frameGeometry().size();
  const QRect Area = Screen->geometry();
  return {Area.x() + (Area.width() - Outer.width()) / 2,
          Area.y() + (Area.height() - Outer.height()) / 2};
}

void TMain::closeEvent(QCloseEvent *Event) {
  // The start-up's boxes and waits run the event loop: closing inside them
  // would let the start-up go on after the closing sequence.
  if (FStarting && !FClosed) {
    Event->ignore();
    if (EndDuringStart)
      EndDuringStart();
    return;
  }
  if (!FClosed && CloseQuery && !CloseQuery()) {
    Event->ignore();
    return;
  }
  FormClose();
  Event->accept();
}

void TMain::FormClose() {
  if (FClosed)
    return;
  FClosed = true;
  FMoveTimer.stop();
  // Command lists run below may wait in nested event loops; the operator
  // controls and menus take no input from here on (the actions also check
  // FClosed).
  if (centralWidget())
    centralWidget()->setEnabled(false);
  menuBar()->setEnabled(false);
  // Each step runs on its own: a settings file that can't be written must
  // not keep the rotators from being sent home and closed.
  Guarded([this] { SaveWindowPosition(); });
  if (FLargeMap && FLargeMap->isVisible())
    FLargeMap->close(); // keeps its place and size
  LeaveCurrentRotator();
  // The station's closing sequence removes its rotators, and with them
  // their tabs.
  FStation.Close();
}

void TMain::SaveWindowPosition() {
  const QPoint Corner = frameGeometry().topLeft();
  ::SaveWindowPosition(FStation.SettingsFile(), GetVersionInfo(AppName, vkFileVersion), Corner.x(),
                       Corner.y());
  FSavedPos = Corner;
}

bool TMain::CentreOnFrame() {
  if (!FCentreOnFrame || frameGeometry().size() == size())
    return false;
  FCentreOnFrame = false;
  FSavedPos = CentredCorner();
  move(FSavedPos);
  return true;
}

void TMain::showEvent(QShowEvent *Event) {
  QMainWindow::showEvent(Event);
  CentreOnFrame();
}

void TMain::moveEvent(QMoveEvent *Event) {
  QMainWindow::moveEvent(Event);
  if (CentreOnFrame())
    return;
  // Remember a move by the operator once it has ended. Placing the window at
  // start, and the frame arriving around it, leave its outer corner where it
  // was put and are no move.
  if (!FClosed && isVisible() && frameGeometry().topLeft() != FSavedPos)
    FMoveTimer.start();
}

// --- Tabs following the station ------------------------------------------------------

void TMain::ShowTabs() {
  if (std::exchange(FTabsHidden, false))
    PageControl1->show();
}

void TMain::RotatorAdded(int Index) {
  auto *Page = new QWidget;
  QSignalBlocker Block(PageControl1);
  PageControl1->insertTab(Index, Page, FStation.Status(Index)->Title);
  ShowRespondingMark(Index);
}

void TMain::RotatorRemoved(int Index) {
  QSignalBlocker Block(PageControl1);
  QWidget *Page = PageControl1->widget(Index);
  PageControl1->removeTab(Index);
  delete Page;
}

void TMain::RotatorMoved(int From, int To) {
  QSignalBlocker Block(PageControl1);
  PageControl1->tabBar()->moveTab(From, To);
}

void TMain::SelectTabSilently(int Index) {
  QSignalBlocker Block(PageControl1);
  PageControl1->setCurrentIndex(Index);
}

int TMain::Current() const {
  const int I = FStation.CurrentRotator();
  return I >= 0 && I < FStation.RotatorCount() ? I : -1;
}

bool TMain::IsConnected(int Index) const {
  return FConnected != 0 && FStation.RotatorId(Index) == FConnected;
}

void TMain::LeaveCurrentRotator() {
  if (FConnected == 0)
    return;
  FStation.SetShowing(FStation.IndexOfId(FConnected), false);
  FConnected = 0;
}

void TMain::PageControl1Changing() {
  // A click on a tab leaves the focus in the preset field, so its exit step
  // would never run for the rotator being left: run it here, while that
  // rotator is still the current one.
  // A failure there must not keep the tab change from completing.
  if (FConnected && edtPresetD->hasFocus())
    Guarded([this] { edtPresetDExit(); });
  LeaveCurrentRotator();
}

void TMain::PageControl1Change() {
  EnterTab(PageControl1->currentIndex());
  // The field now shows the entered rotator's preset; that is the text later
  // edits compare with.
  BeforeValue = edtPresetD->text();
  FPresetRefused = false;
}

void TMain::EnterTab(int Index) {
  if (Index < 0)
    return;
  if (Index >= FStation.RotatorCount()) {
    pnlConsole->raise();
    return;
  }
  pnlRotator->raise();
  FStation.SetCurrentRotator(Index);
  FConnected = FStation.RotatorId(Index);
  FStation.SetShowing(Index, true);
  RefreshRotatorPage();
  DrawDirection();
}
