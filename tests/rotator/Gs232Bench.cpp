// Poll cost against emulated controllers:
//  - one poll exchange ("C" + CR to the parsed azimuth), median of many;
//    for comparison the same exchange read with the plain bounded read, which
//    waits for the line to stay quiet instead of ending at the reply's line end;
//  - the share of wall time the main thread spends in poll ticks with 1 and 4
//    open drivers, one of the 4 controllers silent (a tick only sends the
//    query: the reply is taken when it arrives);
//  - how late a 1 ms timer on the main thread fires while open drivers poll:
//    4 answering controllers, 3 answering and 1 silent, 4 answering at the
//    pace of a 9600-baud line, 16 answering, and no drivers at all for the
//    floor the event loop itself sets;
//  - the CPU time the program spends with 4 open drivers polling.
//
// Run the last two with: bench_rotator --benchmark_filter='EventLoop|IdlePolling'

#include "rotator/Gs232.h"
#include "tools/Gs232Emulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include <sys/resource.h>
#include <time.h>

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

// Runs the event loop until Ended holds, or for Ms milliseconds when there
// is no condition.
void RunLoop(const std::function<bool()> &Ended, int Ms = 30000) {
  QEventLoop Loop;
  QTimer Limit;
  Limit.setSingleShot(true);
  QObject::connect(&Limit, &QTimer::timeout, &Loop, &QEventLoop::quit);
  Limit.start(Ms);
  QTimer Look;
  QObject::connect(&Look, &QTimer::timeout, &Loop, [&] {
    if (Ended && Ended())
      Loop.quit();
  });
  if (Ended)
    Look.start(0);
  Loop.exec();
}

void PollOnce(TGs232 &Drv) {
  auto Done = std::make_shared<bool>(false);
  Drv.PollNow([Done] { *Done = true; });
  RunLoop([Done] { return *Done; });
}

