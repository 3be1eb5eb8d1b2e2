#include "remote/Orbalt.h"

#include "rotator/Gs232.h"

#include <QStringList>

#include <exception>

namespace {

qint16 AutomationBool(bool Value) { return Value ? AutomationTrue : AutomationFalse; }

// A direct-form operation has no way to report an error: an exception thrown
// by the workspace or the driver is written to the log and the operation
// gives Fallback.
template <class F, class R> R Direct(const char *Name, R Fallback, F &&Action) noexcept {
  try {
    return Action();
  } catch (const std::exception &E) {
    qWarning("Automation operation %s failed: %s", Name, E.what());
  } catch (...) {
    qWarning("Automation operation %s failed", Name);
  }
  return Fallback;
}

} // namespace

qint16 TOrbalt::Enable() const { return AutomationBool(FSurface.CtrlTableEnable()); }

int TOrbalt::RotatorCount() const {
  return FSurface.CtrlTableEnable() ? FSurface.RotatorCount() : 0;
}

int TOrbalt::RotatorIndex() const { return FSurface.CurrentRotator(); }

QString TOrbalt::GetRotatorTitle(int RotatorIndex) const {
  return GetRotatorValue(RotatorIndex, QStringLiteral("Title"));
}

qint16 TOrbalt::GetRotatorActive(int RotatorIndex) const noexcept {
  return Direct("GetRotatorActive", AutomationFalse, [&] {
    const auto Status = FSurface.Status(RotatorIndex);
    return AutomationBool(Status && Status->Open);
  });
}

int TOrbalt::GetRotatorAzumuth(int RotatorIndex) const noexcept {
  return Direct("GetRotatorAzumuth", 0, [&] {
    const auto Status = FSurface.Status(RotatorIndex);
    return Status ? Status->Azimuth : 0;
  });
}

qint16 TOrbalt::Move(int RotatorIndex, int Azimuth) noexcept {
  return Direct("Move", AutomationFalse, [&] {
    return AutomationBool(
        FSurface.GoToAzimuth(RotatorIndex, Azimuth, TCommandSource::DBus).Done());
  });
}

qint16 TOrbalt::Open(int RotatorIndex) noexcept {
  // A port that fails to open is the driver's to report; the call was made.
  return Direct("Open", AutomationFalse,
                [&] { return AutomationBool(FSurface.OpenRotator(RotatorIndex).Done()); });
}

qint16 TOrbalt::Close(int RotatorIndex) noexcept {
  return Direct("Close", AutomationFalse,
                [&] { return AutomationBool(FSurface.CloseRotator(RotatorIndex).Done()); });
}

qint16 TOrbalt::Rotate(int Azimuth, double Freq) noexcept {
  bool On = false;
  Direct("Rotate", 0, [&] {
    On = FSurface.CtrlTableEnable();
    // The frequency goes on in double precision: a single-precision value
    // lies off its decimal value (7.3 would become 7.30000019) and would miss
    // a row that ends at 7.3.
    if (On)
      FSurface.AutoOperation(Azimuth, Freq);
    return 0;
  });
  // With the switch on the answer is true whether or not a row matched.
  return AutomationBool(On);
}

QString TOrbalt::GetRotatorValue(int Index, const QString &Key) const {
  if (!ValidIndex(Index))
    return {};
  return BlockValue(RotatorBlock(FSurface.RotatorSettings(Index)), Key);
}

bool TOrbalt::ValidIndex(int Index) const {
  return Index >= 0 && Index < FSurface.RotatorCount();
}
