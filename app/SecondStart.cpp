#include "app/SecondStart.h"

#include "remote/OrbaltDBus.h"

#include <QDBusMessage>
#include <QWidget>

#include <utility>

TProgramDBusAdaptor::TProgramDBusAdaptor(QObject *Object, std::function<QWidget *()> Window)
    : QDBusAbstractAdaptor(Object), FWindow(std::move(Window)) {}

bool TProgramDBusAdaptor::Activate(const QString &activationToken) {
  QWidget *Window = FWindow ? FWindow() : nullptr;
  if (!Window)
    return false;
  BringToFront(Window, activationToken);
  return true;
}

void BringToFront(QWidget *Window, const QString &ActivationToken) {
  // The platform takes the token of the start that asked from the
  // environment when the window is activated; without one the desktop may
  // only mark the window as wanting attention.
  if (!ActivationToken.isEmpty())
    qputenv("XDG_ACTIVATION_TOKEN", ActivationToken.toUtf8());
  Window->setWindowState((Window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  Window->show();
  Window->raise();
  Window->activateWindow();
}

QString BringRunningInstanceToFront(const QDBusConnection &Bus, int TimeoutMs) {
  QDBusMessage Call = QDBusMessage::createMethodCall(
      OrbaltServiceName, OrbaltObjectPath, ProgramInterfaceName, QStringLiteral("Activate"));
  Call.setArguments({qEnvironmentVariable("XDG_ACTIVATION_TOKEN")});
  // Never start a program through the bus for this: one runs already.
  Call.setAutoStartService(false);
  const QDBusMessage Reply =
      Bus.isConnected() ? Bus.call(Call, QDBus::Block, TimeoutMs) : QDBusMessage();
  if (Reply.type() == QDBusMessage::ReplyMessage && Reply.arguments().size() == 1) {
    if (Reply.arguments().constFirst().toBool())
      return QStringLiteral("Orbalt already runs: its window is brought to the front.");
    return QStringLiteral("Orbalt already runs, without a window.");
  }
  // No bus, or the running instance holds no name on it.
  return QStringLiteral("Orbalt already runs.");
}