QString Recv(TGs232 &Drv, int Len) {
  auto Reply = std::make_shared<std::optional<QString>>();
  Drv.BeginRecv(Len, [Reply](const QString &Text) { *Reply = Text; });
  RunLoop([Reply] { return Reply->has_value(); });
  return Reply->value_or(QString());
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
    PollOnce(*S.Drv);
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
    const QString Reply = Recv(*S.Drv, 11);
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
    RunLoop({}, 3000);
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

// --- Event-loop latency ------------------------------------------------------

constexpr auto LatencyWarmUp = std::chrono::milliseconds(1000);
constexpr auto LatencyWindow = std::chrono::milliseconds(4000);
constexpr auto LatencyTick = std::chrono::milliseconds(1);

// Runs the main thread's event loop for Duration.
void RunEventLoop(std::chrono::milliseconds Duration) {
  QEventLoop Loop;
  QTimer::singleShot(Duration, Qt::PreciseTimer, &Loop, &QEventLoop::quit);
  Loop.exec();
}

// User plus system CPU time of the whole process.
Clock::duration ProcessCpuTime() {
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  auto FromTimeval = [](const timeval &T) {
    return std::chrono::seconds(T.tv_sec) + std::chrono::microseconds(T.tv_usec);
  };
  return std::chrono::duration_cast<Clock::duration>(FromTimeval(Usage.ru_utime) +
                                                     FromTimeval(Usage.ru_stime));
}

// The value below which the given share of the sorted samples lies.
double Quantile(const std::vector<double> &Sorted, double Share) {
  if (Sorted.empty())
    return 0;
  const auto Index = static_cast<size_t>(std::ceil(Share * double(Sorted.size()))) - 1;
  return Sorted[std::min(Index, Sorted.size() - 1)];
}

// The reply delay, in whole milliseconds, that makes a poll exchange last as
// long as on a line of Baud: "C" CR out and "+0aaa" CR LF back, 10 bits a
// character. Zero for no delay.
std::chrono::milliseconds LineReplyDelay(int Baud) {
  if (Baud <= 0)
    return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(std::lround(9 * 10 * 1000.0 / Baud));
}

// Arguments: number of drivers, number of them on silent controllers, and the
// baud rate whose pace the controllers' replies keep (0: they answer at once).
//
// Every driver is open and polling. After a warm-up, a repeating 1 ms precise
// timer runs on the main thread for a fixed window and each firing records how
// late it came. Reported over the window:
//  - p50_ms, p99_ms, max_ms: lateness of the timer's firings;
//  - timer_fires_per_s: how often it fired (1000 when the loop keeps up);
//  - min_polls_per_s: the fewest position queries ("C") any answering
//    controller received per second;
//  - cpu_pct_incl_emulators: the process's user plus system CPU time as a
//    percentage of one core. The emulated controllers run on threads of this
//    process, so their work is included.
void BM_EventLoopLatency(benchmark::State &State) {
  const int Drivers = static_cast<int>(State.range(0));
  const int Silent = static_cast<int>(State.range(1));
  const auto ReplyDelay = LineReplyDelay(static_cast<int>(State.range(2)));

  std::vector<std::unique_ptr<TStation>> Stations;
  for (int I = 0; I < Drivers; ++I) {
    Stations.push_back(std::make_unique<TStation>());
    TStation &S = *Stations.back();
    if (!S.Drv->Active()) {
      State.SkipWithError("driver did not open");
      return;
    }
    if (I < Silent)
      S.Emu->setSilent(true);
    S.Emu->setReplyDelay(ReplyDelay);
  }

  std::vector<double> LateMs;
  LateMs.reserve(2 * static_cast<size_t>(LatencyWindow / LatencyTick));
  double WallMs = 0;
  Clock::duration Cpu{};
  std::vector<long> Polls(Stations.size(), 0);

  for (auto _ : State) {
    RunEventLoop(LatencyWarmUp);

    // The timer is due one interval after its previous due time. A firing
    // that comes later than the next due time does not fire again for the
    // intervals it missed: the next is then due one interval after that
    // firing.
    QTimer Tick;
    Tick.setTimerType(Qt::PreciseTimer);
    Tick.setInterval(LatencyTick);
    Clock::time_point Due;
    QObject::connect(&Tick, &QTimer::timeout, [&] {
      const auto Now = Clock::now();
      LateMs.push_back(std::chrono::duration<double, std::milli>(Now - Due).count());
      Due += LatencyTick;
      if (Due < Now)
        Due = Now + LatencyTick;
    });

    for (auto &S : Stations)
      S->Emu->clearLog();
    const auto CpuStart = ProcessCpuTime();
    const auto Start = Clock::now();
    Due = Start + LatencyTick;
    Tick.start();
    RunEventLoop(LatencyWindow);
    Tick.stop();
    const auto End = Clock::now();
    Cpu = ProcessCpuTime() - CpuStart;
    WallMs = std::chrono::duration<double, std::milli>(End - Start).count();

    for (size_t I = 0; I < Stations.size(); ++I)
      for (const auto &Command : Stations[I]->Emu->takeCommands())
        if (Command.command == "C" && Command.at >= Start && Command.at <= End)
          ++Polls[I];
    State.SetIterationTime(WallMs / 1000);
  }

  std::sort(LateMs.begin(), LateMs.end());
  State.counters["p50_ms"] = Quantile(LateMs, 0.50);
  State.counters["p99_ms"] = Quantile(LateMs, 0.99);
  State.counters["max_ms"] = LateMs.empty() ? 0 : LateMs.back();
  State.counters["timer_fires_per_s"] = LateMs.size() / (WallMs / 1000);
  if (Drivers > Silent) {
    long MinPolls = std::numeric_limits<long>::max();
    for (size_t I = Silent; I < Polls.size(); ++I)
      MinPolls = std::min(MinPolls, Polls[I]);
    State.counters["min_polls_per_s"] = MinPolls / (WallMs / 1000);
  }
  State.counters["cpu_pct_incl_emulators"] =
      std::chrono::duration<double, std::milli>(Cpu).count() / WallMs * 100;
  State.counters["reply_delay_ms"] = static_cast<double>(ReplyDelay.count());
}
BENCHMARK(BM_EventLoopLatency)
    ->ArgNames({"drivers", "silent", "baud"})
    ->Args({0, 0, 0})
    ->Args({4, 0, 0})
    ->Args({4, 1, 0})
    ->Args({4, 0, 9600})
    ->Args({16, 0, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The main thread's CPU time: the drivers and their ports run there, the
// emulated controllers on threads of their own.
Clock::duration MainThreadCpuTime() {
  timespec T{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(T.tv_sec) +
                                                     std::chrono::nanoseconds(T.tv_nsec));
}

// Argument: number of drivers. Every driver is open and polls its answering
// controller; nothing else runs. Reported over the window:
//  - cpu_pct_program: the main thread's CPU time as a percentage of one core,
//    which is what the program itself spends on polling;
//  - cpu_pct_incl_emulators: the whole process, emulated controllers included.
void BM_IdlePollingCpu(benchmark::State &State) {
  const int Drivers = static_cast<int>(State.range(0));
  std::vector<std::unique_ptr<TStation>> Stations;
  for (int I = 0; I < Drivers; ++I) {
    Stations.push_back(std::make_unique<TStation>());
    if (!Stations.back()->Drv->Active()) {
      State.SkipWithError("driver did not open");
      return;
    }
  }
  double WallMs = 0;
  Clock::duration Program{}, Process{};
  for (auto _ : State) {
    RunEventLoop(LatencyWarmUp);
    const auto ProgramStart = MainThreadCpuTime();
    const auto ProcessStart = ProcessCpuTime();
    const auto Start = Clock::now();
    RunEventLoop(LatencyWindow);
    WallMs = std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
    Program = MainThreadCpuTime() - ProgramStart;
    Process = ProcessCpuTime() - ProcessStart;
    State.SetIterationTime(WallMs / 1000);
  }
  State.counters["cpu_pct_program"] =
      std::chrono::duration<double, std::milli>(Program).count() / WallMs * 100;
  State.counters["cpu_pct_incl_emulators"] =
      std::chrono::duration<double, std::milli>(Process).count() / WallMs * 100;
}
BENCHMARK(BM_IdlePollingCpu)
    ->ArgName("drivers")
    ->Arg(4)
    ->Iterations(1)
    ->UseManualTime()
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
