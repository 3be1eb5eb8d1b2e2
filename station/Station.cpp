#include "station/Station.h"

#include "base/UiServices.h"
#include "settings/SettingsDocument.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <exception>
#include <set>
#include <stdexcept>

namespace {

const QString RotatorPrefix = QStringLiteral("Rotator");
// The longest the closing sequence waits for the lines to send what it wrote.
constexpr int DrainWaitMs = 2000;
// Where a driver keeps why it is not open (see TStation::OpenProblem), so
// that it goes away with the driver.
constexpr char OpenProblemProperty[] = "orbaltOpenProblem";

} // namespace

TStation::TStation(const QString &SettingsFile, QObject *Parent)
    : QObject(Parent), FSettingsFile(SettingsFile),
      FCtrlTableFile(QFileInfo(SettingsFile).absoluteDir().filePath(
          QStringLiteral("CtrlTable.xml"))),
      FFreqOperation([this] {
        TFreqOperation::TLinks Links;
        Links.CtrlTableEnable = &FCtrlTableEnable;
        Links.CtrlTable = &FCtrlTable;
        Links.RotatorCount = [this] { return RotatorCount(); };
        Links.Turn = [this](int Index, int Az, int Offset) {
          return GoToTableAzimuth(Index, Az, Offset).Done();
        };
        // The table's lists run in the closing sequence too (the default
        // row's stop lists), so they go to an open rotator's line whatever
        // the station is doing.
        Links.Send = [this](int Index, const QString &Commands, std::function<void()> Done) {
          if (Index >= 0 && Index < RotatorCount())
            Driver(Index).DoCmd(Commands, std::move(Done));
          else if (Done)
            Done();
        };
        Links.RotatorEnabled = [this](int Index) { return RotatorEnabled(Index); };
        Links.ShowPreset = [this](int Index, int Az) { emit TablePresetShown(Index, Az); };
        return Links;
      }()) {}

TStation::~TStation() { FDrivers.clear(); }

// --- Rotators --------------------------------------------------------------------------

TGs232 &TStation::Driver(int Index) {
  return const_cast<TGs232 &>(std::as_const(*this).Driver(Index));
}

const TGs232 &TStation::Driver(int Index) const {
  if (Index < 0 || Index >= RotatorCount())
    throw std::out_of_range("No rotator at this index");
  return *FDrivers[static_cast<size_t>(Index)];
}

void TStation::SetShowing(int Index, bool Showing) {
  if (Index >= 0 && Index < RotatorCount())
    Driver(Index).SetCurrent(Showing);
}

TRotatorSettings TStation::RotatorSettings(int Index) const { return Driver(Index).Settings(); }

bool TStation::RotatorEnabled(int Index) const {
  return Index >= 0 && Index < RotatorCount() && FDrivers[static_cast<size_t>(Index)]->Enable();
}

QString TStation::OpenProblem(int Index) const {
  if (Index < 0 || Index >= RotatorCount())
    return {};
  return FDrivers[static_cast<size_t>(Index)]->property(OpenProblemProperty).toString();
}

int TStation::IndexOf(const QObject *Driver) const {
  for (size_t I = 0; I < FDrivers.size(); ++I)
    if (FDrivers[I].get() == Driver)
      return static_cast<int>(I);
  return -1;
}

namespace {

// The numbers that titles of the form "Rotator<number>" use, and the
// smallest free one. Numbers only ever join, so the smallest free number
// only grows: naming many rotators takes time in proportion to their count.
class TRotatorNumbers {
public:
  void Add(const QString &Title) {
    if (!Title.startsWith(RotatorPrefix, Qt::CaseSensitive))
      return;
    try {
      FUsed.insert(TextToInteger(Title.mid(RotatorPrefix.size(), 7)));
    } catch (const TConvertError &) {
    }
  }
  // The smallest free number's name, which is in use from then on.
  QString Take() {
    while (FUsed.count(FFree))
      ++FFree;
    FUsed.insert(FFree);
    return RotatorPrefix + QString::number(FFree);
  }

private:
  std::set<int> FUsed;
  int FFree = 1;
};

} // namespace

