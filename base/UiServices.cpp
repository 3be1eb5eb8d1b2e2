#include "base/UiServices.h"

#include <cstdio>

namespace {
TUiServices *Installed = nullptr;

void PrintLine(const QString &Text) {
  // One line per box: line breaks inside the text become blanks.
  QString Line = Text;
  Line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  Line.replace(u'\n', u' ');
  Line.replace(u'\r', u' ');
  std::fprintf(stderr, "%s\n", Line.toLocal8Bit().constData());
  std::fflush(stderr);
}
} // namespace

void TConsoleUiServices::ShowMessage(const QString &Text) { PrintLine(Text); }
void TConsoleUiServices::ShowError(const QString &Text) { PrintLine(Text); }
bool TConsoleUiServices::AskWarningYesNo(const QString &Caption, const QString &Text) {
  PrintLine(Caption + QStringLiteral(": ") + Text);
  return false;
}
void TConsoleUiServices::ShowException(const QString &Message) { PrintLine(Message); }
std::optional<QString> TConsoleUiServices::OpenFile(const QString &, const QString &,
                                                    const QString &) {
  return std::nullopt;
}
std::optional<QString> TConsoleUiServices::SaveFile(const QString &, const QString &,
                                                    const QString &) {
  return std::nullopt;
}

TUiServices &Ui() {
  static TConsoleUiServices Fallback;
  return Installed ? *Installed : Fallback;
}

void ShowMessage(const QString &Text, TMessageKind Kind) {
  if (Kind == mkError)
    Ui().ShowError(Text);
  else
    Ui().ShowMessage(Text);
}

TUiServices *SetUi(TUiServices *Services) {
  TUiServices *Previous = Installed;
  Installed = Services;
  return Previous;
}
