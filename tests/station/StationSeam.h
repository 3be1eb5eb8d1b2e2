#pragma once
// The tests' way to the drivers behind the station's command surface: they
// set up and inspect a rotator's driver directly (its readings, its settings,
// a controller that stops answering), which no front end may do.

#include "station/Station.h"

struct TStationSeam {
  static TGs232 &Driver(TStation &Station, int Index) { return Station.Driver(Index); }
  static const TGs232 &Driver(const TStation &Station, int Index) {
    return Station.Driver(Index);
  }
};
