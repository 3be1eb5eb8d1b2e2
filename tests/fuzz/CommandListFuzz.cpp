// Command lists as the operator and the control table give them: the table's
// expansion and item split, and the driver's item split. Checked: a text
// without tokens expands to itself, and a list made of plain items joined by
// commas splits back into those items.

#include "FuzzSupport.h"

#include "ctrltable/FreqOperation.h"
#include "rotator/Gs232.h"

namespace {

bool Blank(QChar C) { return C.unicode() <= 32; }

// An item that needs no quoting: no comma, blank, quote or NUL.
bool Plain(const QString &Item) {
  for (QChar C : Item)
    if (C == u',' || Blank(C) || C == u'"')
      return false;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QString Text = QString::fromUtf8(Bytes(Data, Size));

  const QString Expanded = TFreqOperation::ExpandCommand(Text);
  // Without a quote or CHAR( there is nothing to expand.
  if (!Text.contains(u'\'') && !Text.contains(QLatin1String("char("), Qt::CaseInsensitive))
    FUZZ_CHECK(Expanded == Text, "a text without tokens expands to itself");

  // Any text splits, whatever it holds.
  TFreqOperation::SplitItems(Expanded);
  SplitCommandList(Text);

  // Plain items joined by commas come back as they were, from both splitters
  // (the driver's upper-cases nothing at split time).
  QStringList Plains = Text.split(u',');
  Plains.removeIf([](const QString &Item) { return Item.isEmpty() || !Plain(Item); });
  if (!Plains.isEmpty()) {
    const QString Joined = Plains.join(u',');
    FUZZ_CHECK(TFreqOperation::SplitItems(Joined) == Plains, "table items split back");
    FUZZ_CHECK(SplitCommandList(Joined) == Plains, "driver items split back");
  }
  return 0;
}
