// Start-up with many rotators: the station loading the settings document, and
// the window started on it (the tabs inserted, the first page shown), for a
// document of N titled rotators and one of N untitled ones, which take the
// names of new rotators. The time per rotator should not grow with N.
//
// Run with: bench_app --benchmark_filter=Start

#include "app/Main.h"
#include "rotator/RotatorSettings.h"
#include "settings/SettingsDocument.h"
#include "station/Station.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// A settings document of Count rotator entries, titled or not.
QString WriteDocument(const QTemporaryDir &Dir, int Count, bool Titled) {
  const QString Path = Dir.filePath(QStringLiteral("orbalt.xml"));
  QByteArray Text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n<Rotators>\n";
  for (int I = 0; I < Count; ++I) {
    Text += "<Rotator_" + QByteArray::number(I) + ">";
    if (Titled)
      Text += "<Title Type=\"10\">Mast " + QByteArray::number(I) + "</Title>";
    Text += "<Port Type=\"10\">/dev/null-" + QByteArray::number(I) + "</Port>";
    Text += "</Rotator_" + QByteArray::number(I) + ">\n";
  }
  Text += "</Rotators>\n</root>\n";
  QFile File(Path);
  if (!File.open(QIODevice::WriteOnly) || File.write(Text) != Text.size())
    return {};
  return Path;
}

// The time per rotator beside the time per start.
void PerRotator(benchmark::State &State, int Count) {
  State.counters["us_per_rotator"] = benchmark::Counter(
      double(Count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void StationLoad(benchmark::State &State, bool Titled) {
  QTemporaryDir Dir;
  const int Count = static_cast<int>(State.range(0));
  const QString Path = WriteDocument(Dir, Count, Titled);
  for (auto _ : State) {
    TStation Station(Path);
    Station.Load();
    benchmark::DoNotOptimize(Station.RotatorCount());
  }
  PerRotator(State, Count);
}

void WindowStart(benchmark::State &State, bool Titled) {
  QTemporaryDir Dir;
  const int Count = static_cast<int>(State.range(0));
  const QString Path = WriteDocument(Dir, Count, Titled);
  for (auto _ : State) {
    TStation Station(Path);
    TMain Window(Station);
    Window.show();
    Window.StartStation();
    QCoreApplication::processEvents();
    benchmark::DoNotOptimize(Station.RotatorCount());
    State.PauseTiming();
    Window.close();
    State.ResumeTiming();
  }
  PerRotator(State, Count);
}

void BM_StationLoad_Titled(benchmark::State &State) { StationLoad(State, true); }
void BM_StationLoad_Untitled(benchmark::State &State) { StationLoad(State, false); }
void BM_WindowStart_Titled(benchmark::State &State) { WindowStart(State, true); }
void BM_WindowStart_Untitled(benchmark::State &State) { WindowStart(State, false); }

BENCHMARK(BM_StationLoad_Titled)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StationLoad_Untitled)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStart_Titled)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_WindowStart_Untitled)->Arg(250)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
