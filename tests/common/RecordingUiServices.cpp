#include "common/RecordingUiServices.h"

void TRecordingUiServices::ShowMessage(const QString &Text) {
  entries.push_back({Entry::Message, {}, Text});
}
void TRecordingUiServices::ShowError(const QString &Text) {
  entries.push_back({Entry::Error, {}, Text});
}
bool TRecordingUiServices::AskWarningYesNo(const QString &Caption, const QString &Text) {
  entries.push_back({Entry::Warning, Caption, Text});
  if (warningAnswers.empty())
    return false;
  bool Answer = warningAnswers.front();
  warningAnswers.pop_front();
  return Answer;
}
void TRecordingUiServices::ShowException(const QString &Message) {
  entries.push_back({Entry::Exception, {}, Message});
}
std::optional<QString> TRecordingUiServices::OpenFile(const QString &Title, const QString &,
                                                      const QString &InitialFile) {
  entries.push_back({Entry::OpenDialog, Title, InitialFile});
  if (openAnswers.empty())
    return std::nullopt;
  auto Answer = openAnswers.front();
  openAnswers.pop_front();
  return Answer;
}
std::optional<QString> TRecordingUiServices::SaveFile(const QString &Filter, const QString &,
                                                      const QString &InitialDir) {
  entries.push_back({Entry::SaveDialog, Filter, InitialDir});
  if (saveAnswers.empty())
    return std::nullopt;
  auto Answer = saveAnswers.front();
  saveAnswers.pop_front();
  return Answer;
}

QStringList TRecordingUiServices::texts(Entry::Kind Kind) const {
  QStringList Result;
  for (const auto &E : entries)
    if (E.kind == Kind)
      Result << E.text;
  return Result;
}

QStringList TRecordingUiServices::shown() const {
  QStringList Result;
  for (const auto &E : entries)
    if (E.kind == Entry::Message || E.kind == Entry::Error || E.kind == Entry::Exception)
      Result << E.text;
  return Result;
}
