#include "app/Main.h"

#include "app/About.h"
#include "app/AzimuthDisplay.h"
#include "app/CommandConsole.h"
#include "app/OptionsAction.h"
#include "base/Routine.h"
#include "settings/SettingsDocument.h"
#include "base/UiServices.h"
#include "settings/ValueText.h"

#include <QGuiApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <cmath>
#include <stdexcept>

TMain *Main = nullptr;

namespace {

constexpr int ClientWidth = 269;
constexpr int ClientHeight = 421;
constexpr int StatusBarHeight = 27;
constexpr int StatusPanelWidth = 65;
// A move of the window counts as ended when no further move follows within
// this time.
constexpr int MoveSettleMs = 500;

const QString ConsoleCaption = QStringLiteral("Console");
const QString RotatorPrefix = QStringLiteral("Rotator");

// The colour of the rotator and console panels: the light blue of an active
// title bar's gradient.
const QColor PanelColor(185, 209, 234);

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
  QPalette Colors = Panel->palette();
  Colors.setColor(QPalette::Window, PanelColor);
  Panel->setPalette(Colors);
  return Panel;
}

} // namespace

TMain::TMain(const TMainOptions &Options, QWidget *Parent)
    : QMainWindow(Parent), FreqOperation(FreqLinks()) {
  Main = this;
  BuildWindow();
  BuildMenus();
  FMoveTimer.setSingleShot(true);
  FMoveTimer.setInterval(MoveSettleMs);
  connect(&FMoveTimer, &QTimer::timeout, this,
          [this] { Guarded([this] { SaveWindowPosition(); }); });
  SetPaths(Options);
  FormCreate();
}

TMain::~TMain() {
  edtPresetD->removeEventFilter(this);
  if (FConnected)
    DisconnectEvents(*FConnected);
  Gs232 = nullptr;
  Gs232s.clear();
  if (Main == this)
    Main = nullptr;
}

// --- Building the window ------------------------------------------------------------

void TMain::BuildWindow() {
  setObjectName(QStringLiteral("Main"));
  setWindowTitle(QStringLiteral("Orbalt"));
  // Fixed border with system menu and minimise box, no maximise box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  auto *Client = new QWidget(this);
  Client->setObjectName(QStringLiteral("Client"));
  Client->setFixedSize(ClientWidth, ClientHeight);
  setCentralWidget(Client);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  PageControl1 = new QTabWidget(Client);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(0, 0, ClientWidth, ClientHeight - StatusBarHeight);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(TabSheet1, QStringLiteral("Rotator1"));
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
  Display->OnMapPress = [this](double AzimuthR, bool Go) {
    if (!Gs232)
      return;
    Gs232->SetPreset(AzimuthR);
    edtPresetD->setText(QString::number(Gs232->AzPresetD()));
    Display->ShowPreset(AzimuthR);
    if (Go)
      Gs232->GoPreset();
  };

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
  connect(btnCW, &QPushButton::clicked, this, [this] { Operate(&TMain::btnCWClick); });
  connect(btnCCW, &QPushButton::clicked, this, [this] { Operate(&TMain::btnCCWClick); });
  connect(btnStop, &QPushButton::clicked, this, [this] { Operate(&TMain::btnStopClick); });

  // The console page.
  pnlConsole = MakePanel(Client, "pnlConsole");
  pnlConsole->setGeometry(pnlRotator->geometry());
  Console = std::make_unique<TConsolePanel>(pnlConsole, [this] { return Gs232; });
}

