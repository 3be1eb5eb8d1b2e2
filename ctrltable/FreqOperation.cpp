#include "ctrltable/FreqOperation.h"

#include <climits>

#include "rotator/Gs232.h" // SplitCommandList
#include "settings/ValueText.h"

#include <cstdint>

namespace {

// The longest command handed to a rotator from one item.
constexpr qsizetype MaxCommandLength = 128;

// The rotator index (0-based) an item addresses, or -1 when it does not
// start with the rotator prefix.
int AddressedIndex(const QString &Item) {
  if (Item.size() < 3 || (Item[0] != u'C' && Item[0] != u'c') || Item[1] < u'1' ||
      Item[1] > u'9' || Item[2] != u':')
    return -1;
  return Item[1].unicode() - u'1';
}

} // namespace

TFreqOperation::TFreqOperation(TLinks Links) : FLinks(std::move(Links)) {}

void TFreqOperation::AutoOperation(int AAz, double AFreq) {
  if (!FLinks.CtrlTableEnable || !*FLinks.CtrlTableEnable || !FLinks.CtrlTable)
    return;
  const TCtrlRow *Row = FLinks.CtrlTable->FindFrequency(AFreq);
  if (!Row)
    return;
  // Copied: the lists below may let other work replace the table.
  const int64_t N = int64_t(Row->Rotator.value_or(0)) - 1;
  const int Offset = Row->Offset.value_or(0);
  const QString C1 = Row->Command1.value_or(QString());
  const QString C2 = Row->Command2.value_or(QString());

  if (N < -1 || N >= FLinks.RotatorCount())
    return;
  // Rotator 0 names no rotator: nothing turns, and the lists run.
  if (N >= 0) {
    const int Index = static_cast<int>(N);
    if (!FLinks.RotatorEnabled(Index))
      return;
    if (FLinks.ShowPreset)
      FLinks.ShowPreset(Index, AAz);
    if (!FLinks.Turn(Index, AAz, Offset))
      return;
  }
  RunCommands(FBeforeCommand2, C2);
  RunCommands(C1, FBeforeCommand1);
  FBeforeCommand1 = C1;
  FBeforeCommand2 = C2;
}

std::optional<int> TFreqOperation::FollowFrequency(double AFreq) {
  if (!FLinks.CtrlTableEnable || !*FLinks.CtrlTableEnable || !FLinks.CtrlTable)
    return std::nullopt;
  const TCtrlRow *Row = FLinks.CtrlTable->FindFrequency(AFreq);
  if (!Row)
    return std::nullopt;
  const std::pair<double, double> Bounds{Row->LowerFreq.value_or(0), Row->UpperFreq.value_or(0)};
  if (FFollowedRow == Bounds)
    return std::nullopt;
  FFollowedRow = Bounds;
  // Copied: the lists below may let other work replace the table.
  const int64_t Number = int64_t(Row->Rotator.value_or(0)) - 1;
  const int Index = Number < -1 || Number > INT_MAX ? -1 : static_cast<int>(Number);
  const QString C1 = Row->Command1.value_or(QString());
  const QString C2 = Row->Command2.value_or(QString());
  RunCommands(FBeforeCommand2, C2);
  RunCommands(C1, FBeforeCommand1);
  FBeforeCommand1 = C1;
  FBeforeCommand2 = C2;
  return Index;
}

void TFreqOperation::RunDefaultCommands(bool AtStart) {
  if (!FLinks.CtrlTableEnable || !*FLinks.CtrlTableEnable || !FLinks.CtrlTable)
    return;
  const TCtrlRow *Row = FLinks.CtrlTable->DefaultRow();
  if (!Row)
    return;
  const QString Commands = (AtStart ? Row->Command1 : Row->Command2).value_or(QString());
  RunCommands(Commands, QString());
}

void TFreqOperation::RunCommands(const QString &Commands, const QString &Previous) {
  if (Commands.isEmpty() || Commands == Previous)
    return;
  const QStringList Items = SplitItems(ExpandCommand(Commands));
  for (const QString &Item : Items) {
    // The rotators may change while an earlier item waits, so each item
    // looks its rotator up afresh.
    const int Index = AddressedIndex(Item);
    if (Index < 0 || Index >= FLinks.RotatorCount())
      continue;
    FLinks.Send(Index, Item.mid(3, MaxCommandLength));
  }
}

QString TFreqOperation::ExpandCommand(const QString &Text) {
  static const QString CharToken = QStringLiteral("CHAR(");
  QString Result;
  const qsizetype N = Text.size();
  qsizetype P = 0;
  while (P < N) {
    const qsizetype Quote = Text.indexOf(u'\'', P);
    const qsizetype Char = Text.indexOf(CharToken, P, Qt::CaseInsensitive);
    if (Quote < 0 && Char < 0) {
      Result += QStringView(Text).mid(P);
      break;
    }
    if (Quote >= 0 && (Char < 0 || Quote < Char)) {
      Result += QStringView(Text).mid(P, Quote - P);
      const qsizetype Close = Text.indexOf(u'\'', Quote + 1);
      if (Close < 0) {
        Result += QStringView(Text).mid(Quote);
        break;
      }
      Result += QStringView(Text).mid(Quote + 1, Close - Quote - 1);
      P = Close + 1;
    } else {
      Result += QStringView(Text).mid(P, Char - P);
      const qsizetype Open = Char + CharToken.size();
      const qsizetype Close = Text.indexOf(u')', Open);
      if (Close < 0) {
        Result += QStringView(Text).mid(Char);
        break;
      }
      try {
        const uint32_t Code = static_cast<uint32_t>(TextToInteger(Text.mid(Open, Close - Open)));
        Result += QChar(static_cast<char16_t>(Code & 0xFFFF));
      } catch (const TConvertError &) {
        // An unreadable code gives no character.
      }
      P = Close + 1;
    }
  }
  return Result;
}

QStringList TFreqOperation::SplitItems(const QString &Text) {
  // The same item syntax as a driver's command list, except that a NUL (a
  // CHAR(0) of the table) is one more blank rather than the end of the text.
  QString Blanked = Text;
  Blanked.replace(QChar(0), QLatin1Char(' '));
  return SplitCommandList(Blanked);
}
