// The web interface's reading of what a client sends: a request line's path,
// a body, a Host, Origin or Cookie header. Whatever comes, a route to a
// rotator names an index from 0 up, a body is an object or an error with a
// 4xx status, the readers of an object give values of the kinds they
// promise, and a session token never carries a cookie separator.

#include "FuzzSupport.h"

#include "remote/WebApi.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const QByteArray Input = Bytes(Data, Size);

  for (const QByteArray &Method : {QByteArray("GET"), QByteArray("POST")}) {
    const TWebRequestTarget Target = WebRoute(Method, QString::fromUtf8(Input));
    const bool RotatorRoute = Target.Route == TWebRoute::Rotator ||
                              Target.Route == TWebRoute::Target ||
                              Target.Route == TWebRoute::Stop || Target.Route == TWebRoute::Turn ||
                              Target.Route == TWebRoute::Home || Target.Route == TWebRoute::TurnTo;
    FUZZ_CHECK(!RotatorRoute || Target.Index >= 0, "a rotator route names an index from 0 up");
  }

  const auto Parsed = WebJsonObject(Input);
  if (const auto *Error = std::get_if<TWebError>(&Parsed)) {
    FUZZ_CHECK(Error->Status == 400 || Error->Status == 413, "a bad body is a 400 or a 413");
    FUZZ_CHECK(!Error->Text.isEmpty(), "an error says why");
  } else {
    FUZZ_CHECK(Input.size() <= WebMaxBody, "no body over the limit is read");
    const QJsonObject &Object = std::get<QJsonObject>(Parsed);
    const auto Aim = WebTargetOf(Object);
    if (const auto *Target = std::get_if<TWebTarget>(&Aim))
      FUZZ_CHECK(std::isfinite(Target->Azimuth), "an azimuth is a finite number");
    const auto Place = WebTurnToOf(Object);
    if (const auto *To = std::get_if<TWebTurnTo>(&Place))
      FUZZ_CHECK(!To->Place.trimmed().isEmpty() && To->Place == To->Place.trimmed(),
                 "a place is a trimmed, non-empty text");
    WebTurnOf(Object);
    WebPasswordOf(Object);
  }

  WebHostAllowed(Input, {QHostAddress(QHostAddress::LocalHost)});
  WebOriginAllowed(Input, Input, false);
  WebIsJson(Input);
  const QByteArray Token = WebSessionOf(Input);
  FUZZ_CHECK(!Token.contains(';'), "a session token holds no cookie separator");
  return 0;
}