void TMain::BuildMenus() {
  auto MakeAction = [this](const char *Name, const QString &Caption, void (TMain::*Handler)()) {
    auto *Action = new QAction(Caption, this);
    Action->setObjectName(QLatin1String(Name));
    connect(Action, &QAction::triggered, this, [this, Handler] { Operate(Handler); });
    return Action;
  };
  actClose = MakeAction("actClose", QStringLiteral("Exit"), &TMain::actCloseExecute);
  actGotoHome =
      MakeAction("actGotoHome", QStringLiteral("Goto Home position"), &TMain::actGotoHomeExecute);
  actInsRotator =
      MakeAction("actInsRotator", QStringLiteral("Insert Rotator"), &TMain::actInsRotatorExecute);
  actDelRotator =
      MakeAction("actDelRotator", QStringLiteral("Delete Rotator"), &TMain::actDelRotatorExecute);
  actOptions = MakeAction("actOptions", QStringLiteral("Options"), &TMain::actOptionsExecute);
  actAboutBox = MakeAction("actAboutBox", QStringLiteral("About"), &TMain::actAboutBoxExecute);
  actForwadRoatator = MakeAction("actForwadRoatator", QStringLiteral("Forwad"),
                                 &TMain::actForwadRoatatorExecute);
  actBackwardRptator = MakeAction("actBackwardRptator", QStringLiteral("Backward"),
                                  &TMain::actBackwardRptatorExecute);

  QMenuBar *MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  MainMenu1->addAction(actClose);
  QMenu *RotatorMenu = MainMenu1->addMenu(QStringLiteral("Rotator"));
  RotatorMenu->addAction(actGotoHome);
  RotatorMenu->addAction(actInsRotator);
  RotatorMenu->addAction(actDelRotator);
  RotatorMenu->addAction(actOptions);
  QMenu *HelpMenu = MainMenu1->addMenu(QStringLiteral("Help"));
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
  const QString Folder = Options.PictureFolder.isEmpty()
                             ? QCoreApplication::applicationDirPath()
                             : Options.PictureFolder;
  AppPath = QDir(Folder).absolutePath() + u'/';
  MapName = AppPath + QStringLiteral("AzChart.bmp");
  XmlName = Options.SettingsFile.isEmpty() ? SettingsFileName(AppName) : Options.SettingsFile;
  // The control table lies beside the settings document, so that a separate
  // settings document brings its own control table.
  CtrlName = QFileInfo(XmlName).absoluteDir().filePath(QStringLiteral("CtrlTable.xml"));
  FileCW_On = AppPath + QStringLiteral("CW_On.bmp");
  FileCW_Off = AppPath + QStringLiteral("CW_Off.bmp");
  FileCCW_On = AppPath + QStringLiteral("CCW_On.bmp");
  FileCCW_Off = AppPath + QStringLiteral("CCW_Off.bmp");
}

// --- Start and close ------------------------------------------------------------------

void TMain::FormCreate() {
  // A failing step ends the start-up here; the window is still shown.
  Guarded([this] {
    PlaceWindow();

    edtPresetD->clear();
    Console->edtCommand->clear();
    Console->Console.Clear();

    // Both pages lie over the tab pages; the selected tab decides which one
    // is in front.
    pnlRotator->setGeometry(PageControl1->x() + 3, PageControl1->y() + 22,
                            PageControl1->width() - 4, PageControl1->height() - 24);
    pnlConsole->setPalette(pnlRotator->palette());
    pnlConsole->setGeometry(pnlRotator->geometry());
    pnlRotator->raise();
    SelectTabSilently(0);

    Display->Arrange();

    Rotators.clear();
    Rotator.clear();
    Gs232s.clear();
    Gs232 = nullptr;
    LoadRotators();

    // Open the rotators that open at start.
    for (int I = 0; I < RotatorCount(); ++I) {
      Rotator = BlockLines(Rotators[I]);
      if (BlockBool(Rotator, QStringLiteral("AutoActive")))
        Gs232s[I]->Open();
    }

    RunDefaultCommands(true);

    if (RotatorCount() > 0) {
      SelectTabSilently(0);
      PageControl1Changing();
      EnterTab(0);
    }
  });
  // A start-up that ended early may leave rotator tabs without a rotator
  // (the first tab exists before anything is loaded); removing them keeps
  // tab i paired with rotator i and the console last.
  {
    QSignalBlocker Block(PageControl1);
    while (PageControl1->count() > RotatorCount() + 1) {
      QWidget *Page = PageControl1->widget(RotatorCount());
      PageControl1->removeTab(RotatorCount());
      delete Page;
    }
  }
  if (RotatorCount() == 0) {
    // A driver made by the failed step may be gone already.
    Gs232 = nullptr;
    Rotator.clear();
  }
}

