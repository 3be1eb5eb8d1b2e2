// The rotctld line protocol: any line is refused or parsed into a request
// whose reply, in whichever protocol the line chose, is well formed: it ends
// with a line end and its values never carry a raw line end of their own.

#include "FuzzSupport.h"

#include "remote/RotctldProtocol.h"

#include <algorithm>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // A line as the server hands it over: up to its line end, printable text
  // only (anything else ends the connection before it is parsed).
  QByteArray Line = Bytes(Data, Size);
  const qsizetype End = Line.indexOf('\n') >= 0 && (Line.indexOf('\r') < 0 || Line.indexOf('\n') < Line.indexOf('\r'))
                            ? Line.indexOf('\n')
                            : Line.indexOf('\r');
  if (End >= 0)
    Line.truncate(End);
  for (const char Byte : Line)
    if (!RotctldByteAllowed(Byte))
      return 0;
  if (Line.size() > RotctldMaxLineLength)
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
