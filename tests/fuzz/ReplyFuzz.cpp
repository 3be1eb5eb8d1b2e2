// The controller's position reply: any line gives a reading (0 for what is
// not a number), and a well-formed reply of either style reads its digits.

#include "FuzzSupport.h"

#include "rotator/Gs232.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QString Reply = QString::fromLatin1(Bytes(Data, Size));
  int Az = -1;
  int El = -1;
  TGs232::ParseReply(Reply, Az, El);
  // Three characters at most make each reading (a sign may be one of them).
  FUZZ_CHECK(Az >= -99 && Az <= 999 && El >= -99 && El <= 999,
             "a reading is three characters at most, or 0");

  // The same digits in both styles read the same.
  if (Size >= 6) {
    const int A = (Data[0] * 256 + Data[1]) % 1000;
    const int E = (Data[2] * 256 + Data[3]) % 1000;
    const QString StyleA = QStringLiteral("+0%1+0%2").arg(A, 3, 10, QLatin1Char('0')).arg(E, 3, 10, QLatin1Char('0'));
    const QString StyleB = QStringLiteral("AZ=%1 EL=%2").arg(A, 3, 10, QLatin1Char('0')).arg(E, 3, 10, QLatin1Char('0'));
    for (const QString &Line : {StyleA, StyleB}) {
      int PA = -1, PE = -1;
      TGs232::ParseReply(Line + Reply.mid(6), PA, PE);
      FUZZ_CHECK(PA == A && PE == E, "a well-formed reply reads its digits, whatever follows");
    }
  }
  return 0;
}
