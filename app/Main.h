#pragma once
// The main window: one tab per rotator plus the console tab, the shared
// rotator page (azimuth display, Open/Close, turn and stop buttons, preset
// field), the status bar with the azimuths of the first four rotators, the
// menus, and the start and close of the program's working state.
//
// The window keeps three lists in step: tab i, Rotators[i] (the rotator's
// settings block as text) and Gs232s[i] (its driver). The console tab is
// always last. CurrentRotator, Rotator and Gs232 name the rotator whose tab
// was selected last among the rotator tabs; only that driver's events are
// connected to the window.
//
// Everything runs on the main thread. Every operator action, event handler
// and start-up step runs guarded: an exception ends it and its message is
// shown in the error dialog.

#include "ctrltable/CtrlTable.h"
#include "ctrltable/FreqOperation.h"
#include "rotator/Gs232.h"

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class TAzimuthDisplay;
class TConsolePanel;

// Where the window finds its files. Empty fields take the places beside the
// executable.
struct TMainOptions {
  // The settings document; empty: the executable's path with ".xml".
  QString SettingsFile;
  // The folder of the bitmaps ("AzChart.bmp", the button pictures); empty:
  // the executable's folder.
  QString PictureFolder;
};

class TMain : public QMainWindow {
  Q_OBJECT
public:
  // Builds the window and runs FormCreate.
  explicit TMain(const TMainOptions &Options = {}, QWidget *Parent = nullptr);
  ~TMain() override;

  // --- Controls --------------------------------------------------------------
  QTabWidget *PageControl1;
  QWidget *TabSheet1;
  QWidget *TabSheet2;
  // The tab page created last.
  QPointer<QWidget> NewTabSheet;
  QFrame *StatusBar1;
  QLabel *StatusPanels[4];

  QFrame *pnlRotator;
  QLineEdit *edtPresetD;
  QPushButton *btnPreset;
  QPushButton *btnOpenClose;
  QGroupBox *GroupBox2;
  QLabel *Label1;
  QLabel *Label2;
  QLabel *Label3;
  QPushButton *btnCCW;
  QPushButton *btnStop;
  QPushButton *btnCW;
  // imgMap, imgPreset, imgRelay, imgDirection and the drawing on them.
  std::unique_ptr<TAzimuthDisplay> Display;

  QFrame *pnlConsole;
  // Label4, edtCommand, btnExecute, Memo1, btnClear, btnSave.
  std::unique_ptr<TConsolePanel> Console;

  QMenu *PopupMenu1;
  QAction *actClose;
  QAction *actGotoHome;
  QAction *actInsRotator;
  QAction *actDelRotator;
  QAction *actOptions;
  QAction *actAboutBox;
  QAction *actForwadRoatator;
  QAction *actBackwardRptator;

  // --- Files -----------------------------------------------------------------
  QString AppName;  // full path of the executable
  QString AppPath;  // folder of the pictures, ending in "/"
  QString MapName;  // AppPath + "AzChart.bmp"
  QString CtrlName; // "CtrlTable.xml" beside the settings document
  QString XmlName;  // the settings document
  QString FileCW_On, FileCW_Off, FileCCW_On, FileCCW_Off;

  // --- Workspace -------------------------------------------------------------
  // One settings block per rotator, as text, in rotator order.
  QStringList Rotators;
  // The current rotator's block, one name=value line each.
  QStringList Rotator;
  // One driver per rotator, in rotator order.
  std::vector<std::unique_ptr<TGs232>> Gs232s;
  // The current rotator's driver; null while there is no rotator.
  TGs232 *Gs232 = nullptr;
  int CurrentRotator = 0;
  // The frequency control table is in use.
  bool CtrlTableEnable = false;
  // The frequency control table, loaded from CtrlName at start.
  TCtrlTable CtrlTable;

  // Text of the preset field when it received the focus.
  QString BeforeValue;

  // --- Lifecycle -------------------------------------------------------------
  void FormCreate();
  // The closing sequence; runs when the window closes, once CloseQuery (if
  // set) has let it.
  void FormClose();
  // Asked before the closing sequence when the window is asked to close;
  // false keeps the program and its window as they are. The automation server
  // asks the operator here while clients hold its object.
  std::function<bool()> CloseQuery;
  // The start (true) or stop (false) command lists of the control table's
  // default row.
  void RunDefaultCommands(bool Start);
  // Turns the rotator of the control-table row that holds AFreq to AAz and
  // runs the lists of the rows left and entered.
  void AutoOperation(int AAz, double AFreq);
  // The frequency-driven operation on this window's table and rotators.
  TFreqOperation FreqOperation;
  // Writes "Version", "Left" and "Top" under "/Main".
  void SaveWindowPosition();

