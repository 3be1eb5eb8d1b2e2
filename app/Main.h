#pragma once
// The main window: one view of a station. One tab per rotator plus the
// console tab, the shared rotator page (azimuth display, Open/Close, turn and
// stop buttons, preset field), the status bar with the azimuths of the first
// four rotators, and the menus.
//
// The window builds its tabs from the station's signals (tab i is rotator i,
// the console tab is always last) and calls the station for every action.
// The current rotator is the one whose tab was selected last; only its
// events move the page.
//
// Sources by job: Main.cpp builds the window and runs its start and close,
// MainPage.cpp is the rotator page and its controls, MainActions.cpp the
// menu actions on the station's rotators. The controls are private; tests
// find them by object name.
//
// Everything runs on the main thread. Every operator action, event handler
// and start-up step runs guarded: an exception ends it and its message is
// shown in the error dialog.

#include "app/StationDialogs.h"
#include "rotator/Gs232.h"
#include "station/CommandSurface.h"

#include <QImage>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

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
class TMain;
class TOptions;
class TStation;

// Where the window finds its pictures.
struct TMainOptions {
  // The folder of the bitmaps ("AzChart.bmp", the button pictures); empty:
  // the program's data folder (DataFolder).
  QString PictureFolder;
};

// Shows the options dialog modally and returns its result; tests put their
// own in place of the dialog's exec().
using TShowOptions = std::function<int(TOptions &Options)>;

// The "Options" command: fills a new options dialog from the station's
// control-table switch and the current rotator's settings and shows it. When
// it closes with OK (it has then written the control table file), the
// station takes the switch and the settings (closing the port, writing the
// document, opening the port again when the rotator opens automatically),
// the rotator's page is refreshed and the station reloads its control table
// from the file. Nothing changes on Cancel. Throws when the control table
// file can't be read; the caller shows the error.
void ExecuteOptions(TMain &Main, const TShowOptions &Show = {});

// The "Station" command: the station dialog filled from the station's
// settings; on OK the station takes (and writes) the new ones. Throws
// TSettingsError when they can't be written; the caller shows it.
void ExecuteStationSettings(TMain &Main, const TShowDialog &Show = {});

// The "Turn to" command for the current rotator: on "Set preset" the chosen
// path's bearing becomes the rotator's preset (the preset needle and the
// path on the map show it); on "Go" the rotator also goes there.
void ExecuteTurnTo(TMain &Main, const TShowDialog &Show = {});

// The operator is about to end the program while clients hold the automation
// object: the warning box asks whether to end. True for Yes.
bool ConfirmEndWithAutomationClients();

class TMain : public QMainWindow {
  Q_OBJECT
public:
  // Builds the window on Station (not owned; it outlives the window) and
  // places it; nothing is loaded yet.
  explicit TMain(TStation &Station, const TMainOptions &Options = {},
                 QWidget *Parent = nullptr);
  ~TMain() override;
  // Loads and starts the station and selects the first rotator; the
  // messages of the start-up (problems of the document and of the window's
  // position, once the station is loaded; a port that does not open, the
  // notice of a model) show over the window, so the program shows the
  // window first. Once the station is closing (an end asked for behind a
  // box), the start-up goes no further. Runs once.
  void StartStation();
  // Asked for when the window is to close while StartStation runs (its boxes
  // run the event loop): the closing then waits for the start-up to return,
  // and the program ends it. Without it, such a close is refused.
  std::function<void()> EndDuringStart;

  TStation &Station() const { return FStation; }
  // Asked before the closing sequence when the window is asked to close;
  // false keeps the program and its window as they are. The program asks the
  // operator here while automation clients hold its object.
  std::function<bool()> CloseQuery;
  // The closing sequence: the window position saved, then the station's.
  // Runs once, when the window closes.
  void FormClose();
  // Toggle states of the turn buttons: 0 off, all bits set on.
  int CWTag() const { return FCWTag; }
  int CCWTag() const { return FCCWTag; }

  // Shows Text across the status bar for a few seconds.
  void ShowNotice(const QString &Text);

