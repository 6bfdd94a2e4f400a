#pragma once
// The time protocol client (RFC 868): the server sends the seconds since
// 1 January 1900 00:00 UTC as a four-byte big-endian number and closes.
#include "ip_misc/DateTime.h"
#include "tcpip/T_TcpIp.h"

enum t_timemode { tzUTC = 0, tzLocal = 1 };

class T_Time : public T_TcpIp {
public:
  static constexpr std::uint16_t DefaultPort = 37;

  T_Time();

  // Result of the last Action; 0 until one succeeds.
  TDateTime Time = 0;
  t_timemode TimeMode = tzUTC;

  // Asks Hostname:RemotePort for the time. Raises the ETcpIpError family
  // when the server cannot be reached and EProtocolError when it sends fewer
  // than four bytes; Time then keeps its earlier value.
  void Action() override;
};
