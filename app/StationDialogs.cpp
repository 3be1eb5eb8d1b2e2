#include "app/StationDialogs.h"

#include "remote/WebPassword.h"

#include "base/UiServices.h"
#include "station/Locator.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// A coordinate field: empty, or a number from -Limit to Limit (a decimal
// comma is taken as a point).
std::optional<double> Coordinate(const QLineEdit *Edit, double Limit, bool *Ok) {
  QString Text = Edit->text().trimmed();
  *Ok = true;
  if (Text.isEmpty())
    return std::nullopt;
  Text.replace(u',', u'.');
  const double Value = Text.toDouble(Ok);
  if (*Ok && std::fabs(Value) > Limit)
    *Ok = false;
  return *Ok ? std::optional<double>(Value) : std::nullopt;
}

QString CoordinateText(std::optional<double> Value) {
  return Value ? QString::number(*Value, 'g', 10) : QString();
}

} // namespace

// --- Station
// ----------------------------------------------------------------------

TStationDialog::TStationDialog(const TStationSettings &Settings, const TNetworkSettings &Network,
                               const QStringList &RotatorTitles, QWidget *Parent)
    : QDialog(Parent) {
  setObjectName(QStringLiteral("StationDialog"));
  setWindowTitle(QStringLiteral("Station"));
  auto *Form = new QFormLayout;
  const auto Field = [&](const char *Name, const QString &Caption, const QString &Text) {
    auto *Edit = new QLineEdit(Text, this);
    Edit->setObjectName(QLatin1String(Name));
    Form->addRow(Caption, Edit);
    return Edit;
  };
  edtCallsign = Field("edtCallsign", QStringLiteral("&Callsign"), Settings.Callsign);
  edtLocator = Field("edtLocator", QStringLiteral("&Locator"), Settings.Locator);
  edtLocator->setPlaceholderText(QStringLiteral("JO62qm"));
  edtLatitude =
      Field("edtLatitude", QStringLiteral("L&atitude"), CoordinateText(Settings.Latitude));
  edtLatitude->setPlaceholderText(QStringLiteral("degrees, north positive"));
  edtLongitude =
      Field("edtLongitude", QStringLiteral("L&ongitude"), CoordinateText(Settings.Longitude));
  edtLongitude->setPlaceholderText(QStringLiteral("degrees, east positive"));
  edtCountryFile = new QLineEdit(Settings.CountryFile, this);
  edtCountryFile->setObjectName(QStringLiteral("edtCountryFile"));
  edtCountryFile->setPlaceholderText(QStringLiteral("cty.dat"));
  auto *Browse = new QPushButton(QStringLiteral("&Browse..."), this);
  connect(Browse, &QPushButton::clicked, this, [this] {
    if (const auto Picked = Ui().OpenFile(QStringLiteral("Country File"),
                                          QStringLiteral("Country file (*.dat);;All files (*)"),
                                          edtCountryFile->text()))
      edtCountryFile->setText(*Picked);
  });
  auto *CountryRow = new QHBoxLayout;
  CountryRow->addWidget(edtCountryFile, 1);
  CountryRow->addWidget(Browse);
  Form->addRow(QStringLiteral("Country &file"), CountryRow);

  auto *Note = new QLabel(QStringLiteral("The locator is used when it is given; otherwise the "
                                         "latitude and longitude."),
                          this);
  Note->setWordWrap(true);
  lblProblem = new QLabel(this);
  lblProblem->setObjectName(QStringLiteral("lblProblem"));
  lblProblem->setStyleSheet(QStringLiteral("color: #b00020"));
  lblProblem->setWordWrap(true);
  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *StationPage = new QWidget(this);
  auto *StationLayout = new QVBoxLayout(StationPage);
  StationLayout->addLayout(Form);
  StationLayout->addWidget(Note);
  StationLayout->addStretch();
  auto *Pages = new QTabWidget(this);
  Pages->addTab(StationPage, QStringLiteral("Station"));
  Pages->addTab(MakeNetworkPage(Network, RotatorTitles), QStringLiteral("Network"));

  auto *Layout = new QVBoxLayout(this);
  Layout->addWidget(Pages);
  Layout->addWidget(lblProblem);
  Layout->addWidget(Box);
  setMinimumWidth(460);
}