QString TStation::NextRotatorName() const {
  TRotatorNumbers Numbers;
  for (const auto &Driver : FDrivers)
    Numbers.Add(Driver->Title());
  return Numbers.Take();
}

std::unique_ptr<TGs232> TStation::MakeDriver(const TRotatorSettings &Settings) {
  auto Driver = std::make_unique<TGs232>();
  Driver->ApplySettings(Settings);
  TGs232 *D = Driver.get();
  D->SetOpenGate([this, D] { return MayOpen(D); });
  // Each report names the rotator by its place at the time it is raised.
  D->SetChangeAzEl([this](QObject *Sender) {
    if (const int I = IndexOf(Sender); I >= 0)
      emit AzimuthChanged(I);
  });
  // Arrival at the preset ends the movement with the stop and its
  // after-movement list, whoever sent the rotator there and whether or not a
  // view shows it.
  D->SetReachPreset([this, D](QObject *) {
    // Once the station is closing its sequence alone speaks on the lines: a
    // stop with its after-movement list must not cut into the homing.
    if (FClosing)
      return;
    const QPointer<TGs232> Self(D);
    D->DoCmd(QStringLiteral("S"));
    // The stop's list may wait, and the rotator may be removed meanwhile.
    if (Self)
      if (const int I = IndexOf(D); I >= 0)
        emit PresetReached(I);
  });
  D->SetReachBound([this](QObject *Sender, TBoundPosition Bound) {
    if (const int I = IndexOf(Sender); I >= 0)
      emit BoundReached(I, Bound);
  });
  D->RelayArray()->SetChangeRelays([this, D](QObject *) {
    if (const int I = IndexOf(D); I >= 0)
      emit RelaysChanged(I);
  });
  D->SetMessage([this, D](QObject *, const QString &Text, TMessageKind Kind) {
    // A port failure closes the driver before it is reported: a message
    // that comes while closed is kept as why the rotator is not open, so a
    // client refused later is told it, not only that the port is closed.
    if (!D->Active())
      D->setProperty(OpenProblemProperty, Text);
    emit Message(Text, Kind);
  });
  connect(D, &TGs232::ActiveChanged, this, [this, D](bool Active) {
    if (Active)
      D->setProperty(OpenProblemProperty, QVariant());
    const int I = IndexOf(D);
    if (I < 0)
      return;
    if (Active)
      emit RotatorOpened(I);
    else
      emit RotatorClosed(I);
  });
  connect(D, &TGs232::RespondingChanged, this, [this, D](bool Responding) {
    if (const int I = IndexOf(D); I >= 0)
      emit RotatorRespondingChanged(I, Responding);
  });
  connect(D, &TGs232::MoveTargetChanged, this, [this, D] {
    // The movement ended: whoever set the target is forgotten with it.
    if (!D->MoveTarget())
      SetTargetSource(*D, TCommandSource::Window);
    if (const int I = IndexOf(D); I >= 0)
      emit RotatorMoveTargetChanged(I);
  });
  return Driver;
}

bool TStation::MayOpen(const TGs232 *Driver) const {
  return !FClosing || (FClosingStep && FClosingStep.data() == Driver);
}

void TStation::Dispose(std::unique_ptr<TGs232> Driver) {
  if (!Driver)
    return;
  // Inert at once: no more polls, events or port reports while it waits to
  // be freed.
  Driver->Release();
  Driver.release()->deleteLater();
}

void TStation::InsertRotator(int Index) {
  Index = std::clamp(Index, 0, RotatorCount());
  FDrivers.insert(FDrivers.begin() + Index,
                  MakeDriver(TRotatorSettings::Defaults(NextRotatorName())));
  emit RotatorAdded(Index);
  SaveRotators();
}

bool TStation::DeleteRotator(int Index) {
  if (RotatorCount() < 2 || Index < 0 || Index >= RotatorCount())
    return false;
  std::unique_ptr<TGs232> Removed = std::move(FDrivers[static_cast<size_t>(Index)]);
  FDrivers.erase(FDrivers.begin() + Index);
  Dispose(std::move(Removed));
  if (FCurrentRotator >= RotatorCount())
    FCurrentRotator = RotatorCount() - 1;
  emit RotatorRemoved(Index);
  SaveRotators();
  return true;
}