void TMain::PlaceWindow() {
  const TWindowPosition Pos = LoadWindowPosition(XmlName);
  move(Pos.Left, Pos.Top);
  if (Pos.Left == 0 && Pos.Top == 0) {
    if (layout())
      layout()->activate();
    const QScreen *Screen = screen() ? screen() : QGuiApplication::primaryScreen();
    if (Screen) {
      const QSize Outer = frameGeometry().size().expandedTo(size());
      const QRect Area = Screen->geometry();
      move(Area.x() + (Area.width() - Outer.width()) / 2,
           Area.y() + (Area.height() - Outer.height()) / 2);
    }
  }
  FSavedPos = pos();
}

void TMain::LoadRotators() {
  TXMLIniFile Ini(XmlName);
  QStringList Problems;
  CtrlTableEnable = ReadCtrlTableEnable(Ini, Problems);
  // A control table file that can't be read leaves the table empty; the
  // rotators are still loaded, so that a later save of the rotators can't
  // replace the stored ones by an empty workspace.
  if (QFileInfo::exists(CtrlName))
    Guarded([this] { CtrlTable.Load(CtrlName); });

  const std::optional<QStringList> Names = RotatorEntryNames(Ini);
  if (!Names || Names->isEmpty()) {
    // No rotators stored (or a rotator section without entries): one default
    // rotator on the first tab, so that there always is a current rotator.
    MakeDefaultRotator();
  } else {
    for (int I = 0; I < Names->size(); ++I) {
      Rotator.clear();
      auto Driver = std::make_unique<TGs232>(this);
      Gs232 = Driver.get();
      if (I >= 1) {
        NewTabSheet = new QWidget;
        QSignalBlocker Block(PageControl1);
        PageControl1->insertTab(I, NewTabSheet, NextRotatorName());
      }
      if (LoadRotatorEntry(Ini, I, PageControl1->tabText(I), Rotator, *Gs232, Problems))
        PageControl1->setTabText(I, BlockValue(Rotator, QStringLiteral("Title")));
      Rotators.append(BlockText(Rotator));
      Gs232s.push_back(std::move(Driver));
    }
  }
  ReportLoadProblems(XmlName, Problems);
}

void TMain::MakeDefaultRotator() {
  Rotator.clear();
  auto Driver = std::make_unique<TGs232>(this);
  Gs232 = Driver.get();
  SetRotatorDefaults();
  Rotators.append(BlockText(Rotator));
  Gs232s.push_back(std::move(Driver));
}

void TMain::RunDefaultCommands(bool Start) { FreqOperation.RunDefaultCommands(Start); }

void TMain::AutoOperation(int AAz, double AFreq) { FreqOperation.AutoOperation(AAz, AFreq); }

TFreqOperation::TLinks TMain::FreqLinks() {
  TFreqOperation::TLinks Links;
  Links.CtrlTableEnable = &CtrlTableEnable;
  Links.CtrlTable = &CtrlTable;
  Links.RotatorCount = [this] { return RotatorCount(); };
  Links.Driver = [this](int Index) { return Gs232s[static_cast<size_t>(Index)].get(); };
  Links.RotatorEnabled = [this](int Index) {
    // A block whose "Enable" does not read as a Boolean counts as disabled.
    try {
      return BlockBool(BlockLines(Rotators[Index]), QStringLiteral("Enable"));
    } catch (const std::exception &) {
      return false;
    }
  };
  // The preset is shown only on the visible rotator page; the driver's own
  // preset is not changed by this display.
  Links.ShowPreset = [this](int Index, int Az) {
    if (Index != CurrentRotator || PageControl1->currentIndex() != Index)
      return;
    edtPresetD->setText(QString::number(Az));
    Display->ShowPreset(static_cast<float>(Az * M_PI / 180.0));
  };
  return Links;
}

