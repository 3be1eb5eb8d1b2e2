// The control table's data packet: any text is either refused with its error
// or read into a table that writes a packet which reads back as the same
// table, and writes the same packet again.

#include "FuzzSupport.h"

#include "ctrltable/CtrlTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  TCtrlTable Table;
  try {
    Table = TCtrlTable::FromXml(Bytes(Data, Size), QStringLiteral("fuzz"));
  } catch (const TCtrlTableError &) {
    return 0;
  }
  const QByteArray Written = Table.ToXml();
  TCtrlTable Again;
  try {
    Again = TCtrlTable::FromXml(Written, QStringLiteral("written"));
  } catch (const TCtrlTableError &E) {
    std::fprintf(stderr, "%s\n", E.what());
    FUZZ_CHECK(false, "a packet the table wrote reads again");
  }
  FUZZ_CHECK(Again == Table, "read, write, read gives the same table");
  FUZZ_CHECK(Again.ToXml() == Written, "the packet is written the same way twice");
  return 0;
}