void TStation::MoveRotator(int From, int To) {
  const int N = RotatorCount();
  if (From < 0 || From >= N || To < 0 || To >= N)
    return;
  if (From != To) {
    auto Begin = FDrivers.begin();
    if (From < To)
      std::rotate(Begin + From, Begin + From + 1, Begin + To + 1);
    else
      std::rotate(Begin + To, Begin + From, Begin + From + 1);
    emit RotatorMoved(From, To);
  }
  SaveRotators();
}

void TStation::ApplyRotatorSettings(int Index, const TRotatorSettings &Settings) {
  const QPointer<TGs232> D = &Driver(Index);
  // The controller and line settings change only while the port is closed.
  if (D->Active())
    D->Close();
  // A receiver of the closing report may have removed the rotator (a removed
  // driver is inert for good, even while it waits to be freed) or opened it
  // again; settings never go to an open line.
  if (!D || IndexOf(D) < 0 || D->Active())
    return;
  D->ApplySettings(Settings);
  // The settings in memory have changed already; a document that can't be
  // written is reported, and the port still follows them.
  Guarded([this] { SaveRotators(); });
  if (D && IndexOf(D) >= 0 && Settings.AutoActive)
    D->Open();
}

void TStation::SaveRotators() {
  QList<TRotatorSettings> List;
  for (const auto &Driver : FDrivers)
    List.append(Driver->Settings());
  ::SaveRotators(FSettingsFile, FCtrlTableEnable, List);
}

// --- Control table ------------------------------------------------------------------

void TStation::ReloadCtrlTable() {
  if (QFileInfo::exists(FCtrlTableFile))
    FCtrlTable.Load(FCtrlTableFile);
}

void TStation::AutoOperation(int Az, double Freq) { FFreqOperation.AutoOperation(Az, Freq); }

// --- Start and close ---------------------------------------------------------------

void TStation::RaiseProblems(const QString &Text) {
  if (!Text.isEmpty())
    emit Message(Text, mkInformation);
}

void TStation::ReleaseAll() {
  // Last first, so that every report names a place that still exists.
  while (!FDrivers.empty()) {
    Dispose(std::move(FDrivers.back()));
    FDrivers.pop_back();
    emit RotatorRemoved(RotatorCount());
  }
}

QList<QPointer<TGs232>> TStation::Snapshot() const {
  QList<QPointer<TGs232>> Drivers;
  for (const auto &Driver : FDrivers)
    Drivers.append(Driver.get());
  return Drivers;
}

void TStation::Load() {
  if (FClosing)
    return;
  ReleaseAll();
  FLoaded = false;
  FCurrentRotator = 0;

  TXMLIniFile Ini(FSettingsFile);
  TLoadProblems Problems;
  FCtrlTableEnable = ReadCtrlTableEnable(Ini, Problems);
  FLocation = ReadStationSettings(Ini, Problems);
  // A control table file that can't be read leaves the table empty; the
  // rotators are still loaded, so that a later save of the rotators can't
  // replace the stored ones by an empty list. Its error is shown with the
  // other problems, once the station is complete.
  std::exception_ptr TableError;
  try {
    ReloadCtrlTable();
  } catch (...) {
    TableError = std::current_exception();
  }
  const QString TableNote = FCtrlTable.LoadNote();

  // An entry without a title takes the name a new rotator would get next to
  // the entries before it.
  TRotatorNumbers Numbers;
  for (TRotatorSettings &Settings :
       ReadRotatorEntries(Ini, Problems).value_or(QList<TRotatorSettings>())) {
    if (Settings.Title.isEmpty())
      Settings.Title = Numbers.Take();
    else
      Numbers.Add(Settings.Title);
    FDrivers.push_back(MakeDriver(Settings));
  }
  // No rotators stored (or a rotator section without entries): one default
  // rotator, so that there always is a current rotator.
  if (FDrivers.empty())
    FDrivers.push_back(MakeDriver(TRotatorSettings::Defaults(NextRotatorName())));
  FLoaded = true;
  for (int I = 0; I < RotatorCount(); ++I)
    emit RotatorAdded(I);

  // The problems, each of which may run the event loop behind its box; an
  // end asked for meanwhile drops the rest.
  if (TableError && !FClosing)
    Guarded([&] { std::rethrow_exception(TableError); });
  if (!FClosing)
    RaiseProblems(TableNote);
  if (!FClosing)
    RaiseProblems(LoadProblemsMessage(Problems));
}

