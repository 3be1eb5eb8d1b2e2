// Opens the port named on the command line, prints "open" (or "failed") and
// holds the port until its standard input ends.

#include "serial/CPortX.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv) {
  QCoreApplication App(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
    return 2;
  }
  TCPortX Port;
  Port.SetPort(QString::fromLocal8Bit(argv[1]));
  Port.OnException = [](QObject *, TComExceptions, const QString &Message, int64_t,
                        const QString &) { std::fprintf(stderr, "%s\n", qPrintable(Message)); };
  Port.Open();
  if (!Port.Connected()) {
    std::puts("failed");
    return 1;
  }
  std::puts("open");
  std::fflush(stdout);
  std::string Line;
  std::getline(std::cin, Line);
  Port.Close();
  return 0;
}