void TMain::closeEvent(QCloseEvent *Event) {
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
  Guarded([this] { RunDefaultCommands(false); });
  Guarded([this] { SaveWindowPosition(); });
  // The drivers as they are now; a driver freed while an earlier one waits
  // is skipped.
  QList<QPointer<TGs232>> Drivers;
  for (const auto &Driver : Gs232s)
    Drivers.append(Driver.get());
  for (const QPointer<TGs232> &Driver : Drivers) {
    Guarded([&Driver] {
      if (!Driver || Driver->Port().isEmpty())
        return;
      if (Driver->ReturnHome()) {
        if (!Driver->Active())
          Driver->Open();
        if (Driver)
          Driver->GoHome();
      }
      if (Driver && Driver->Active())
        Driver->Close();
    });
  }

  if (FConnected)
    DisconnectEvents(*FConnected);
  {
    QSignalBlocker Block(PageControl1);
    for (int I = PageControl1->count() - 1; I >= 1; --I) {
      QWidget *Page = PageControl1->widget(I);
      PageControl1->removeTab(I);
      delete Page;
    }
  }
  Gs232 = nullptr;
  for (auto &Driver : Gs232s)
    DisposeDriver(std::move(Driver));
  Gs232s.clear();
  Rotators.clear();
  Rotator.clear();
}

void TMain::SaveWindowPosition() {
  ::SaveWindowPosition(XmlName, GetVersionInfo(AppName, vkFileVersion), x(), y());
  FSavedPos = pos();
}

void TMain::moveEvent(QMoveEvent *Event) {
  QMainWindow::moveEvent(Event);
  // Remember a move by the operator once it has ended; placing the window at
  // start is no move.
  if (!FClosed && isVisible() && pos() != FSavedPos)
    FMoveTimer.start();
}

// --- Workspace --------------------------------------------------------------------------

QString TMain::NextRotatorName() const {
  QStringList Used;
  for (int I = 0; I < PageControl1->count(); ++I) {
    const QString Caption = PageControl1->tabText(I);
    if (!Caption.startsWith(RotatorPrefix, Qt::CaseSensitive))
      continue;
    try {
      const int Number = TextToInteger(Caption.mid(RotatorPrefix.size(), 7));
      // Right-aligned in five places, so that sorting the texts sorts the
      // numbers of up to five digits.
      Used.append(QStringLiteral("%1").arg(Number, 5));
    } catch (const TConvertError &) {
    }
  }
  Used.sort();
  int Result = 1;
  for (int K = 1; K <= Used.size(); ++K) {
    if (Used[K - 1].trimmed().toInt() != K) {
      Result = K;
      break;
    }
  }
  return RotatorPrefix + QString::number(Result);
}

void TMain::SetRotatorDefaults() {
  ApplyRotatorDefaults(Rotator, *Gs232, NextRotatorName());
}

QList<TGs232 *> TMain::DriverList() const {
  QList<TGs232 *> List;
  for (const auto &Driver : Gs232s)
    List.append(Driver.get());
  return List;
}

void TMain::SaveRotators() {
  ::SaveRotators(XmlName, CtrlTableEnable, Rotators, DriverList());
}

void TMain::SelectTabSilently(int Index) {
  QSignalBlocker Block(PageControl1);
  PageControl1->setCurrentIndex(Index);
}

void TMain::ConnectEvents(TGs232 &Driver) {
  Driver.SetChangeAzEl([this](QObject *Sender) { Guarded([&] { Gs232ChangeAzEl(Sender); }); });
  Driver.SetReachBound([this](QObject *Sender, TBoundPosition Bound) {
    Guarded([&] { Gs232ReachBound(Sender, Bound); });
  });
  Driver.SetReachPreset([this](QObject *Sender) { Guarded([&] { Gs232ReachPreset(Sender); }); });
  Driver.RelayArray()->SetChangeRelays(
      [this](QObject *Sender) { Guarded([&] { RelayArrayChangeRelays(Sender); }); });
  FConnected = &Driver;
}

