#include "commands/TimeFamily.h"

#include "commands/ServerOperand.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/DateTime.h"
#include "tcpip/T_Time.h"

#include <cmath>

void TimeFamily::Function(std::string &result) {
  T_Time &time = lib_.Time();
  switch (lib_.LookupNext(Functions)) {
  case FnTIME:
    SetHostAndPort(time, lib_.NextArgument(), T_Time::DefaultPort);
    time.Action();
    result = DateTimeToStr(time.Time);
    return;
  case FnOFFSET: {
    // Halves round to even, as the default rounding mode does.
    const double seconds = std::nearbyint((time.Time - Now()) * 86400.0);
    result = std::to_string(static_cast<long long>(seconds));
    return;
  }
  case FnBINARY: result = FloatToStr(time.Time); return;
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}
