#pragma once
// The events a socket's notifications carry, with WinSock's numbers.

namespace platform {

enum : int {
  FD_READ = 1,
  FD_WRITE = 2,
  FD_OOB = 4,
  FD_ACCEPT = 8,
  FD_CONNECT = 16,
  FD_CLOSE = 32,
};

} // namespace platform