void TMain::DisconnectEvents(TGs232 &Driver) {
  Driver.SetChangeAzEl(nullptr);
  Driver.SetReachBound(nullptr);
  Driver.SetReachPreset(nullptr);
  Driver.RelayArray()->SetChangeRelays(nullptr);
  if (FConnected == &Driver)
    FConnected = nullptr;
}

void TMain::LeaveCurrentRotator() {
  if (!FConnected)
    return;
  FConnected->SetCurrent(false);
  DisconnectEvents(*FConnected);
}

void TMain::PageControl1Changing() {
  // A click on a tab leaves the focus in the preset field, so its exit step
  // would never run for the rotator being left: run it here, while Gs232 is
  // still that rotator.
  // A failure there must not keep the tab change from completing.
  if (FConnected && FConnected == Gs232 && edtPresetD->hasFocus())
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
  if (Index >= RotatorCount()) {
    pnlConsole->raise();
    return;
  }
  pnlRotator->raise();
  CurrentRotator = Index;
  Rotator = BlockLines(Rotators[Index]);
  Gs232 = Gs232s[Index].get();
  Gs232->SetCurrent(true);
  ConnectEvents(*Gs232);
  RefreshRotatorPage();
  DrawDirection();
}

void TMain::actInsRotatorExecute() {
  const int P = PageControl1->currentIndex();
  if (P < RotatorCount())
    LeaveCurrentRotator();

  NewTabSheet = new QWidget;
  {
    QSignalBlocker Block(PageControl1);
    PageControl1->insertTab(P, NewTabSheet, NextRotatorName());
  }
  Rotator.clear();
  auto Driver = std::make_unique<TGs232>(this);
  Gs232 = Driver.get();
  SetRotatorDefaults();
  Rotators.insert(P, BlockText(Rotator));
  Gs232s.insert(Gs232s.begin() + P, std::move(Driver));

  SelectTabSilently(P);
  PageControl1->setTabText(P, BlockValue(Rotator, QStringLiteral("Title")));
  EnterTab(P);
  UpdateStatusBar();
  SaveRotators();
}

void TMain::actDelRotatorExecute() {
  if (PageControl1->count() < 3)
    return;
  const int P = PageControl1->currentIndex();
  const int N = RotatorCount();
  if (P < 0 || P >= N)
    return;

  LeaveCurrentRotator();
  const int Selected = P == 0 ? N - 2 : P - 1;
  {
    QSignalBlocker Block(PageControl1);
    PageControl1->setUpdatesEnabled(false);
    QWidget *Page = PageControl1->widget(P);
    PageControl1->removeTab(P);
    delete Page;
    PageControl1->setCurrentIndex(Selected);
    PageControl1->setUpdatesEnabled(true);
  }
  Rotators.removeAt(P);
  Gs232 = nullptr;
  std::unique_ptr<TGs232> Removed = std::move(Gs232s[P]);
  Gs232s.erase(Gs232s.begin() + P);
  DisposeDriver(std::move(Removed));

  EnterTab(Selected);
  UpdateStatusBar();
  SaveRotators();
}

void TMain::actForwadRoatatorExecute() { MoveRotator(true); }

void TMain::actBackwardRptatorExecute() { MoveRotator(false); }

void TMain::MoveRotator(bool Forward) {
  const int I = PageControl1->currentIndex();
  const int N = RotatorCount();
  if (I < 0 || I >= N)
    return;
  // Forward is one place to the left, backward one to the right; at an end
  // the rotator moves to the other end and the others shift by one place.
  const int Q = Forward ? (I == 0 ? N - 1 : I - 1) : (I == N - 1 ? 0 : I + 1);
  ReorderRotator(I, Q);
  SelectTabSilently(Q);
  CurrentRotator = Q;
  UpdateStatusBar();
  SaveRotators();
}

