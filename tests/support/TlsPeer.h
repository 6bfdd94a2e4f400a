#pragma once
// The server's end of TLS on a connection a FakeServer step holds, for the
// faults only a TLS server can commit: an answer cut off without the TLS
// close, renegotiation, old protocol versions, a handshake that trickles.
// OpenSSL with a self-signed certificate made once per run (clients under
// test turn verification off). Every read and write gives up after a few
// seconds, so a test never hangs on it. POSIX only: under Wine the same
// faults come from tests/integration/peers/tls_faults.py.
#include "platform/Socket.h"

#include <string>
#include <string_view>

typedef struct ssl_st SSL;

class TlsPeer {
public:
  struct Options {
    // The newest version offered (TLS1_1_VERSION, ...); 0: any.
    int MaxVersion = 0;
    // Also the oldest: 0 takes what the security level allows.
    int MinVersion = 0;
    // OpenSSL's security level 0, for versions before TLS 1.2.
    bool Legacy = false;
  };

  // Runs the handshake on s; Ok() tells whether it succeeded.
  explicit TlsPeer(platform::socket_t s) : TlsPeer(s, Options{}) {}
  TlsPeer(platform::socket_t s, Options options);
  ~TlsPeer();
  TlsPeer(const TlsPeer &) = delete;
  TlsPeer &operator=(const TlsPeer &) = delete;

  bool Ok() const { return ok_; }
  // Reads up to the empty line that ends a request's header.
  bool ReadRequest();
  // One line without its CR LF; false when the session ends first.
  bool ReadLine(std::string &line);
  bool Write(std::string_view bytes);
  // Sends the TLS close (close_notify).
  void CloseNotify();
  // Asks the client to renegotiate (TLS 1.2) and takes its answer; true
  // when the client went along with it.
  bool Renegotiate();

private:
  SSL *ssl_ = nullptr;
  bool ok_ = false;
};
