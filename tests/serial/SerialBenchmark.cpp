// One poll exchange with the controller emulator: "C" + CR out, the whole
// position reply in, read with RecvStr(11) (which ends 100 ms after the last
// byte) and with RecvLine(11) (which ends at the line end).

#include "serial/CPortX.h"
#include "PortReads.h"
#include "tools/Gs232Emulator.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

void Exchange(benchmark::State &State, bool ByLine) {
  Gs232Emulator Emulator;
  if (!Emulator.start()) {
    State.SkipWithError("the emulator did not start");
    return;
  }
  TCPortX Port;
  Port.SetPort(Emulator.devicePath());
  Port.SetDelimiter(QString());
  QString Failure;
  Port.OnException = [&](QObject *, TComExceptions, const QString &Message, int64_t,
                         const QString &) { Failure = Message; };
  Port.Open();
  if (!Port.Connected()) {
    State.SkipWithError(qPrintable(QStringLiteral("open failed: ") + Failure));
    return;
  }
  const QString Expected = QStringLiteral("+0000\r\n");
  for (auto _ : State) {
    Port.SendStr(QStringLiteral("C\r"));
    const QString Reply = ByLine ? RecvLine(Port, 11) : RecvStr(Port, 11);
    if (Reply != Expected || !Failure.isEmpty()) {
      State.SkipWithError("unexpected reply");
      break;
    }
  }
  Emulator.takeCommands();
  Port.Close();
}

} // namespace

BENCHMARK_CAPTURE(Exchange, RecvStr, false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Exchange, RecvLine, true)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  QCoreApplication App(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
