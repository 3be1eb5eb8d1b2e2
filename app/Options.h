#pragma once
// The options dialog: the settings of one rotator on the "Rotator" tab and
// the frequency control table with its switch on the "Table" tab.
//
// The dialog only holds values. Its owner fills the properties before showing
// it and reads them back after it closed with OK. Writing a property shows
// the value in its control (list values are matched against the list's
// entries, see the setters); the operator's edits, picks and ticks are copied
// back into the properties as they happen, so the properties always hold what
// the operator left on screen.
//
// The "Table" tab edits the dialog's own copy of the control table, loaded
// from CtlTableName when the dialog is built. Both "Apply" buttons write that
// copy to the file and close the dialog with OK; both "Cancel" buttons, and
// closing the window, drop the edits and close it with Cancel.

#include "app/CtrlTableModel.h"
#include "rotator/RotatorSettings.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class TCtrlCellDelegate;

class TOptions : public QDialog {
  Q_OBJECT
public:
  // Builds the dialog, loads its copy of the control table from CtlTableName
  // (an empty table when the file does not exist) and fills the port list.
  // Throws TCtrlTableError when the file is not a control table.
  explicit TOptions(const QString &CtlTableName, QWidget *Parent = nullptr);
  ~TOptions() override;

  // --- Controls of the "Rotator" tab ----------------------------------------------
  QTabWidget *PageControl1;
  QWidget *TabSheet1;
  QWidget *TabSheet2;
  QLineEdit *edtTitle;
  QLineEdit *edtMapFileName;
  QPushButton *btnFileSelect;
  QPushButton *btnCancel;
  QPushButton *btnApply;
  QCheckBox *cbxEnable;
  QCheckBox *cbxAutoActive;
  QComboBox *cmbModel;
  QComboBox *cmbCenterPosition;
  QComboBox *cmbAzimuthAngle;
  QComboBox *cmbRotationSpeed;
  QLineEdit *edtHomePosition;
  QPushButton *btnGetHome;
  QCheckBox *cbxReturnHome;
  QLineEdit *edtOffsetAngle;
  QLineEdit *edtCommandB;
  QLineEdit *edtCommandA;
  QComboBox *cmbRelaysCount;
  QComboBox *cmbPort;
  QComboBox *cmbBaudRate;
  QComboBox *cmbDataBits;
  QComboBox *cmbParity;
  QComboBox *cmbStopBits;
  QComboBox *cmbFlowControl;

  // --- Controls of the "Table" tab ---------------------------------------------------
  QCheckBox *cbxCtrlTable;
  QPushButton *btnAdd;
  QPushButton *btnDelete;
  QPushButton *btnCancel2;
  QPushButton *btnApply2;
  QTableView *DBGrid1;
  // The dialog's copy of the control table, in stored order, and the grid's
  // sorted view of it.
  TCtrlTableModel *ClientDataSet1;
  TCtrlTableSortModel *DataSource1;

  // Full path of the control table file.
  QString CtlTableName() const { return FCtlTableName; }
  // Why the control table file could not be read, empty when it was. The
  // dialog opens all the same: the rows can't be edited then, and applying
  // leaves the file as it is, for the operator to repair or remove.
  QString TableProblem() const { return FTableProblem; }

  // --- Port list ----------------------------------------------------------------------
  // The serial ports of this computer as device paths (/dev/ttyUSB0), in the
  // order the platform gives them, each followed by its stable links under
  // /dev/serial/by-id; empty when none is found.
  static QStringList AvailablePorts();
  // Replaces the port list by Ports, or by "Com1" to "Com5" when Ports is
  // empty. Names are kept exactly as given: device names are case-sensitive.
  void FillPortList(const QStringList &Ports);
  // FillPortList(AvailablePorts()).
  void ReadPortList();

  // --- Properties ---------------------------------------------------------------------
  // Every property of the "Rotator" tab at once, set in the order of the
  // settings document's keys (so the setters' messages appear in that order),
  // and read back as the operator left them.
  void SetSettings(const TRotatorSettings &Settings);
  TRotatorSettings Settings() const;

  // Texts: the setters store the value without surrounding blanks and show it.
  QString Title() const { return FTitle; }
  void SetTitle(const QString &Value);
  QString MapFileName() const { return FMapFileName; }
  void SetMapFileName(const QString &Value);
  QString CommandB() const { return FCommandB; }
  void SetCommandB(const QString &Value);
  QString CommandA() const { return FCommandA; }
  void SetCommandA(const QString &Value);

  // Flags: the setters store the flag and set the tick.
  bool Enable() const { return FEnable; }
  void SetEnable(bool Value);
  bool AutoActive() const { return FAutoActive; }
  void SetAutoActive(bool Value);
  bool ReturnHome() const { return FReturnHome; }
  void SetReturnHome(bool Value);
  bool CtrlTableEnable() const { return FCtrlTableEnable; }
  void SetCtrlTableEnable(bool Value);

