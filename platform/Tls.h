#pragma once
// TLS on a connected socket, behind one small interface with one back end per
// system: OpenSSL on Linux, Schannel on Windows. The peer is verified unless
// the settings say otherwise: its chain against the system's trust store (and
// any extra certificates named), its name against the host asked for (sent as
// SNI), TLS 1.2 at least.
//
// The socket is non-blocking: every call does what it can and says what it
// waits for; the caller waits on the socket and calls again.
#include "platform/Socket.h"

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class TlsContexts;

struct TlsSettings {
  // Off accepts any certificate, for test servers.
  bool Verify = true;
  // A PEM file, or a folder of them, trusted beside the system's store.
  std::string CaFile;
  // Where the contexts made for these settings are kept for the next
  // session; null: every session makes its own.
  std::shared_ptr<TlsContexts> Contexts;
};

// What every secured connection would otherwise make anew, kept for the
// next one: the OpenSSL context with its trust store loaded (Schannel: the
// credentials handle), one for each of the last few settings used. Loading
// a trust store costs more than a handshake. Sessions on any thread share
// it: a lock of its own guards it, and a context stays alive while a
// session made from it does, whatever is dropped meanwhile.
class TlsContexts {
public:
  TlsContexts();
  ~TlsContexts();
  TlsContexts(const TlsContexts &) = delete;
  TlsContexts &operator=(const TlsContexts &) = delete;

  // The back end's own.
  struct State;
  State &Kept() { return *state_; }

private:
  std::unique_ptr<State> state_;
};

enum class TlsStatus {
  Done,
  // Call again once the socket is readable (writable).
  WantRead,
  WantWrite,
  // The peer ended the session in order (its TLS close).
  Closed,
  // The connection ended (closed or reset) without the peer's TLS close:
  // whatever was to come may be missing. Error() says how it ended.
  Truncated,
  // Error() says why.
  Failed,
};

class TlsSession {
public:
  // A client session on the connected socket s for host (a name or an
  // address). resume: a session of the same server whose parameters the new
  // one takes up (FTP data connections). Null with error set when the
  // session cannot even be set up.
  static std::unique_ptr<TlsSession> Create(socket_t s, const std::string &host,
                                            const TlsSettings &settings, const TlsSession *resume,
                                            std::string &error);
  virtual ~TlsSession() = default;

  // The handshake and the verification of the peer.
  virtual TlsStatus Handshake() = 0;
  virtual TlsStatus Read(void *buffer, std::size_t size, std::size_t &done) = 0;
  virtual TlsStatus Write(const void *data, std::size_t size, std::size_t &done) = 0;
  // Tells the peer that the session ends; what it can without waiting.
  virtual void Shutdown() = 0;
  // Why the last call failed: "untrusted issuer", "certificate expired",
  // "name mismatch" or what the handshake ran into.
  virtual std::string Error() const = 0;
  // The protocol and cipher agreed, for traces ("TLSv1.3 TLS_AES_256_GCM_SHA384").
  virtual std::string Description() const = 0;
};

} // namespace platform
