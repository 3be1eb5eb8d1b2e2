// The UDP rotor messages: any datagram is refused with a reason or read into
// values in their ranges (azimuths 0 to 360, a named rotor, a frequency
// above zero), whichever of the two formats reads it.

#include "FuzzSupport.h"

#include "remote/RotorMessages.h"

#include <cmath>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray Datagram = Bytes(Data, Size);

  const auto Pst = ParsePstMessage(Datagram);
  if (const auto *Commands = std::get_if<std::vector<TPstCommand>>(&Pst)) {
    FUZZ_CHECK(!Commands->empty(), "a read message holds a command");
    FUZZ_CHECK(Datagram.size() <= MaxRotorDatagram, "a long datagram is refused");
    for (const TPstCommand &Command : *Commands) {
      if (Command.Kind == TPstCommand::Azimuth)
        FUZZ_CHECK(Command.Degrees >= 0 && Command.Degrees <= 360, "an azimuth is 0 to 360");
      if (Command.Kind == TPstCommand::Locator)
        FUZZ_CHECK(!Command.Text.isEmpty() && Command.Text.size() <= 16, "a locator is short");
    }
  } else {
    FUZZ_CHECK(!std::get<QString>(Pst).isEmpty(), "a refusal says why");
  }

  const auto N1mm = ParseN1mmMessage(Datagram);
  if (const auto *Message = std::get_if<TN1mmRotorMessage>(&N1mm)) {
    FUZZ_CHECK(Datagram.size() <= MaxRotorDatagram, "a long datagram is refused");
    FUZZ_CHECK(!Message->Rotor.isEmpty(), "a message names its rotor");
    FUZZ_CHECK(Message->Stop || Message->GoAzimuth || Message->FreqBandMHz,
               "a message asks for something");
    if (Message->GoAzimuth)
      FUZZ_CHECK(*Message->GoAzimuth >= 0 && *Message->GoAzimuth <= 360, "a heading is 0 to 360");
    if (Message->FreqBandMHz)
      FUZZ_CHECK(*Message->FreqBandMHz > 0 && std::isfinite(*Message->FreqBandMHz),
                 "a band is a frequency");
    FUZZ_CHECK(std::fabs(Message->Offset) <= 360, "an offset is at most a turn");
    const QByteArray Report = N1mmHeadingReport(Message->Rotor, Message->GoAzimuth.value_or(0));
    FUZZ_CHECK(Report.contains(" @ "), "a heading report has its separator");
  } else {
    FUZZ_CHECK(!std::get<QString>(N1mm).isEmpty(), "a refusal says why");
  }
  return 0;
}
