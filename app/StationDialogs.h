#pragma once
// The station's dialogs: "Station" edits where the station is and, on its
// "Network" page, the network servers and links (settings structs in, new
// ones out), and "Turn to" reads a place, shows the short-
// and long-path bearings and the distance to it as it is typed, and hands
// back the chosen bearing.
//
// Neither touches the station or a rotator: the main window's commands
// (ExecuteStationSettings, ExecuteTurnTo) fill them and apply their results.

#include "settings/NetworkSettings.h"
#include "settings/StationSettings.h"
#include "station/Station.h"

#include <QDialog>

#include <functional>
#include <variant>

class QButtonGroup;
class QCheckBox;
class QSpinBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QRadioButton;

class TStationDialog : public QDialog {
  Q_OBJECT
public:
  // RotatorTitles name the rotators the PstRotator server may steer.
  TStationDialog(const TStationSettings &Settings, const TNetworkSettings &Network,
                 const QStringList &RotatorTitles, QWidget *Parent = nullptr);

  // The fields as settings; accept() refuses (and says why under the fields)
  // a locator that is not one, or a latitude or longitude that is not a
  // number in its range.
  TStationSettings Settings() const;
  TNetworkSettings Network() const;
  void accept() override;

  QLineEdit *edtCallsign;
  QLineEdit *edtLocator;
  QLineEdit *edtLatitude;
  QLineEdit *edtLongitude;
  QLineEdit *edtCountryFile;
  QLabel *lblProblem;
  // The "Network" page.
  QCheckBox *chkRotctld;
  QLineEdit *edtRotctldAddress;
  QSpinBox *spnRotctldPort;
  QCheckBox *chkPst;
  QSpinBox *spnPstPort;
  class QComboBox *cmbPstRotator;
  QCheckBox *chkN1mm;
  QSpinBox *spnN1mmPort;
  QSpinBox *spnN1mmStatusPort;
  QLineEdit *edtUdpAddress;
  QCheckBox *chkRigctld;
  QLineEdit *edtRigctldHost;
  QSpinBox *spnRigctldPort;
  // The web page: a new password is typed here (empty keeps the one set).
  QCheckBox *chkWeb;
  QLineEdit *edtWebAddress;
  QSpinBox *spnWebPort;
  QLineEdit *edtWebPassword;
  QCheckBox *chkWebNoPassword;
  QLineEdit *edtWebCertificate;
  QLineEdit *edtWebKey;

private:
  QWidget *MakeNetworkPage(const TNetworkSettings &Network, const QStringList &RotatorTitles);
  // The network settings the dialog was opened with (the stored password's
  // hash among them).
  TNetworkSettings FNetwork;
  // The first problem of the fields, or empty.
  QString Problem() const;
};

class TTurnToDialog : public QDialog {
  Q_OBJECT
public:
  using TAimer = std::function<std::variant<TStation::TAim, QString>(const QString &Place)>;

  // Aim reads a place and aims at it (the station's Aim).
  TTurnToDialog(const QString &RotatorTitle, TAimer Aim, QWidget *Parent = nullptr);

  // The place typed, read: its aim, or why it can't be aimed at.
  const std::variant<TStation::TAim, QString> &Aimed() const { return FAimed; }
  bool LongPath() const;
  // The chosen path's bearing; valid when a place was read.
  double Azimuth() const;
  // The dialog was closed with "Go" rather than "Set preset".
  bool Go() const { return FGo; }

  QLineEdit *edtPlace;
  QLabel *lblResult;
  QRadioButton *rbShort;
  QRadioButton *rbLong;
  QDialogButtonBox *Buttons;

private:
  void Update();

  TAimer FAim;
  std::variant<TStation::TAim, QString> FAimed;
  bool FGo = false;
};

// Shows a dialog modally; tests put their own in place of exec().
using TShowDialog = std::function<int(QDialog &Dialog)>;
