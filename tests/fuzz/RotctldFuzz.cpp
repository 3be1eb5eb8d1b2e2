// The rotctld line protocol: input taken as the server takes it (NUL bytes
// dropped, cut at the first line end) gives a line that is refused by itself
// or parsed into a request whose reply, in whichever protocol the line chose,
// is well formed: it ends with a line end and its values never carry a raw
// line end of their own.

#include "FuzzSupport.h"

#include "remote/RotctldProtocol.h"

#include <algorithm>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  QByteArray Input = Bytes(Data, Size);
  RotctldDropNul(Input);
  FUZZ_CHECK(!Input.contains('\0'), "no NUL byte is left");
  const qsizetype End = RotctldLineEnd(Input);
  const QByteArray Line = End < 0 ? Input : Input.left(End);
  FUZZ_CHECK(!Line.contains('\n') && !Line.contains('\r'), "a line stops at its first line end");
  FUZZ_CHECK(End < 0 || Input[End] == '\n' || Input[End] == '\r', "a line ends at a line end");
  // A line too long ends the connection; one with bytes other than printable
  // text is answered "RPRT -8" by itself. Neither is parsed.
  if (Line.size() > RotctldMaxLineLength || !RotctldLineAllowed(Line))
    return 0;
  const std::optional<TRotctldRequest> Request = ParseRotctldLine(Line);
  if (!Request)
    return 0;
  for (const QString &Arg : Request->Args)
    FUZZ_CHECK(!Arg.contains(u'\n') && !Arg.contains(u'\r'), "no argument holds a line end");

  // An error reply and a reply with values, as the server would send them.
  for (const TRotctldReply &Reply :
       {TRotctldReply::Error(-1), TRotctldReply{0, {{QStringLiteral("Azimuth"), QStringLiteral("135.000000")}}}}) {
    const QByteArray Out = FormatRotctldReply(*Request, Reply);
    FUZZ_CHECK(!Out.isEmpty() && Out.endsWith('\n'), "a reply ends with a line end");
  }
  // Numbers of the size the server writes back (angles): what parses formats
  // to a number that parses to the same value.
  for (const QString &Arg : Request->Args) {
    const std::optional<double> Value = ParseRotctldNumber(Arg);
    if (Value && std::abs(*Value) < 1e9) {
      const std::optional<double> Again = ParseRotctldNumber(FormatRotctldNumber(*Value));
      FUZZ_CHECK(Again.has_value(), "a formatted number parses");
      FUZZ_CHECK(std::abs(*Again - *Value) <= 1e-6 * std::max(1.0, std::abs(*Value)),
                 "a formatted number keeps its value");
    }
  }
  return 0;
}
