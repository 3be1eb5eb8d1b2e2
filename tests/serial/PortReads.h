#pragma once
// A read of the port as a caller that waits for its reply sees it: the read
// begins (BeginRecv) and the event loop runs until it has ended. The port
// itself never waits; only the tests and the benchmark wait here.

#include "serial/CPortX.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

// Up to Len characters by the port's rules (Line: ending at a line end too).
// Empty when the read could not begin or the port was destroyed meanwhile.
inline QString WaitRecv(TCPortX &Port, int Len, bool Line) {
  QEventLoop Loop;
  const QPointer<QEventLoop> Waiting(&Loop);
  const auto Got = std::make_shared<std::optional<QString>>();
  if (!Port.BeginRecv(Len, Line, [Got, Waiting](const QString &Text) {
        *Got = Text;
        if (Waiting)
          Waiting->quit();
      }))
    return {};
  QObject::connect(&Port, &QObject::destroyed, &Loop, &QEventLoop::quit);
  // Every read ends within its total bound (10 x Len + 100 ms); the limit
  // is generous for a loaded machine.
  QTimer::singleShot(10 * Len + 30000, &Loop, &QEventLoop::quit);
  Loop.exec();
  return Got->value_or(QString());
}

inline QString RecvStr(TCPortX &Port, int Len) { return WaitRecv(Port, Len, false); }
inline QString RecvLine(TCPortX &Port, int Len) { return WaitRecv(Port, Len, true); }