QWidget *TStationDialog::MakeNetworkPage(const TNetworkSettings &Network,
                                         const QStringList &RotatorTitles) {
  auto *Page = new QWidget(this);
  const auto Port = [Page](const char *Name, int Value) {
    auto *Spin = new QSpinBox(Page);
    Spin->setObjectName(QLatin1String(Name));
    Spin->setRange(0, 65535);
    Spin->setValue(Value);
    return Spin;
  };
  const auto Check = [Page](const char *Name, const QString &Caption, bool Value) {
    auto *Box = new QCheckBox(Caption, Page);
    Box->setObjectName(QLatin1String(Name));
    Box->setChecked(Value);
    return Box;
  };
  const auto Edit = [Page](const char *Name, const QString &Value) {
    auto *Line = new QLineEdit(Value, Page);
    Line->setObjectName(QLatin1String(Name));
    return Line;
  };
  chkRotctld =
      Check("chkRotctld", QStringLiteral("rotctld &servers (rotator i on the base port + 2 i)"),
            Network.RotctldEnable);
  edtRotctldAddress = Edit("edtRotctldAddress", Network.RotctldAddress);
  spnRotctldPort = Port("spnRotctldPort", Network.RotctldPort);
  chkPst = Check("chkPst", QStringLiteral("&PstRotator messages (UDP)"), Network.PstEnable);
  spnPstPort = Port("spnPstPort", Network.PstPort);
  cmbPstRotator = new QComboBox(Page);
  cmbPstRotator->setObjectName(QStringLiteral("cmbPstRotator"));
  cmbPstRotator->addItem(QStringLiteral("The current rotator"));
  cmbPstRotator->addItems(RotatorTitles);
  cmbPstRotator->setCurrentIndex(
      std::clamp(Network.PstRotator + 1, 0, static_cast<int>(RotatorTitles.size())));
  chkN1mm = Check("chkN1mm", QStringLiteral("&N1MM rotor messages (UDP)"), Network.N1mmEnable);
  spnN1mmPort = Port("spnN1mmPort", Network.N1mmPort);
  spnN1mmStatusPort = Port("spnN1mmStatusPort", Network.N1mmStatusPort);
  edtUdpAddress = Edit("edtUdpAddress", Network.UdpAddress);
  chkRigctld =
      Check("chkRigctld", QStringLiteral("Band following from &rigctld"), Network.RigctldEnable);
  edtRigctldHost = Edit("edtRigctldHost", Network.RigctldHost);
  spnRigctldPort = Port("spnRigctldPort", Network.RigctldPort);
  FNetwork = Network;
  chkWeb = Check("chkWeb", QStringLiteral("&Web page (a browser on a phone or another computer)"),
                 Network.WebEnable);
  edtWebAddress = Edit("edtWebAddress", Network.WebAddress);
  spnWebPort = Port("spnWebPort", Network.WebPort);
  edtWebPassword = Edit("edtWebPassword", QString());
  edtWebPassword->setEchoMode(QLineEdit::Password);
  edtWebPassword->setPlaceholderText(Network.WebPassword.isEmpty()
                                         ? QStringLiteral("none set")
                                         : QStringLiteral("set; type a new one to change it"));
  chkWebNoPassword = Check("chkWebNoPassword", QStringLiteral("Remove the password"), false);
  chkWebNoPassword->setEnabled(!Network.WebPassword.isEmpty());
  edtWebCertificate = Edit("edtWebCertificate", Network.WebCertificate);
  edtWebKey = Edit("edtWebKey", Network.WebKey);

  auto *Form = new QFormLayout(Page);
  Form->addRow(chkRotctld);
  Form->addRow(QStringLiteral("Address"), edtRotctldAddress);
  Form->addRow(QStringLiteral("Base port"), spnRotctldPort);
  Form->addRow(chkPst);
  Form->addRow(QStringLiteral("Port"), spnPstPort);
  Form->addRow(QStringLiteral("Steers"), cmbPstRotator);
  Form->addRow(chkN1mm);
  Form->addRow(QStringLiteral("Port"), spnN1mmPort);
  Form->addRow(QStringLiteral("Headings to port"), spnN1mmStatusPort);
  Form->addRow(QStringLiteral("UDP address"), edtUdpAddress);
  Form->addRow(chkRigctld);
  Form->addRow(QStringLiteral("Host"), edtRigctldHost);
  Form->addRow(QStringLiteral("Port"), spnRigctldPort);
  Form->addRow(chkWeb);
  Form->addRow(QStringLiteral("Address"), edtWebAddress);
  Form->addRow(QStringLiteral("Port"), spnWebPort);
  Form->addRow(QStringLiteral("Password"), edtWebPassword);
  Form->addRow(chkWebNoPassword);
  Form->addRow(QStringLiteral("HTTPS certificate"), edtWebCertificate);
  Form->addRow(QStringLiteral("HTTPS key"), edtWebKey);
  auto *Note = new QLabel(QStringLiteral("Servers listen on the loopback address (127.0.0.1) "
                                         "unless another is given."),
                          Page);
  Note->setWordWrap(true);
  Form->addRow(Note);
  return Page;
}

