#include "rotator/RelayArray.h"

#include <QPointer>

#include <algorithm>

TRelayArray::TRelayArray(QObject *Owner) : QObject(Owner) {}

TRelayArray::~TRelayArray() = default;

void TRelayArray::SetCount(int Value) {
  // A count from a hand-edited settings file is held to what the array can
  // keep: the display draws one lamp per relay.
  FCount = std::clamp(Value, 0, MaxRelays);
  FEnable = FCount != 0;
  RaiseChangeRelays();
}

bool TRelayArray::InUse(int Index) const {
  return FEnable && Index >= 0 && Index < FCount;
}

bool TRelayArray::GetRelay(int Index) const { return InUse(Index) && FRelay[Index]; }

void TRelayArray::SetRelay(int Index, bool Value) {
  if (!InUse(Index))
    return;
  FRelay[Index] = Value;
  // Copies, so that a handler may replace the handlers while it runs; the
  // owner may even free the array from inside the first one.
  QPointer<TRelayArray> Self(this);
  if (TChangeRelayEvent Handler = FChangeRelay)
    Handler(this, Index, Value);
  if (Self)
    RaiseChangeRelays();
}

void TRelayArray::RaiseChangeRelays() {
  if (TChangeRelaysEvent Handler = FChangeRelays)
    Handler(this);
}
