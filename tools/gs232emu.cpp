// gs232emu: serves an emulated rotator controller on a pseudo-terminal until
// it is interrupted. The device path is printed on the first line of standard
// output, so scripts can read it; --link also makes a symbolic link to it.

#include "tools/Gs232Emulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

int fail(const QString &Message) {
  std::fprintf(stderr, "gs232emu: %s\n", qPrintable(Message));
  return 2;
}

// Control characters of a command shown as \xNN, so the log stays one line.
QByteArray printable(const QByteArray &Bytes) {
  QByteArray text;
  for (char c : Bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7f || c == '\\')
      text += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
    else
      text += c;
  }
  return text;
}

// Makes Link point to Target. A symbolic link left behind by an earlier run is
// replaced; any other file at that place is left alone.
bool makeLink(const QString &Link, const QString &Target, QString *Error) {
  const QByteArray link = QFile::encodeName(Link);
  const QFileInfo info(Link);
  if (info.isSymLink()) {
    if (::unlink(link.constData()) != 0) {
      *Error = QStringLiteral("cannot replace %1: %2")
                   .arg(Link, QString::fromLocal8Bit(std::strerror(errno)));
      return false;
    }
  } else if (info.exists()) {
    *Error = QStringLiteral("%1 exists and is not a symbolic link").arg(Link);
    return false;
  }
  if (::symlink(QFile::encodeName(Target).constData(), link.constData()) != 0) {
    *Error = QStringLiteral("cannot make %1: %2")
                 .arg(Link, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  return true;
}

// Removes Link if it still points to Target (another run may have taken it).
void removeLink(const QString &Link, const QString &Target) {
  if (QFileInfo(Link).symLinkTarget() == QFileInfo(Target).absoluteFilePath())
    ::unlink(QFile::encodeName(Link).constData());
}

} // namespace

int main(int argc, char **argv) {
  // The signals that end the program are taken by sigwait below; blocking them
  // first makes every thread started later inherit the mask.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("gs232emu"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Emulates a GS-232 rotator controller on a pseudo-terminal and prints the device\n"
      "path to open as the rotator's port. Runs until interrupted (Ctrl+C, SIGTERM).\n"
      "\n"
      "Commands end with CR (LF is ignored), in either letter case:\n"
      "  C, C2, B          position: +0aaa, +0aaa+0eee, +0eee (style B: AZ=aaa,\n"
      "                    AZ=aaa EL=eee, EL=eee), ended by the line end\n"
      "  R, L, A           turn clockwise, counter-clockwise, stop azimuth\n"
      "  U, D, E           turn up, down, stop elevation\n"
      "  S                 stop all\n"
      "  Maaa, Waaa eee    go to azimuth (and elevation)\n"
      "  X1..X4            rotation speed\n"
      "  P36, P45          travel limit 360 or 450 degrees\n"
      "  H                 help listing\n"
      "  H3, K0, I0, ZN, ZS  accepted\n"
      "  Y + digits        relay items, accepted without answer\n"
      "Commands without data answer a bare CR; unknown commands answer ?>."));
  parser.addHelpOption();
  const QCommandLineOption styleOpt(
      QStringLiteral("style"), QStringLiteral("Reply style: A for +0aaa (default), B for AZ=aaa."),
      QStringLiteral("A|B"), QStringLiteral("A"));
  const QCommandLineOption lineEndOpt(QStringLiteral("line-end"),
                                      QStringLiteral("End of reply lines: crlf (default) or cr."),
                                      QStringLiteral("crlf|cr"), QStringLiteral("crlf"));
  const QCommandLineOption noAckOpt(
      QStringLiteral("no-ack"),
      QStringLiteral("Do not answer commands without data with a bare CR."));
  const QCommandLineOption timeScaleOpt(
      QStringLiteral("time-scale"),
      QStringLiteral("Speeds up emulated time: 10 turns ten times as fast (default 1)."),
      QStringLiteral("factor"), QStringLiteral("1"));
  const QCommandLineOption speedOpt(
      QStringLiteral("speed"),
      QStringLiteral("Initial rotation speed, as set by X1..X4 (default 4)."),
      QStringLiteral("1-4"), QStringLiteral("4"));
  const QCommandLineOption azimuthOpt(
      QStringLiteral("azimuth"),
      QStringLiteral("Initial azimuth in degrees, 0 to 450 (default 0)."),
      QStringLiteral("degrees"), QStringLiteral("0"));
  const QCommandLineOption elevationOpt(
      QStringLiteral("elevation"),
      QStringLiteral("Initial elevation in degrees, 0 to 180 (default 0)."),
      QStringLiteral("degrees"), QStringLiteral("0"));
  const QCommandLineOption linkOpt(
      QStringLiteral("link"),
      QStringLiteral("Also make a symbolic link PATH to the device; it is "
                     "removed on exit."),
      QStringLiteral("PATH"));
  const QCommandLineOption delayOpt(QStringLiteral("delay"),
                                    QStringLiteral("Fault: wait this long before every answer."),
                                    QStringLiteral("ms"), QStringLiteral("0"));
  const QCommandLineOption silentOpt(QStringLiteral("silent"),
                                     QStringLiteral("Fault: never answer (commands still act)."));
  const QCommandLineOption garbageOpt(
      QStringLiteral("garbage"),
      QStringLiteral("Fault: answer C, C2 and B with TEXT as it stands."), QStringLiteral("TEXT"));
  const QCommandLineOption verboseOpt(
      {QStringLiteral("v"), QStringLiteral("verbose")},
      QStringLiteral("Print every command received, with its time."));
  parser.addOptions({styleOpt, lineEndOpt, noAckOpt, timeScaleOpt, speedOpt, azimuthOpt,
                     elevationOpt, linkOpt, delayOpt, silentOpt, garbageOpt, verboseOpt});
  parser.process(app);
  if (!parser.positionalArguments().isEmpty())
    return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

  Gs232Emulator::Options opts;
  const QString style = parser.value(styleOpt).toUpper();
  if (style != QLatin1String("A") && style != QLatin1String("B"))
    return fail(QStringLiteral("--style must be A or B"));
  opts.styleB = style == QLatin1String("B");
  const QString lineEnd = parser.value(lineEndOpt).toLower();
  if (lineEnd != QLatin1String("crlf") && lineEnd != QLatin1String("cr"))
    return fail(QStringLiteral("--line-end must be crlf or cr"));
  opts.crlf = lineEnd == QLatin1String("crlf");
  opts.ackCR = !parser.isSet(noAckOpt);

  bool ok = false;
  opts.timeScale = parser.value(timeScaleOpt).toDouble(&ok);
  if (!ok || !(opts.timeScale > 0))
    return fail(QStringLiteral("--time-scale must be a number above 0"));
  opts.speed = parser.value(speedOpt).toInt(&ok);
  if (!ok || opts.speed < 1 || opts.speed > 4)
    return fail(QStringLiteral("--speed must be 1 to 4"));
  opts.azimuth = parser.value(azimuthOpt).toDouble(&ok);
  if (!ok || opts.azimuth < 0 || opts.azimuth > 450)
    return fail(QStringLiteral("--azimuth must be 0 to 450"));
  opts.elevation = parser.value(elevationOpt).toDouble(&ok);
  if (!ok || opts.elevation < 0 || opts.elevation > 180)
    return fail(QStringLiteral("--elevation must be 0 to 180"));
  const int delayMs = parser.value(delayOpt).toInt(&ok);
  if (!ok || delayMs < 0)
    return fail(QStringLiteral("--delay must be 0 or more milliseconds"));

  Gs232Emulator emu(opts);
  emu.setSilent(parser.isSet(silentOpt));
  emu.setReplyDelay(std::chrono::milliseconds(delayMs));
  if (parser.isSet(garbageOpt))
    emu.setGarbage(parser.value(garbageOpt).toLocal8Bit());
  if (!emu.start()) {
    std::fprintf(stderr, "gs232emu: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  const QString device = emu.devicePath();
  const QString link = parser.value(linkOpt);
  if (!link.isEmpty()) {
    QString error;
    if (!makeLink(link, device, &error))
      return fail(error);
  }
  std::printf("%s\n", qPrintable(device));
  std::fflush(stdout);
  if (!link.isEmpty())
    std::fprintf(stderr, "gs232emu: %s -> %s\n", qPrintable(link), qPrintable(device));

  // Takes the log as it fills, so that it does not grow for as long as the
  // program runs, and prints it when asked to.
  const bool verbose = parser.isSet(verboseOpt);
  const auto started = Gs232Emulator::Clock::now();
  std::atomic<bool> quit = false;
  std::thread printer([&] {
    while (!quit) {
      if (!emu.waitForCommands(1, std::chrono::milliseconds(250)))
        continue;
      for (const auto &c : emu.takeCommands()) {
        if (!verbose)
          continue;
        const double t = std::chrono::duration<double>(c.at - started).count();
        std::printf("%10.3f  %s\n", t, printable(c.command).constData());
      }
      std::fflush(stdout);
    }
  });

  int signal = 0;
  sigwait(&endSignals, &signal);
  quit = true;
  printer.join();
  emu.stop();
  if (!link.isEmpty())
    removeLink(link, device);
  return 0;
}
