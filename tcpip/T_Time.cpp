#include "tcpip/T_Time.h"

#include "platform/Clock.h"

#include <cstdint>

T_Time::T_Time() {
  RemotePort = DefaultPort;
  // Four bytes are due at once; a time that comes much later is no use.
  TimeoutMs = 10000;
}

void T_Time::Action() {
  Login();
  unsigned char bytes[4];
  std::size_t got = 0;
  try {
    // The reply is the first four bytes, however they are split; anything
    // after them is not part of it.
    while (got < sizeof bytes) {
      const std::size_t n =
          Connection.Receive(reinterpret_cast<char *>(bytes) + got, sizeof bytes - got);
      if (n == 0)
        break;
      got += n;
    }
  } catch (...) {
    Logout();
    throw;
  }
  Logout();
  if (got < sizeof bytes)
    throw EProtocolError("TIME",
                         "Time server closed the connection after " + std::to_string(got) +
                             " of 4 bytes",
                         999);
  const std::uint32_t seconds = static_cast<std::uint32_t>(bytes[0]) << 24 |
                                static_cast<std::uint32_t>(bytes[1]) << 16 |
                                static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
  // Day 2 is 1 January 1900.
  Time = 2.0 + seconds / 86400.0;
  if (TimeMode == tzLocal)
    Time -= platform::TimeZoneBiasMinutes() / 1440.0;
}
