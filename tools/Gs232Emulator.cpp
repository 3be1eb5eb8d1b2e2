#include "tools/Gs232Emulator.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = Gs232Emulator::Clock;

constexpr double kMaxElevation = 180.0;
// A controller keeps at most this much output for a reader that does not read;
// the rest is lost, as it would be on a real line.
constexpr qsizetype kOutputCap = 64 * 1024;
// A command line longer than this is cut; its CR still ends it.
constexpr qsizetype kLineCap = 4096;

const char *const kHelpLines[] = {
    "GS-232 controller emulator",
    "R        turn clockwise",
    "L        turn counter-clockwise",
    "A        stop azimuth",
    "U        turn up",
    "D        turn down",
    "E        stop elevation",
    "S        stop all",
    "C        azimuth",
    "C2       azimuth and elevation",
    "B        elevation",
    "Maaa     go to azimuth aaa",
    "Waaa eee go to azimuth aaa and elevation eee",
    "X1..X4   rotation speed",
    "P36      360 degree mode",
    "P45      450 degree mode",
    "H        this help",
};

double secondsBetween(Clock::time_point From, Clock::time_point To) {
  return std::chrono::duration<double>(To - From).count();
}

bool allDigits(const QByteArray &Text) {
  return !Text.isEmpty() &&
         std::all_of(Text.begin(), Text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Three zero-padded digits of a position, in whole degrees.
QByteArray degrees(double Position) {
  // The small allowance keeps a position that was computed as 89.9999999 from
  // showing as 89 when it has really arrived at 90.
  const int whole = std::clamp(static_cast<int>(std::floor(Position + 1e-6)), 0, 999);
  return QByteArray::number(whole).rightJustified(3, '0');
}

// One axis moving at a constant rate. The position is computed from the time
// elapsed since the last change, so it is exact whenever it is read.
struct Axis {
  double from = 0.0;      // position at `since`
  Clock::time_point since;
  int dir = 0;            // -1, 0 or +1
  double end = 0.0;       // where the present movement stops
  bool turning = false;   // moving to a travel limit rather than to a target

  double at(Clock::time_point Now, double Rate) const {
    if (dir == 0)
      return from;
    const double p = from + dir * Rate * std::max(0.0, secondsBetween(since, Now));
    return dir > 0 ? std::min(p, end) : std::max(p, end);
  }
  bool movingAt(Clock::time_point Now, double Rate) const {
    return dir != 0 && at(Now, Rate) != end;
  }
  // Starts a new stretch at the present position; call before every change of
  // direction, target or rate.
  void rebase(Clock::time_point Now, double Rate) {
    from = at(Now, Rate);
    since = Now;
    if (dir != 0 && from == end)
      dir = 0;
  }
  void stop(Clock::time_point Now, double Rate) {
    rebase(Now, Rate);
    dir = 0;
  }
  void moveTo(Clock::time_point Now, double Rate, double Target) {
    rebase(Now, Rate);
    end = Target;
    dir = Target > from ? 1 : Target < from ? -1 : 0;
    turning = false;
  }
  // Turns towards Limit; does nothing when already at or beyond it.
  void turn(Clock::time_point Now, double Rate, int Dir, double Limit) {
    rebase(Now, Rate);
    end = Limit;
    dir = (Dir > 0 ? from < Limit : from > Limit) ? Dir : 0;
    turning = true;
  }
  void place(Clock::time_point Now, double Rate, double Position) {
    rebase(Now, Rate);
    from = Position;
    if (dir != 0 && turning)
      turn(Now, Rate, dir, end);
    else if (dir != 0)
      moveTo(Now, Rate, end);
  }
};

} // namespace

struct Gs232Emulator::Impl {
  struct Answer {
    Clock::time_point due;
    QByteArray bytes;
  };

  Options opts;

  mutable std::mutex mutex;
  mutable std::condition_variable logChanged;

  // Everything below is guarded by `mutex`.
  std::vector<Received> log;
  QByteArray raw;

  Axis az, el;
  int speed = 4;
  int maxAz = 360;

  bool silent = false;
  QByteArray garbage;
  std::chrono::milliseconds delay{0};

  int master = -1;
  int keptSlave = -1;
  int wakeRead = -1, wakeWrite = -1;
  QString path;
  std::thread thread;
  bool stopping = false;

  QByteArray line;           // the command being received
  QByteArray out;            // bytes ready to be written to the line
  std::deque<Answer> queued; // answers waiting for the reply delay

  double rate() const { return opts.speedDegPerSec[speed - 1] * opts.timeScale; }

  QByteArray lineEnd() const { return opts.crlf ? QByteArray("\r\n") : QByteArray("\r"); }

  void run();
  void receive(const char *Bytes, qsizetype Count, Clock::time_point At);
  // Carries out one command line; returns its answer (empty: none).
  QByteArray execute(const QByteArray &Line, Clock::time_point At);
  void answer(const QByteArray &Bytes, Clock::time_point At);
  void releaseDue(Clock::time_point Now);
  void appendOut(const QByteArray &Bytes);
  void flushOut();
  void wake() const;
  void closeAll();
};

void Gs232Emulator::Impl::wake() const {
  if (wakeWrite >= 0) {
    const char c = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    [[maybe_unused]] ssize_t n = ::write(wakeWrite, &c, 1);
  }
}

void Gs232Emulator::Impl::closeAll() {
  for (int *fd : {&master, &keptSlave, &wakeRead, &wakeWrite}) {
    if (*fd >= 0)
      ::close(*fd);
    *fd = -1;
  }
  line.clear();
  out.clear();
  queued.clear();
}

void Gs232Emulator::Impl::appendOut(const QByteArray &Bytes) {
  out.append(Bytes.left(std::max<qsizetype>(0, kOutputCap - out.size())));
}

void Gs232Emulator::Impl::flushOut() {
  while (master >= 0 && !out.isEmpty()) {
    const ssize_t n = ::write(master, out.constData(), static_cast<size_t>(out.size()));
    if (n > 0) {
      out.remove(0, n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // EAGAIN: the line is full and the thread retries when it drains. Any
      // other failure loses the output, as a broken line would.
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        out.clear();
      break;
    }
  }
}

void Gs232Emulator::Impl::answer(const QByteArray &Bytes, Clock::time_point At) {
  if (silent || Bytes.isEmpty())
    return;
  if (delay.count() <= 0 && queued.empty())
    appendOut(Bytes);
  else
    queued.push_back({At + delay, Bytes});
}

void Gs232Emulator::Impl::releaseDue(Clock::time_point Now) {
  // Answers leave in the order of their commands, each when it is due.
  while (!queued.empty() && queued.front().due <= Now) {
    appendOut(queued.front().bytes);
    queued.pop_front();
  }
}

QByteArray Gs232Emulator::Impl::execute(const QByteArray &Line, Clock::time_point At) {
  const QByteArray cmd = Line.toUpper();
  const QByteArray ack = opts.ackCR ? QByteArray("\r") : QByteArray();
  const QByteArray error = "?>" + lineEnd();
  const double r = rate();

  auto azText = [&] {
    return (opts.styleB ? "AZ=" : "+0") + degrees(az.at(At, r));
  };
  auto elText = [&] {
    return (opts.styleB ? "EL=" : "+0") + degrees(el.at(At, r));
  };
  auto data = [&](const QByteArray &Text) {
    return garbage.isEmpty() ? Text + lineEnd() : garbage;
  };

  // A bare CR is harmless on a real controller: acknowledged, nothing done.
  if (cmd.isEmpty())
    return ack;
  if (cmd == "C")
    return data(azText());
  if (cmd == "C2")
    return data(azText() + (opts.styleB ? " " : "") + elText());
  if (cmd == "B")
    return data(elText());
  if (cmd == "R" || cmd == "L") {
    az.turn(At, r, cmd == "R" ? 1 : -1, cmd == "R" ? maxAz : 0.0);
    return ack;
  }
  if (cmd == "U" || cmd == "D") {
    el.turn(At, r, cmd == "U" ? 1 : -1, cmd == "U" ? kMaxElevation : 0.0);
    return ack;
  }
  if (cmd == "A" || cmd == "E" || cmd == "S") {
    if (cmd != "E")
      az.stop(At, r);
    if (cmd != "A")
      el.stop(At, r);
    return ack;
  }
  if (cmd.size() == 4 && cmd[0] == 'M' && allDigits(cmd.mid(1))) {
    const int target = cmd.mid(1).toInt();
    if (target > maxAz)
      return error;
    az.moveTo(At, r, target);
    return ack;
  }
  if (cmd.size() == 8 && cmd[0] == 'W' && cmd[4] == ' ' && allDigits(cmd.mid(1, 3)) &&
      allDigits(cmd.mid(5))) {
    const int azTarget = cmd.mid(1, 3).toInt();
    const int elTarget = cmd.mid(5).toInt();
    if (azTarget > maxAz || elTarget > kMaxElevation)
      return error;
    az.moveTo(At, r, azTarget);
    el.moveTo(At, r, elTarget);
    return ack;
  }
  if (cmd.size() == 2 && cmd[0] == 'X' && cmd[1] >= '1' && cmd[1] <= '4') {
    // The stretch so far ran at the old speed.
    az.rebase(At, r);
    el.rebase(At, r);
    speed = cmd[1] - '0';
    return ack;
  }
  if (cmd == "P36" || cmd == "P45") {
    az.rebase(At, r);
    maxAz = cmd == "P36" ? 360 : 450;
    // A clockwise turn now ends at the new limit.
    if (az.dir > 0 && az.turning)
      az.turn(At, r, 1, maxAz);
    return ack;
  }
  if (cmd == "H") {
    QByteArray help;
    for (const char *l : kHelpLines)
      help += l + lineEnd();
    return help;
  }
  if (cmd == "H3" || cmd == "K0" || cmd == "I0" || cmd == "ZN" || cmd == "ZS")
    return ack;
  // Relay items are meant for the relay box on the same line; the controller
  // keeps quiet about them.
  if (cmd.size() >= 2 && cmd[0] == 'Y' && allDigits(cmd.mid(1)))
    return {};
  return error;
}

void Gs232Emulator::Impl::receive(const char *Bytes, qsizetype Count, Clock::time_point At) {
  raw.append(Bytes, Count);
  bool logged = false;
  for (qsizetype i = 0; i < Count; ++i) {
    const char c = Bytes[i];
    if (c == '\n')
      continue; // a terminal may end its lines with CR LF
    if (c != '\r') {
      if (line.size() < kLineCap)
        line.append(c);
      continue;
    }
    answer(execute(line, At), At);
    log.push_back({line, At});
    line.clear();
    logged = true;
  }
  releaseDue(At);
  flushOut();
  if (logged)
    logChanged.notify_all();
}

void Gs232Emulator::Impl::run() {
  char buf[4096];
  for (;;) {
    pollfd fds[2] = {{wakeRead, POLLIN, 0}, {master, POLLIN, 0}};
    int timeout = -1;
    {
      std::lock_guard lock(mutex);
      if (stopping)
        return;
      releaseDue(Clock::now());
      flushOut();
      if (!out.isEmpty())
        fds[1].events |= POLLOUT;
      if (!queued.empty()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(queued.front().due -
                                                                       Clock::now());
        timeout = static_cast<int>(std::clamp<qint64>(wait.count(), 0, 60000));
      }
    }
    if (::poll(fds, 2, timeout) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (fds[0].revents & POLLIN) {
      while (::read(wakeRead, buf, sizeof buf) > 0) {
      }
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        const auto at = Clock::now();
        if (n > 0) {
          std::lock_guard lock(mutex);
          receive(buf, n, at);
          continue;
        }
        if (n < 0 && errno == EINTR)
          continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
          break;
        // The line itself failed (it cannot hang up while the emulator keeps
        // its own slave open); stop serving rather than spin on the error.
        return;
      }
    }
    if (fds[1].revents & POLLNVAL)
      return;
  }
}

Gs232Emulator::Gs232Emulator() : Gs232Emulator(Options()) {}

Gs232Emulator::Gs232Emulator(const Options &Opts) : d(std::make_unique<Impl>()) {
  d->opts = Opts;
  d->opts.timeScale = Opts.timeScale > 0 ? Opts.timeScale : 1.0;
  d->speed = std::clamp(Opts.speed, 1, 4);
  const auto now = Clock::now();
  d->az.from = std::clamp(Opts.azimuth, 0.0, 450.0);
  d->az.since = now;
  d->el.from = std::clamp(Opts.elevation, 0.0, kMaxElevation);
  d->el.since = now;
}

Gs232Emulator::~Gs232Emulator() { stop(); }

bool Gs232Emulator::start() {
  std::lock_guard lock(d->mutex);
  if (d->thread.joinable())
    return true;

  auto fail = [this] {
    d->closeAll();
    d->path.clear();
    return false;
  };
  d->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (d->master < 0 || ::grantpt(d->master) != 0 || ::unlockpt(d->master) != 0)
    return fail();
  char name[256];
  if (::ptsname_r(d->master, name, sizeof name) != 0)
    return fail();
  ::fcntl(d->master, F_SETFL, ::fcntl(d->master, F_GETFL) | O_NONBLOCK);

  // Holding a slave open keeps the master from seeing a hang-up whenever the
  // program closes the device, so it can close and reopen it at will.
  d->keptSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (d->keptSlave < 0)
    return fail();
  // Raw: no echo, no CR/LF translation, no line editing.
  termios tio{};
  if (::tcgetattr(d->keptSlave, &tio) != 0)
    return fail();
  ::cfmakeraw(&tio);
  ::cfsetspeed(&tio, B9600);
  if (::tcsetattr(d->keptSlave, TCSANOW, &tio) != 0)
    return fail();

  int pipeFds[2];
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
    return fail();
  d->wakeRead = pipeFds[0];
  d->wakeWrite = pipeFds[1];

  d->path = QString::fromLocal8Bit(name);
  d->stopping = false;
  d->thread = std::thread([impl = d.get()] { impl->run(); });
  return true;
}

void Gs232Emulator::stop() {
  std::thread thread;
  {
    std::lock_guard lock(d->mutex);
    d->stopping = true;
    d->wake();
    thread = std::move(d->thread);
  }
  if (thread.joinable())
    thread.join();
  std::lock_guard lock(d->mutex);
  // Closing the master hangs the line up for whoever still has it open.
  d->closeAll();
}

void Gs232Emulator::hangUp() { stop(); }

QString Gs232Emulator::devicePath() const {
  std::lock_guard lock(d->mutex);
  return d->path;
}

std::vector<Gs232Emulator::Received> Gs232Emulator::commands() const {
  std::lock_guard lock(d->mutex);
  return d->log;
}

QByteArray Gs232Emulator::rawReceived() const {
  std::lock_guard lock(d->mutex);
  return d->raw;
}

void Gs232Emulator::clearLog() {
  std::lock_guard lock(d->mutex);
  d->log.clear();
  d->raw.clear();
}

std::vector<Gs232Emulator::Received> Gs232Emulator::takeCommands() {
  std::lock_guard lock(d->mutex);
  std::vector<Received> taken;
  taken.swap(d->log);
  d->raw.clear();
  return taken;
}

bool Gs232Emulator::waitForCommands(size_t Count, std::chrono::milliseconds Timeout) const {
  std::unique_lock lock(d->mutex);
  return d->logChanged.wait_for(lock, Timeout, [&] { return d->log.size() >= Count; });
}

double Gs232Emulator::azimuth() const {
  std::lock_guard lock(d->mutex);
  return d->az.at(Clock::now(), d->rate());
}

void Gs232Emulator::setAzimuth(double Degrees) {
  std::lock_guard lock(d->mutex);
  d->az.place(Clock::now(), d->rate(), std::clamp(Degrees, 0.0, 450.0));
}

double Gs232Emulator::elevation() const {
  std::lock_guard lock(d->mutex);
  return d->el.at(Clock::now(), d->rate());
}

void Gs232Emulator::setElevation(double Degrees) {
  std::lock_guard lock(d->mutex);
  d->el.place(Clock::now(), d->rate(), std::clamp(Degrees, 0.0, kMaxElevation));
}

int Gs232Emulator::speed() const {
  std::lock_guard lock(d->mutex);
  return d->speed;
}

int Gs232Emulator::maxAzimuth() const {
  std::lock_guard lock(d->mutex);
  return d->maxAz;
}

bool Gs232Emulator::moving() const {
  std::lock_guard lock(d->mutex);
  const auto now = Clock::now();
  return d->az.movingAt(now, d->rate()) || d->el.movingAt(now, d->rate());
}

void Gs232Emulator::sendRaw(const QByteArray &Bytes) {
  std::lock_guard lock(d->mutex);
  if (d->master < 0)
    return;
  d->appendOut(Bytes);
  d->flushOut();
  // What the line cannot take now goes out as soon as it drains.
  if (!d->out.isEmpty())
    d->wake();
}

void Gs232Emulator::setSilent(bool Silent) {
  std::lock_guard lock(d->mutex);
  d->silent = Silent;
}

void Gs232Emulator::setGarbage(const QByteArray &Reply) {
  std::lock_guard lock(d->mutex);
  d->garbage = Reply;
}

void Gs232Emulator::setReplyDelay(std::chrono::milliseconds Delay) {
  std::lock_guard lock(d->mutex);
  d->delay = std::max(Delay, std::chrono::milliseconds(0));
}