  // --- Workspace operations --------------------------------------------------
  // "Rotator" and the first gap in the numbers of the tab captions of the
  // form "Rotator<number>", or 1 when there is no gap.
  QString NextRotatorName() const;
  // Gives Rotator and Gs232 the settings of a new rotator.
  void SetRotatorDefaults();
  // Writes the control-table switch and all rotators to the settings document.
  void SaveRotators();
  void PageControl1Changing();
  void PageControl1Change();
  void actInsRotatorExecute();
  void actDelRotatorExecute();
  void actForwadRoatatorExecute();
  void actBackwardRptatorExecute();

  // --- Operator controls -----------------------------------------------------
  void RefreshRotatorPage();
  void UpdateStatusBar();
  void DrawDirection();
  void DrawRelays();
  void btnOpenCloseClick();
  void btnCWClick();
  void btnCCWClick();
  void btnStopClick();
  void btnPresetClick();
  void edtPresetDEnter();
  void edtPresetDExit();
  void actGotoHomeExecute();
  void actCloseExecute();
  void actAboutBoxExecute();
  void actOptionsExecute();

  // --- Handlers of the current driver's events -------------------------------
  void Gs232ChangeAzEl(QObject *Sender);
  void Gs232ReachBound(QObject *Sender, TBoundPosition Bound);
  void Gs232ReachPreset(QObject *Sender);
  void RelayArrayChangeRelays(QObject *Sender);

  // Toggle states of the turn buttons: 0 off, all bits set on.
  int CWTag() const { return FCWTag; }
  int CCWTag() const { return FCCWTag; }

protected:
  void closeEvent(QCloseEvent *Event) override;
  void moveEvent(QMoveEvent *Event) override;
  bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
  void BuildWindow();
  void BuildMenus();
  void SetPaths(const TMainOptions &Options);
  void PlaceWindow();
  void LoadRotators();
  void MakeDefaultRotator();
  // The leaving and entering steps of a tab change.
  void LeaveCurrentRotator();
  void EnterTab(int Index);
  void ConnectEvents(TGs232 &Driver);
  void DisconnectEvents(TGs232 &Driver);
  // Selects a tab without running the tab-change steps.
  void SelectTabSilently(int Index);
  void MoveRotator(bool Forward);
  // Moves entry From of the tabs and both lists to To; the others shift.
  void ReorderRotator(int From, int To);
  // Makes a removed driver inert at once (no poll, no events, port closed
  // without sending) and frees it through the event loop. The next event loop
  // that runs may be a nested one (a WAIT in a command list further up the
  // stack, possibly the driver's own); the driver's code checks after every
  // wait whether it still exists, so being freed there is safe.
  void DisposeDriver(std::unique_ptr<TGs232> Driver);
  // Runs an operator action or control guarded; nothing once closing has
  // started.
  void Operate(void (TMain::*Handler)());
  // Toggles a turn button: its state, its picture, and the turn or stop.
  void ToggleTurn(int &Tag, QPushButton *Button, const QString &FileOn, const QString &FileOff,
                  void (TGs232::*Go)());
  QList<TGs232 *> DriverList() const;
  int RotatorCount() const { return static_cast<int>(Gs232s.size()); }
  // What the frequency-driven operation works on.
  TFreqOperation::TLinks FreqLinks();
  // Loads a picture file into a turn button; throws when it can't be read.
  static void LoadButtonPicture(QPushButton *Button, const QString &FileName);
  void SetPresetDisplay();

  int FCWTag = 0;
  int FCCWTag = 0;
  // The driver whose events are connected to the window, if any.
  QPointer<TGs232> FConnected;
  // A preset value was refused and the field got the focus back: the text the
  // field had before the refused edit stays the one to compare with.
  bool FPresetRefused = false;
  bool FClosed = false;
  // Saves the window position once a move has ended.
  QTimer FMoveTimer;
  QPoint FSavedPos;
};

// The main window of the running program (null while there is none).
extern TMain *Main;