void TStation::FollowFrequency(double Freq) {
  const std::optional<int> Index = FFreqOperation.FollowFrequency(Freq);
  if (!Index || *Index < 0 || *Index >= RotatorCount() || *Index == FCurrentRotator)
    return;
  FCurrentRotator = *Index;
  emit CurrentRotatorFollowed(*Index);
}

void TStation::SetLocation(const TStationSettings &Settings) {
  SaveStationSettings(FSettingsFile, Settings);
  FLocation = Settings;
  emit LocationChanged();
}

const TCountryFile *TStation::Countries(QString *Error) {
  const QString Name = FLocation.CountryFile;
  if (Name.isEmpty()) {
    FCountries.reset();
    return nullptr;
  }
  const QDateTime Time = QFileInfo(Name).lastModified();
  if (!FCountries || Name != FCountriesName || Time != FCountriesTime) {
    FCountriesName = Name;
    FCountriesTime = Time;
    FCountries = TCountryFile::Load(Name, Error);
  }
  return FCountries ? &*FCountries : nullptr;
}

std::variant<TStation::TAim, QString> TStation::Aim(const QString &Place) {
  const auto Home = Position();
  if (const QString *Error = std::get_if<QString>(&Home))
    return *Error;
  QString CountryError;
  const TCountryFile *Table = Countries(&CountryError);
  auto Resolved = ResolvePlace(Place, Table);
  if (QString *Error = std::get_if<QString>(&Resolved)) {
    // A call that could not be looked up for want of a readable file says so.
    if (!Table && !CountryError.isEmpty() && Error->contains(QStringLiteral("country file")))
      return CountryError;
    return *Error;
  }
  const TPlace &Target = std::get<TPlace>(Resolved);
  return TAim{Target, BearingBetween(std::get<TLatLon>(Home), Target.Position)};
}

std::variant<double, QString> TStation::TurnTo(int Index, const QString &Place, bool LongPath,
                                               TCommandSource Source) {
  if (const TActResult Ready = Steerable(Index); !Ready.Done())
    return Ready.Reason;
  const auto Aimed = Aim(Place);
  if (const QString *Error = std::get_if<QString>(&Aimed))
    return *Error;
  const TBearing &Bearing = std::get<TAim>(Aimed).Bearing;
  const int Azimuth = WholeDegrees(LongPath ? Bearing.LongPath : Bearing.ShortPath);
  if (const TActResult Sent = GoToAzimuth(Index, Azimuth, Source); !Sent.Done())
    return Sent.Reason;
  return double(Azimuth);
}

void TStation::Start(bool OpenEveryEnabled) {
  // Opening may show a message and so run a nested event loop: the drivers
  // as they are now, skipping any freed meanwhile. An end asked for
  // meanwhile stops the start there (the drivers refuse to open).
  // Each rotator is a step of its own: a port that fails to open is
  // reported, kept as why the rotator is not open, and the others still open.
  for (const QPointer<TGs232> &D : Snapshot()) {
    if (!D || IndexOf(D) < 0)
      continue;
    QString Problem;
    try {
      if (D->AutoActive()) {
        D->Open();
      } else if (OpenEveryEnabled && RotatorEnabled(IndexOf(D))) {
        const TActResult Opened = OpenRotator(IndexOf(D));
        if (!Opened.Done())
          Problem = Opened.Reason;
      }
    } catch (const std::exception &E) {
      Problem = QString::fromUtf8(E.what());
      Ui().ShowException(Problem);
    } catch (...) {
      Problem = QStringLiteral("Unknown error");
      Ui().ShowException(Problem);
    }
    if (D && !Problem.isEmpty())
      D->setProperty(OpenProblemProperty, Problem);
  }
  if (!FClosing)
    FFreqOperation.RunDefaultCommands(true);
}