  // The network side's settings in force and how new ones take effect,
  // given by the program; without them the station dialog's "Network" page
  // reads and writes the settings document, for the next start.
  std::function<TNetworkSettings()> NetworkSettings;
  std::function<void(const TNetworkSettings &)> ApplyNetwork;

protected:
  void closeEvent(QCloseEvent *Event) override;
  void moveEvent(QMoveEvent *Event) override;
  void showEvent(QShowEvent *Event) override;
  void changeEvent(QEvent *Event) override;
  bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
  friend void ExecuteOptions(TMain &Main, const TShowOptions &Show);
  friend void ExecuteStationSettings(TMain &Main, const TShowDialog &Show);
  friend void ExecuteTurnTo(TMain &Main, const TShowDialog &Show);

  // --- Building and start (Main.cpp) ------------------------------------------
  void BuildWindow();
  void BuildMenus();
  void ConnectStation();
  void SetPaths(const TMainOptions &Options);
  void FormCreate();
  void PlaceWindow();
  // The pages' colours from the palette: the panel a tint of the window
  // colour, the rest as the palette has it. Run again for a new palette.
  void ApplyPanelColours();
  // The client area's size at start: the smallest size, larger where the
  // menu bar, the tabs or the captions of a larger font need it.
  QSize DefaultClientSize() const;
  int TabBarHeight() const;
  int StatusHeight() const;
  // Places the controls for the client area's size. At the smallest size
  // every control has its original place; a larger window gives the map (a
  // square, centred between the top row and the turn buttons), the console's
  // text and the status line the room, and keeps the controls' order.
  void LayOut();
  void LayOutRotatorPage();
  void LayOutConsolePage();
  // The outer corner that centres the window on its screen.
  QPoint CentredCorner() const;
  // On a first start, centres the window again once its frame is known; true
  // when it did.
  bool CentreOnFrame();
  void SaveWindowPosition();
  // Runs an operator action or control guarded; nothing once closing has
  // started.
  void Operate(void (TMain::*Handler)());

  // --- Tabs following the station (Main.cpp) ----------------------------------
  void RotatorAdded(int Index);
  // Shows the tab control again after the tabs of a loading station went in.
  void ShowTabs();
  void RotatorRemoved(int Index);
  void RotatorMoved(int From, int To);
  // Selects a tab without running the tab-change steps.
  void SelectTabSilently(int Index);
  void PageControl1Changing();
  void PageControl1Change();
  // The leaving and entering steps of a tab change.
  void LeaveCurrentRotator();
  void EnterTab(int Index);

  // --- Rotator page (MainPage.cpp) --------------------------------------------
  // The index of the current rotator (the one whose tab was selected last,
  // also while the console tab is shown) that the controls, the console and
  // the menu commands address; -1 when there is no rotator.
  int Current() const;
  // The events of rotator Index reach the page only from the entering of its
  // tab to the leaving.
  bool IsConnected(int Index) const;
  // The whole page: tab caption, map, preset, relays, then the port state.
  void RefreshRotatorPage();
  // Shows the current rotator's map: its own picture, else the map around
  // the station (with the path "Turn to" chose), else the default rose.
  // Throws when a picture can't be read.
  void ShowMap();
  // The Open/Close button, the move buttons, the preset field and the status
  // bar after the port opened or closed (a disabled rotator is closed).
  void ShowPortState();
  // The four azimuth panels; while the current rotator is open and its
  // controller does not answer, one text across the bar says so instead, and
  // a notice is shown there the same way for a few seconds.
  void UpdateStatusBar();

  // The mark on rotator Index's tab while it is open and its controller does
  // not answer: a warning icon and the tooltip "Not responding". Set from the
  // driver's state wherever the tab's caption is set and whenever its port
  // or its answering changes; a moved tab carries its mark along.
  void ShowRespondingMark(int Index);
  void DrawDirection();
  void DrawRelays();
  void SetPresetDisplay();
  // The preset needle: the current rotator's movement target, else its
  // pending preset, else none.
  void ShowPresetNeedle();
  // Drops the path "Turn to" drew once the rotator it aimed has another
  // preset or target than the one it was given.
  void ForgetOtherAim(const TRotatorStatus &Status);
  void btnOpenCloseClick();
  void btnCWClick();
  void btnCCWClick();
  void btnStopClick();
  void btnPresetClick();
  void edtPresetDEnter();
  void edtPresetDExit();
  void edtPresetDReturn();
  // Toggles a turn button: its state, its picture, and the turn or stop.
  void ToggleTurn(int &Tag, QPushButton *Button, const QString &FileOn, const QString &FileOff,
                  TTurn Direction);
  // Both turn buttons off, with their off pictures.
  void ResetTurnButtons();
  // Loads a picture file into a turn button; throws when it can't be read.
  static void LoadButtonPicture(QPushButton *Button, const QString &FileName);
  void Gs232ChangeAzEl();
  void Gs232ReachBound(TBoundPosition Bound);
  void Gs232ReachPreset();
  void RelayArrayChangeRelays();
  void ShowTablePreset(int Index, int Az);

