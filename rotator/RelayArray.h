#pragma once
// On/off states of the relays of a relay box that shares a rotator's serial
// line. The array only remembers what was commanded through the relay items
// of command lists; nothing is ever read back from the relay box.

#include <QObject>

#include <array>
#include <functional>

// One relay was set: its index (relay number - 1) and the new state.
using TChangeRelayEvent = std::function<void(QObject *Sender, int Index, bool State)>;
// The count or a relay changed.
using TChangeRelaysEvent = std::function<void(QObject *Sender)>;

class TRelayArray : public QObject {
  Q_OBJECT
public:
  // Relays that can be held; relay items address relays 1 to 9.
  static constexpr int MaxRelays = 16;

  explicit TRelayArray(QObject *Owner = nullptr);
  ~TRelayArray() override;

  // Number of relays in use (0, 4 or 8 in this program). Assigning keeps the
  // states and raises ChangeRelays, also when the value does not change.
  int Count() const { return FCount; }
  void SetCount(int Value);
  // The count is not 0.
  bool Enable() const { return FEnable; }

  // State of relay Index (0-based); false unless Enable and the index is in use.
  bool GetRelay(int Index) const;
  // Stores Value when Enable and the index is in use, then raises ChangeRelay
  // and ChangeRelays (also when the state does not change); otherwise nothing.
  void SetRelay(int Index, bool Value);

  const TChangeRelayEvent &ChangeRelay() const { return FChangeRelay; }
  void SetChangeRelay(TChangeRelayEvent Handler) { FChangeRelay = std::move(Handler); }
  const TChangeRelaysEvent &ChangeRelays() const { return FChangeRelays; }
  void SetChangeRelays(TChangeRelaysEvent Handler) { FChangeRelays = std::move(Handler); }

private:
  bool InUse(int Index) const;
  void RaiseChangeRelays();

  std::array<bool, MaxRelays> FRelay{};
  bool FEnable = false;
  int FCount = 0;
  TChangeRelayEvent FChangeRelay;
  TChangeRelaysEvent FChangeRelays;
};