void TStation::Close(std::function<void()> Done) {
  if (Done)
    FClosingWaiters.append(std::move(Done));
  if (FClosed) {
    if (FClosingEnded)
      EndClosing();
    return;
  }
  FClosed = true;
  FClosing = true;
  // The default row's stop lists first, their waits included; then the
  // rotators one by one.
  const bool Run = Guarded([this] {
    FFreqOperation.RunDefaultCommands(false, [this, Self = QPointer<TStation>(this)] {
      if (Self)
        CloseRotators(Snapshot(), 0);
    });
  });
  if (!Run)
    CloseRotators(Snapshot(), 0);
}

void TStation::CloseRotators(const QList<QPointer<TGs232>> &Drivers, qsizetype Next) {
  // A driver removed or freed while an earlier one was handled is skipped,
  // as a removed driver is inert for good.
  for (; Next < Drivers.size(); ++Next) {
    const QPointer<TGs232> Driver = Drivers[Next];
    bool Waits = false;
    Guarded([&] {
      if (!Driver || IndexOf(Driver) < 0 || Driver->Port().isEmpty())
        return;
      if (Driver->ReturnHome()) {
        // Only this step may open it, for the home command.
        FClosingStep = Driver;
        if (!Driver->Active())
          Driver->Open();
        if (Driver && Driver->Active()) {
          // The home command goes out after its CommandB list, whose waits
          // the next rotator waits for; the port closes behind it.
          auto Ended = std::make_shared<bool>(false);
          auto Waiting = std::make_shared<bool>(false);
          Driver->GoHome([this, Self = QPointer<TStation>(this), Drivers, Next, Driver, Ended,
                          Waiting] {
            *Ended = true;
            if (!Self)
              return;
            FClosingStep = nullptr;
            if (Driver && Driver->Active())
              Guarded([&] { Driver->Close(); });
            if (*Waiting)
              CloseRotators(Drivers, Next + 1);
          });
          Waits = *Waiting = !*Ended;
          return;
        }
        FClosingStep = nullptr;
      }
      if (Driver && Driver->Active())
        Driver->Close();
    });
    if (Waits)
      return;
  }
  WaitForDrains();
}

void TStation::WaitForDrains() {
  // What the closing steps wrote (the home commands) leaves the devices
  // before the drivers are freed; a line held by its flow control is given
  // up after its write bound, and all of them after DrainWaitMs.
  auto Draining = [this] {
    return std::any_of(FDrivers.begin(), FDrivers.end(),
                       [](const auto &Driver) { return Driver->Draining(); });
  };
  if (!Draining()) {
    FinishClosing();
    return;
  }
  // The wait's timer and connections go with it.
  auto *Wait = new QObject(this);
  auto Check = [this, Wait, Draining, Ended = std::make_shared<bool>(false)](bool TimeUp) {
    if (*Ended || (!TimeUp && Draining()))
      return;
    *Ended = true;
    Wait->deleteLater();
    FinishClosing();
  };
  QTimer::singleShot(DrainWaitMs, Wait, [Check] { Check(true); });
  for (const auto &Driver : FDrivers)
    connect(Driver.get(), &TGs232::DrainEnded, Wait, [Check] { Check(false); });
}

void TStation::FinishClosing() {
  // A document that could not be read is left as it is.
  if (FLoaded)
    FClosingSaveFailed = !Guarded([this] { SaveRotators(); });
  FLoaded = false;
  ReleaseAll();
  FClosingEnded = true;
  emit ClosingEnded();
  EndClosing();
}

void TStation::EndClosing() {
  for (const std::function<void()> &Done : std::exchange(FClosingWaiters, {}))
    Guarded([&] { Done(); });
}