TNetworkSettings TStationDialog::Network() const {
  TNetworkSettings N = FNetwork;
  N.RotctldEnable = chkRotctld->isChecked();
  N.RotctldAddress = edtRotctldAddress->text().trimmed();
  N.RotctldPort = spnRotctldPort->value();
  N.PstEnable = chkPst->isChecked();
  N.PstPort = spnPstPort->value();
  N.PstRotator = cmbPstRotator->currentIndex() - 1;
  N.N1mmEnable = chkN1mm->isChecked();
  N.N1mmPort = spnN1mmPort->value();
  N.N1mmStatusPort = spnN1mmStatusPort->value();
  N.UdpAddress = edtUdpAddress->text().trimmed();
  N.RigctldEnable = chkRigctld->isChecked();
  N.RigctldHost = edtRigctldHost->text().trimmed();
  N.RigctldPort = spnRigctldPort->value();
  N.WebEnable = chkWeb->isChecked();
  N.WebAddress = edtWebAddress->text().trimmed();
  N.WebPort = spnWebPort->value();
  // Only the hash of a new password is kept.
  if (chkWebNoPassword->isChecked())
    N.WebPassword.clear();
  else if (!edtWebPassword->text().isEmpty())
    N.WebPassword = HashWebPassword(edtWebPassword->text());
  N.WebCertificate = edtWebCertificate->text().trimmed();
  N.WebKey = edtWebKey->text().trimmed();
  return N;
}

QString TStationDialog::Problem() const {
  QString Error;
  if (!edtLocator->text().trimmed().isEmpty() && !LocatorToLatLon(edtLocator->text(), &Error))
    return Error;
  bool Ok = true;
  Coordinate(edtLatitude, 90, &Ok);
  if (!Ok)
    return QStringLiteral("The latitude is a number of degrees from -90 to 90");
  Coordinate(edtLongitude, 180, &Ok);
  if (!Ok)
    return QStringLiteral("The longitude is a number of degrees from -180 to 180");
  for (const QLineEdit *Address : {edtRotctldAddress, edtUdpAddress, edtWebAddress}) {
    const QString Text = Address->text().trimmed();
    if (Text.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0 &&
        QHostAddress(Text).isNull())
      return QStringLiteral("\"%1\" is not an IP address").arg(Text);
  }
  if (edtRigctldHost->text().trimmed().isEmpty())
    return QStringLiteral("rigctld needs a host");
  const bool Password = chkWebNoPassword->isChecked()
                            ? !edtWebPassword->text().isEmpty()
                            : !FNetwork.WebPassword.isEmpty() || !edtWebPassword->text().isEmpty();
  const QHostAddress WebAddress = edtWebAddress->text().trimmed().compare(
                                      QStringLiteral("localhost"), Qt::CaseInsensitive) == 0
                                      ? QHostAddress(QHostAddress::LocalHost)
                                      : QHostAddress(edtWebAddress->text().trimmed());
  if (chkWeb->isChecked() && !WebAddress.isLoopback() && !Password)
    return QStringLiteral("The web page is served beyond this computer only with a password");
  if (edtWebCertificate->text().trimmed().isEmpty() != edtWebKey->text().trimmed().isEmpty())
    return QStringLiteral("HTTPS needs both a certificate and a key file");
  return {};
}

TStationSettings TStationDialog::Settings() const {
  TStationSettings S;
  bool Ok = true;
  S.Callsign = edtCallsign->text().trimmed().toUpper();
  S.Locator = edtLocator->text().trimmed();
  S.Latitude = Coordinate(edtLatitude, 90, &Ok);
  S.Longitude = Coordinate(edtLongitude, 180, &Ok);
  S.CountryFile = edtCountryFile->text().trimmed();
  return S;
}