  // --- Actions (MainActions.cpp) ----------------------------------------------
  void actInsRotatorExecute();
  void actDelRotatorExecute();
  void actForwadRoatatorExecute();
  void actBackwardRptatorExecute();
  void MoveRotator(bool Forward);
  void actGotoHomeExecute();
  void actCloseExecute();
  void actAboutBoxExecute();
  void actOptionsExecute();
  void actStationExecute();
  void actTurnToExecute();
  void actLargeMapExecute();
  // A press on a map (the page's or the large one) at AzimuthR: the current
  // rotator's preset, and with Go the movement there.
  void PresetFromMap(double AzimuthR, bool Go);
  // The place "Turn to" chose, shown on both maps.
  void SetAimedAt(std::optional<TLatLon> Place);

  TStation &FStation;
  // The window was placed; the station was started.
  bool FPlaced = false;
  bool FStarted = false;
  // StartStation runs.
  bool FStarting = false;
  // Problems with the stored window position, told once the station starts.
  QString FPlaceProblems;
  // The status bar's notice and the time it stays.
  QString FNotice;
  QTimer FNoticeTimer;

  // --- Controls ----------------------------------------------------------------
  QTabWidget *PageControl1;
  QWidget *TabSheet2;
  QFrame *StatusBar1;
  QLabel *StatusPanels[4];
  QLabel *StatusNotice;
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
  QAction *actStation;
  QAction *actTurnTo;
  QAction *actLargeMap;
  // The large map window, made when first opened; a child of the window.
  class TLargeMapWindow *FLargeMap = nullptr;
  QAction *actAboutBox;
  QAction *actStop;
  QAction *actForwadRoatator;
  QAction *actBackwardRptator;

  // --- Files -------------------------------------------------------------------
  QString AppName;  // full path of the executable
  QString AppPath;  // folder of the pictures, ending in "/"
  QString MapName;  // AppPath + "AzChart.bmp"
  QString FileCW_On, FileCW_Off, FileCCW_On, FileCCW_Off;

  // The rotator whose events move the page (its RotatorId): the current
  // rotator, from the entering of its tab to the leaving; 0 for none.
  quint64 FConnected = 0;
  // Text of the preset field when it received the focus.
  QString BeforeValue;
  int FCWTag = 0;
  int FCCWTag = 0;
  // A preset value was refused and the field got the focus back: the text the
  // field had before the refused edit stays the one to compare with.
  bool FPresetRefused = false;
  // The place last chosen with "Turn to": the generated map draws the path
  // from the station to it.
  std::optional<TLatLon> FAimedAt;
  // The rotator "Turn to" aimed (its RotatorId) and the preset it gave it.
  quint64 FAimedRotator = 0;
  std::optional<int> FAimedPreset;
  // The generated map of the station's location, kept until the location or
  // the map's size changes.
  QImage FStationMap;
  TLatLon FStationMapCentre;
  // The map shown is the generated one, drawn again when the size changes.
  bool FStationMapShown = false;
  QTimer FMapTimer;
  bool FClosed = false;
  // Saves the window position once a move has ended.
  QTimer FMoveTimer;
  // The outer corner last placed or saved; a move elsewhere is the operator's.
  QPoint FSavedPos;
  // First start under a window manager that frames the window only once it is
  // shown: it is centred again by its outer size when the frame arrives.
  bool FCentreOnFrame = false;
  // The tab control is hidden while a loading station adds its tabs.
  bool FTabsHidden = false;
};