void TMain::ReorderRotator(int From, int To) {
  if (From == To)
    return;
  {
    QSignalBlocker Block(PageControl1);
    PageControl1->tabBar()->moveTab(From, To);
  }
  Rotators.move(From, To);
  auto Begin = Gs232s.begin();
  if (From < To)
    std::rotate(Begin + From, Begin + From + 1, Begin + To + 1);
  else
    std::rotate(Begin + To, Begin + From, Begin + From + 1);
}

void TMain::DisposeDriver(std::unique_ptr<TGs232> Driver) {
  if (!Driver)
    return;
  // Inert at once: no more polls, events or port reports while it waits to
  // be freed.
  Driver->Release();
  Driver.release()->deleteLater();
}

// --- Rotator page -------------------------------------------------------------------------

void TMain::SetPresetDisplay() {
  if (Gs232->Presetting()) {
    edtPresetD->setText(QString::number(Gs232->AzPresetD()));
    Display->ShowPreset(Gs232->AzPresetR());
  } else {
    edtPresetD->clear();
    Display->ClearImage(*Display->imgPreset);
  }
}

void TMain::RefreshRotatorPage() {
  if (!Gs232)
    return;
  PageControl1->setTabText(CurrentRotator, BlockValue(Rotator, QStringLiteral("Title")));
  Display->LoadMap(BlockValue(Rotator, QStringLiteral("MapFileName")), MapName);
  SetPresetDisplay();
  DrawRelays();

  const bool Enabled = BlockBool(Rotator, QStringLiteral("Enable"));
  if (!Enabled && Gs232->Active())
    Gs232->Close();
  const bool Active = Gs232->Active();
  btnOpenClose->setEnabled(Enabled);
  btnOpenClose->setText(Enabled && Active ? QStringLiteral("Close") : QStringLiteral("Open"));
  const bool Moving = Enabled && Active;
  for (QPushButton *Button : {btnPreset, btnCCW, btnCW, btnStop})
    Button->setEnabled(Moving);
  if (Enabled)
    edtPresetD->setEnabled(Active);
  UpdateStatusBar();
}

void TMain::UpdateStatusBar() {
  for (int I = 0; I < 4; ++I)
    StatusPanels[I]->setText(I < RotatorCount()
                                 ? QStringLiteral("AZ=%1°").arg(Gs232s[I]->AzimuthD())
                                 : QString());
}

void TMain::DrawDirection() {
  if (Gs232)
    Display->DrawDirection(*Gs232);
}

void TMain::DrawRelays() {
  if (Gs232)
    Display->DrawRelays(*Gs232->RelayArray());
}

void TMain::btnOpenCloseClick() {
  if (!Gs232)
    return;
  if (Gs232->Active()) {
    Gs232->Close();
  } else {
    const QString Port = Gs232->Port();
    for (const auto &Driver : Gs232s) {
      if (Driver->Active() && Driver->Port() == Port) {
        Ui().ShowError(QStringLiteral("The port is already open"));
        return;
      }
    }
    Gs232->Open();
  }
  RefreshRotatorPage();
}

void TMain::LoadButtonPicture(QPushButton *Button, const QString &FileName) {
  QImageReader Reader(FileName);
  const QImage Picture = Reader.read();
  if (Picture.isNull())
    throw std::runtime_error(QStringLiteral("Cannot load the picture %1: %2")
                                 .arg(QDir::toNativeSeparators(FileName), Reader.errorString())
                                 .toStdString());
  Button->setIcon(QIcon(QPixmap::fromImage(Picture)));
}

void TMain::ToggleTurn(int &Tag, QPushButton *Button, const QString &FileOn,
                       const QString &FileOff, void (TGs232::*Go)()) {
  if (!Gs232)
    return;
  Tag = ~Tag;
  const bool On = (Tag & 0xFF) != 0;
  LoadButtonPicture(Button, On ? FileOn : FileOff);
  if (On)
    (Gs232->*Go)();
  else
    Gs232->Stop();
}