void TStationDialog::accept() {
  const QString Text = Problem();
  lblProblem->setText(Text);
  if (Text.isEmpty())
    QDialog::accept();
}

// --- Turn to
// ----------------------------------------------------------------------

TTurnToDialog::TTurnToDialog(const QString &RotatorTitle, TAimer Aim, QWidget *Parent)
    : QDialog(Parent), FAim(std::move(Aim)), FAimed(QString()) {
  setObjectName(QStringLiteral("TurnToDialog"));
  setWindowTitle(QStringLiteral("Turn %1 to").arg(RotatorTitle));
  edtPlace = new QLineEdit(this);
  edtPlace->setObjectName(QStringLiteral("edtPlace"));
  edtPlace->setPlaceholderText(QStringLiteral("locator, \"lat lon\" or callsign"));
  lblResult = new QLabel(this);
  lblResult->setObjectName(QStringLiteral("lblResult"));
  lblResult->setWordWrap(true);
  lblResult->setMinimumHeight(3 * fontMetrics().height());
  rbShort = new QRadioButton(QStringLiteral("&Short path"), this);
  rbLong = new QRadioButton(QStringLiteral("&Long path"), this);
  rbShort->setChecked(true);
  auto *Paths = new QButtonGroup(this);
  Paths->addButton(rbShort);
  Paths->addButton(rbLong);

  Buttons = new QDialogButtonBox(this);
  QPushButton *SetPreset =
      Buttons->addButton(QStringLiteral("Set &preset"), QDialogButtonBox::AcceptRole);
  SetPreset->setObjectName(QStringLiteral("btnSetPreset"));
  QPushButton *GoButton = Buttons->addButton(QStringLiteral("&Go"), QDialogButtonBox::AcceptRole);
  GoButton->setObjectName(QStringLiteral("btnGo"));
  Buttons->addButton(QDialogButtonBox::Cancel);
  SetPreset->setDefault(true);
  connect(SetPreset, &QPushButton::clicked, this, [this] {
    FGo = false;
    accept();
  });
  connect(GoButton, &QPushButton::clicked, this, [this] {
    FGo = true;
    accept();
  });
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto *Layout = new QVBoxLayout(this);
  Layout->addWidget(new QLabel(QStringLiteral("&Place:"), this));
  Layout->addWidget(edtPlace);
  Layout->addWidget(lblResult);
  auto *PathRow = new QHBoxLayout;
  PathRow->addWidget(rbShort);
  PathRow->addWidget(rbLong);
  PathRow->addStretch();
  Layout->addLayout(PathRow);
  Layout->addWidget(Buttons);
  setMinimumWidth(380);

  connect(edtPlace, &QLineEdit::textChanged, this, [this] { Update(); });
  connect(rbLong, &QRadioButton::toggled, this, [this] { Update(); });
  Update();
}

bool TTurnToDialog::LongPath() const { return rbLong->isChecked(); }

double TTurnToDialog::Azimuth() const {
  const auto *Aim = std::get_if<TStation::TAim>(&FAimed);
  if (!Aim)
    return 0;
  return LongPath() ? Aim->Bearing.LongPath : Aim->Bearing.ShortPath;
}

void TTurnToDialog::Update() {
  const bool Typed = !edtPlace->text().trimmed().isEmpty();
  FAimed = Typed ? FAim(edtPlace->text()) : std::variant<TStation::TAim, QString>(QString());
  const auto *Aim = std::get_if<TStation::TAim>(&FAimed);
  if (Aim)
    lblResult->setText(QStringLiteral("%1\nShort path %2°, long path %3°, %4 km")
                           .arg(Aim->Place.Description)
                           .arg(Aim->Bearing.ShortPath, 0, 'f', 1)
                           .arg(Aim->Bearing.LongPath, 0, 'f', 1)
                           .arg(std::lround(Aim->Bearing.DistanceKm)));
  else
    lblResult->setText(std::get<QString>(FAimed));
  for (QAbstractButton *Button : Buttons->buttons())
    if (Buttons->buttonRole(Button) == QDialogButtonBox::AcceptRole)
      Button->setEnabled(Aim != nullptr);
}
