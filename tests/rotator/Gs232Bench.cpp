// Poll cost against emulated controllers:
//  - one poll exchange ("C" + CR to the parsed azimuth), median of many;
//    for comparison the same exchange read with the plain bounded read, which
//    waits for the line to stay quiet instead of ending at the reply's line end;
//  - the share of wall time the main thread spends blocked inside poll
//    exchanges with 1 and 4 open drivers, one of the 4 controllers silent.

#include "rotator/Gs232.h"
#include "tools/Gs232Emulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Times the poll ticks of the watched drivers: a tick reaches its driver as a
// queued call, and all it does besides the exchange is a few comparisons.
class TTimingApp : public QCoreApplication {
public:
  using QCoreApplication::QCoreApplication;
  bool notify(QObject *Receiver, QEvent *Event) override {
    if (Event->type() != QEvent::MetaCall || !Watched.count(Receiver))
      return QCoreApplication::notify(Receiver, Event);
    const auto Start = Clock::now();
    const bool Result = QCoreApplication::notify(Receiver, Event);
    Blocked += Clock::now() - Start;
    ++Ticks;
    return Result;
  }
  std::set<QObject *> Watched;
  Clock::duration Blocked{};
  long Ticks = 0;
};

TTimingApp *App = nullptr;

struct TStation {
  explicit TStation(bool CrLf = true) {
    Gs232Emulator::Options Opts;
    Opts.azimuth = 123;
    Opts.crlf = CrLf;
    Emu = std::make_unique<Gs232Emulator>(Opts);
    Emu->start();
    Drv = std::make_unique<TGs232>();
    Drv->SetPort(Emu->devicePath());
    Drv->SetModel(QStringLiteral("GS-232A"));
    Drv->Open();
  }
  ~TStation() {
    Drv.reset();
    Emu->stop();
  }
  std::unique_ptr<Gs232Emulator> Emu;
  std::unique_ptr<TGs232> Drv;
};

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V.empty() ? 0 : V[V.size() / 2];
}

void ReportExchanges(benchmark::State &State, std::vector<double> Ms) {
  std::sort(Ms.begin(), Ms.end());
  State.counters["median_ms"] = Median(Ms);
  State.counters["p90_ms"] = Ms.empty() ? 0 : Ms[Ms.size() * 9 / 10];
  State.counters["max_ms"] = Ms.empty() ? 0 : Ms.back();
  // 2 bytes out, "+0123" CR LF back, 10 bits each at 9600 baud.
  State.counters["line_floor_ms"] = 9 * 10 * 1000.0 / 9600;
}

void BM_PollExchange(benchmark::State &State) {
  TStation S(State.range(0) != 0);
  if (!S.Drv->Active()) {
    State.SkipWithError("driver did not open");
    return;
  }
  std::vector<double> Ms;
  for (auto _ : State) {
    const auto Start = Clock::now();
    S.Drv->GetDirection();
    Ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Start).count());
    if (S.Drv->AzimuthD() != 123) {
      State.SkipWithError(("wrong azimuth " + std::to_string(S.Drv->AzimuthD()) + " after " +
                           std::to_string(Ms.size()))
                              .c_str());
      return;
    }
  }
  ReportExchanges(State, Ms);
}
BENCHMARK(BM_PollExchange)->ArgName("crlf")->Arg(1)->Arg(0)->Iterations(300)->UseRealTime();

// The same query read with the plain bounded read, as the console does.
void BM_PollExchangePlainRead(benchmark::State &State) {
  TStation S;
  std::vector<double> Ms;
  for (auto _ : State) {
    const auto Start = Clock::now();
    S.Drv->DoCmd(QStringLiteral("C"));
    const QString Reply = S.Drv->DoRecv(11);
    Ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Start).count());
    if (!Reply.contains(QStringLiteral("+0123"))) {
      State.SkipWithError("no reply");
      return;
    }
  }
  ReportExchanges(State, Ms);
}
BENCHMARK(BM_PollExchangePlainRead)->Iterations(20)->UseRealTime();

// Arguments: number of drivers, number of them on silent controllers.
void BM_BlockedShare(benchmark::State &State) {
  const int Drivers = static_cast<int>(State.range(0));
  const int Silent = static_cast<int>(State.range(1));
  std::vector<std::unique_ptr<TStation>> Stations;
  for (int I = 0; I < Drivers; ++I) {
    Stations.push_back(std::make_unique<TStation>());
    if (I < Silent)
      Stations.back()->Emu->setSilent(true);
    App->Watched.insert(Stations.back()->Drv.get());
  }
  App->Blocked = {};
  App->Ticks = 0;
  double Wall = 0;
  for (auto _ : State) {
    QElapsedTimer T;
    T.start();
    DelayMs(3000);
    Wall = T.nsecsElapsed() / 1e6;
  }
  const double BlockedMs = std::chrono::duration<double, std::milli>(App->Blocked).count();
  State.counters["blocked_share"] = BlockedMs / Wall;
  State.counters["polls_per_driver_per_s"] = App->Ticks / double(Drivers) / (Wall / 1000);
  for (auto &S : Stations)
    App->Watched.erase(S->Drv.get());
}
BENCHMARK(BM_BlockedShare)
    ->ArgNames({"drivers", "silent"})
    ->Args({1, 0})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  TTimingApp Application(argc, argv);
  App = &Application;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
