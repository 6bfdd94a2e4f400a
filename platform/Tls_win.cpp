#include "platform/Tls.h"

namespace platform {

// Schannel is not wired in yet: a script that asks for TLS gets a clear
// failure instead of clear text.
std::unique_ptr<TlsSession> TlsSession::Create(socket_t, const std::string &, const TlsSettings &,
                                               const TlsSession *, std::string &error) {
  error = "TLS is not available in this build";
  return nullptr;
}

} // namespace platform