void TMain::btnCWClick() { ToggleTurn(FCWTag, btnCW, FileCW_On, FileCW_Off, &TGs232::GoCW); }

void TMain::btnCCWClick() {
  ToggleTurn(FCCWTag, btnCCW, FileCCW_On, FileCCW_Off, &TGs232::GoCCW);
}

void TMain::btnStopClick() {
  FCCWTag = 0;
  FCWTag = 0;
  LoadButtonPicture(btnCCW, FileCCW_Off);
  LoadButtonPicture(btnCW, FileCW_Off);
  if (Gs232)
    Gs232->Stop();
}

void TMain::btnPresetClick() {
  if (Gs232)
    Gs232->GoPreset();
}

bool TMain::eventFilter(QObject *Watched, QEvent *Event) {
  if (Watched == edtPresetD && !FClosed &&
      (Event->type() == QEvent::FocusIn || Event->type() == QEvent::FocusOut)) {
    // Only a move of the focus inside the window enters or leaves the field;
    // switching to another window or opening a menu does not.
    const Qt::FocusReason Reason = static_cast<QFocusEvent *>(Event)->reason();
    if (Reason != Qt::ActiveWindowFocusReason && Reason != Qt::PopupFocusReason) {
      if (Event->type() == QEvent::FocusIn)
        Guarded([this] { edtPresetDEnter(); });
      else
        Guarded([this] { edtPresetDExit(); });
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}

void TMain::edtPresetDEnter() {
  if (!FPresetRefused)
    BeforeValue = edtPresetD->text();
  FPresetRefused = false;
}

void TMain::edtPresetDExit() {
  if (!Gs232)
    return;
  const QString Text = edtPresetD->text();
  if (Text == BeforeValue)
    return;
  if (Text.isEmpty()) {
    FPresetRefused = false;
    Gs232->ResetPreset();
    Display->ClearImage(*Display->imgPreset);
    return;
  }
  bool Ok = false;
  const int Value = Text.toInt(&Ok);
  const int Limit = Gs232->AzimuthAngle() == az450 ? 450 : 360;
  if (!Ok || Value < 0 || Value > Limit) {
    // The field keeps the refused text and gets the focus back; leaving it
    // again checks it again.
    FPresetRefused = true;
    Ui().ShowError(QStringLiteral("Value exceeds the range"));
    edtPresetD->setFocus();
    return;
  }
  FPresetRefused = false;
  Gs232->SetPreset(Value);
  edtPresetD->setText(QString::number(Gs232->AzPresetD()));
  Display->ShowPreset(Gs232->AzPresetR());
}

void TMain::actGotoHomeExecute() {
  if (Gs232)
    Gs232->GoHome();
}

void TMain::actCloseExecute() { close(); }

void TMain::actAboutBoxExecute() { ShowAboutBox(this); }

void TMain::actOptionsExecute() { ExecuteOptions(*this); }

// --- Driver events ------------------------------------------------------------------------

void TMain::Gs232ChangeAzEl(QObject *) {
  if (!btnCW->isEnabled())
    btnCW->setEnabled(true);
  if (!btnCCW->isEnabled())
    btnCCW->setEnabled(true);
  DrawDirection();
  UpdateStatusBar();
}

void TMain::Gs232ReachBound(QObject *, TBoundPosition Bound) {
  if (Bound == bpCWBound && btnCW->isEnabled())
    btnCW->setEnabled(false);
  else if (Bound == bpCCWBound && btnCCW->isEnabled())
    btnCCW->setEnabled(false);
  DrawDirection();
  btnStopClick();
}

void TMain::Gs232ReachPreset(QObject *) {
  DrawDirection();
  edtPresetD->clear();
  Display->ClearImage(*Display->imgPreset);
  if (Gs232)
    Gs232->DoCmd(QStringLiteral("S"));
}

void TMain::RelayArrayChangeRelays(QObject *) {
  if (Gs232 && Gs232->RelayArray()->Enable())
    DrawRelays();
}
