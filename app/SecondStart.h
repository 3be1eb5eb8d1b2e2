#pragma once
// A second start of the program: instead of ending silently, it asks the
// running instance over the session bus to bring its window to the front,
// and says on standard output that Orbalt already runs.
//
// The running instance offers the interface "Orbalt.IProgram" on its
// automation object "/Orbalt" (bus name "Orbalt.Orbalt"):
//
//   Activate(s activationToken) -> (b hasWindow)
//
// With a window, the window is shown, taken out of its minimised state,
// raised and activated, and the call answers true; the token is the
// desktop's activation token of the second start (may be empty), which lets
// the desktop hand the window the focus. Without a window the call only
// answers false. A call does not make its caller a client of the automation
// object, so it never keeps a program started for a client running.
//
// Main thread only.

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QString>

#include <functional>

class QWidget;

// The interface's name on the bus.
inline const QString ProgramInterfaceName = QStringLiteral("Orbalt.IProgram");

class TProgramDBusAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "Orbalt.IProgram")
  Q_CLASSINFO("D-Bus Introspection",
              "  <interface name=\"Orbalt.IProgram\">\n"
              "    <method name=\"Activate\">\n"
              "      <arg name=\"activationToken\" type=\"s\" direction=\"in\"/>\n"
              "      <arg name=\"hasWindow\" type=\"b\" direction=\"out\"/>\n"
              "    </method>\n"
              "  </interface>\n")
public:
  // Attached to Object, the object registered on the bus, which owns it.
  // Window gives the program's window, or null when there is none; it is
  // asked on every call.
  TProgramDBusAdaptor(QObject *Object, std::function<QWidget *()> Window);

public slots:
  bool Activate(const QString &activationToken);

private:
  std::function<QWidget *()> FWindow;
};

// Shows Window, takes it out of the minimised state (keeping a maximised
// one maximised), raises and activates it. A non-empty ActivationToken is
// handed to the platform for the activation.
void BringToFront(QWidget *Window, const QString &ActivationToken = {});

// Asks the instance that owns the automation name on Bus to come to the
// front, waiting at most TimeoutMs for its answer. Returns the line for the
// operator: that Orbalt already runs, and whether its window was brought to
// the front.
QString BringRunningInstanceToFront(const QDBusConnection &Bus, int TimeoutMs = 10000);
