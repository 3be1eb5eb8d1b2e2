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

TFreqOperation::TFreqOperation(TLinks Links)
    : FLinks(std::move(Links)), FAlive(std::make_shared<bool>(true)) {}

TFreqOperation::~TFreqOperation() = default;

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
  RunRowLists(C1, C2, {});
}

void TFreqOperation::RunRowLists(const QString &C1, const QString &C2, TDone Done) {
  // The row entered is remembered once both lists have run, so that an
  // operation that ran during their waits is followed by this one's row.
  RunCommands(FBeforeCommand2, C2, [this, Alive = std::weak_ptr<bool>(FAlive), C1, C2,
                                    Done = std::move(Done)] {
    if (Alive.expired())
      return;
    RunCommands(C1, FBeforeCommand1, [this, Alive, C1, C2, Done] {
      if (Alive.expired())
        return;
      FBeforeCommand1 = C1;
      FBeforeCommand2 = C2;
      if (Done)
        Done();
    });
  });
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
  RunRowLists(C1, C2, {});
  return Index;
}

void TFreqOperation::RunDefaultCommands(bool AtStart, TDone Done) {
  const TCtrlRow *Row = !FLinks.CtrlTableEnable || !*FLinks.CtrlTableEnable || !FLinks.CtrlTable
                            ? nullptr
                            : FLinks.CtrlTable->DefaultRow();
  if (!Row) {
    if (Done)
      Done();
    return;
  }
  const QString Commands = (AtStart ? Row->Command1 : Row->Command2).value_or(QString());
  RunCommands(Commands, QString(), std::move(Done));
}

void TFreqOperation::RunCommands(const QString &Commands, const QString &Previous, TDone Done) {
  if (Commands.isEmpty() || Commands == Previous) {
    if (Done)
      Done();
    return;
  }
  RunItems(std::make_shared<QStringList>(SplitItems(ExpandCommand(Commands))), 0,
           std::move(Done));
}

void TFreqOperation::RunItems(const std::shared_ptr<QStringList> &Items, qsizetype Next,
                              TDone Done) {
  for (; Next < Items->size(); ++Next) {
    const QString &Item = (*Items)[Next];
    // The rotators may change while an earlier item waits, so each item
    // looks its rotator up afresh.
    const int Index = AddressedIndex(Item);
    if (Index < 0 || Index >= FLinks.RotatorCount())
      continue;
    // The next item follows once this one has run, its waits included; an
    // item that ends at once goes on in this loop.
    auto Ended = std::make_shared<bool>(false);
    auto Waiting = std::make_shared<bool>(false);
    FLinks.Send(Index, Item.mid(3, MaxCommandLength),
                [this, Alive = std::weak_ptr<bool>(FAlive), Items, Next, Done, Ended, Waiting] {
                  *Ended = true;
                  if (*Waiting && !Alive.expired())
                    RunItems(Items, Next + 1, Done);
                });
    if (!*Ended) {
      *Waiting = true;
      return;
    }
  }
  if (Done)
    Done();
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