  // List values matched by text: the value without surrounding blanks, in
  // upper case, selects the first entry that equals it exactly, and the
  // property takes that text. When no entry does, an error box names the
  // setting ("Model can not be found", ...), the list is left without a
  // selection and the property takes the value as given, so that confirming
  // the dialog keeps a stored value the list does not offer (a baud rate of
  // 1200, parity Mark) until the operator picks an entry.
  QString Model() const { return FModel; }
  void SetModel(const QString &Value);
  QString BaudRate() const { return FBaudRate; }
  void SetBaudRate(const QString &Value);
  QString DataBits() const { return FDataBits; }
  void SetDataBits(const QString &Value);
  QString Parity() const { return FParity; }
  void SetParity(const QString &Value);
  QString StopBits() const { return FStopBits; }
  void SetStopBits(const QString &Value);
  QString FlowControl() const { return FFlowControl; }
  void SetFlowControl(const QString &Value);

  // The port, without surrounding blanks, selects the entry that equals it
  // exactly (letter case counts). A port that is not in the list (a
  // pseudo-terminal, a device unplugged for now) is added to it and selected,
  // so that it is kept when the operator does not pick another one. An empty
  // value changes nothing.
  QString Port() const { return FPort; }
  void SetPort(const QString &Value);

  // "1" (Low) to "4" (High), or "0" for none. The value without surrounding
  // blanks, with "0" put in front, is read as a whole number; an unreadable
  // value or one above 4 shows an error box, leaves the list without a
  // selection and is held as given. Otherwise the entry at that 1-based
  // position is selected (0: none) and the property becomes the number's
  // decimal text.
  QString RotationSpeed() const { return FRotationSpeed; }
  void SetRotationSpeed(const QString &Value);

  // Positions in their lists: CenterPosition north 0, south 1; AzimuthAngle
  // 360° 0, 450° 1. The setters store the value and select the entry.
  int CenterPosition() const { return FCenterPosition; }
  void SetCenterPosition(int Value);
  int AzimuthAngle() const { return FAzimuthAngle; }
  void SetAzimuthAngle(int Value);

  // 0, 4 or 8. Another value is held too, with no entry selected.
  int RelaysCount() const { return FRelaysCount; }
  void SetRelaysCount(int Value);

  // Whole degrees, shown as decimal text.
  int HomePosition() const { return FHomePosition; }
  void SetHomePosition(int Value);
  int OffsetAngle() const { return FOffsetAngle; }
  void SetOffsetAngle(int Value);

  // The rotator's present azimuth; only "Get Home" uses it.
  int CurrentPosition() const { return FCurrentPosition; }
  void SetCurrentPosition(int Value) { FCurrentPosition = Value; }

  // --- Operator actions ---------------------------------------------------------------
  // Both "Apply" buttons: finish the cell being edited, write the table to
  // CtlTableName and close with OK. A table that can't be written is reported;
  // the dialog still closes with OK.
  void btnApplyClick();
  // Both "Cancel" buttons: close with Cancel.
  void btnCancelClick();
  // "・・・": lets the operator pick the map picture.
  void btnFileSelectClick();
  // "Get Home": the home position becomes the present azimuth.
  void btnGetHomeClick();
  // "Add": a new empty row, shown and opened for editing.
  void btnAddClick();
  // "Deleet": removes the grid's current row without asking.
  void btnDeleteClick();

  // Operator input in the two number edits: the edit's text converted, or a
  // conversion error (TConvertError) with the property left as it was.
  // Home Position: "0" is put in front of the trimmed text, so an empty edit
  // gives 0 and a sign is refused. Offset Angle: empty or "-" gives 0, any
  // other trimmed text is converted as it stands.
  void edtHomePositionChange();
  void edtOffsetAngleChange();

  // Stores the cell being edited in the grid, if any.
  void FinishCellEdit();

protected:
  void showEvent(QShowEvent *Event) override;

private:
  void BuildRotatorTab();
  void BuildTableTab();
  void ConnectHandlers();
  // The matching rule of the text-valued lists; Name names the setting in the
  // error box.
  void SelectByText(QComboBox *List, const QString &Value, QString &Field, const QString &Name);

  QString FCtlTableName;
  QString FTableProblem;
  TCtrlCellDelegate *FCellDelegate;
  bool FCentred = false;

  QString FTitle;
  QString FMapFileName;
  bool FEnable = false;
  bool FAutoActive = false;
  QString FModel;
  int FCenterPosition = 0;
  int FAzimuthAngle = 0;
  QString FRotationSpeed;
  int FHomePosition = 0;
  bool FReturnHome = false;
  int FOffsetAngle = 0;
  QString FCommandB;
  QString FCommandA;
  int FRelaysCount = 0;
  QString FPort;
  QString FBaudRate;
  QString FDataBits;
  QString FParity;
  QString FStopBits;
  QString FFlowControl;
  int FCurrentPosition = 0;
  bool FCtrlTableEnable = false;
};
