#include "platform/Tls.h"
#include "platform/TlsContextCache.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace platform {

namespace {

std::string OpenSslErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty())
      text += "; ";
    text += buffer;
  }
  return text;
}

// The socket BIO with sends that never raise SIGPIPE: a peer gone away is a
// failed write, not the end of a host that has not set the signal aside.
int SendWithoutSignal(BIO *bio, const char *data, int size) {
  BIO_clear_retry_flags(bio);
  const int fd = static_cast<int>(BIO_get_fd(bio, nullptr));
  const ssize_t n = ::send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
  if (n < 0 && BIO_sock_should_retry(-1))
    BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

// Made once and freed when the library is unloaded: a host that loads and
// unloads the library again and again leaks nothing.
class SocketMethodTable {
public:
  SocketMethodTable() : method_(BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE")) {
    const BIO_METHOD *socket = BIO_s_socket();
    BIO_meth_set_write(method_, SendWithoutSignal);
    BIO_meth_set_read(method_, BIO_meth_get_read(socket));
    BIO_meth_set_ctrl(method_, BIO_meth_get_ctrl(socket));
    BIO_meth_set_create(method_, BIO_meth_get_create(socket));
    BIO_meth_set_destroy(method_, BIO_meth_get_destroy(socket));
  }
  ~SocketMethodTable() { BIO_meth_free(method_); }
  SocketMethodTable(const SocketMethodTable &) = delete;
  SocketMethodTable &operator=(const SocketMethodTable &) = delete;
  const BIO_METHOD *Get() const { return method_; }

private:
  BIO_METHOD *method_;
};

const BIO_METHOD *SocketMethod() {
  static const SocketMethodTable table;
  return table.Get();
}

// The newest session of one server, shared by the control connection and
// the data connections that take it up: with TLS 1.3 a server hands out a
// ticket after each handshake, and some accept each ticket only once, so a
// data connection resumes with the latest one rather than the first.
struct SessionSlot {
  SSL_SESSION *Session = nullptr;
  ~SessionSlot() {
    if (Session)
      SSL_SESSION_free(Session);
  }
  void Keep(SSL_SESSION *session) {
    if (Session)
      SSL_SESSION_free(Session);
    Session = session;
  }
};

int SlotIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

int KeepNewSession(SSL *ssl, SSL_SESSION *session) {
  auto *slot = static_cast<SessionSlot *>(SSL_get_ex_data(ssl, SlotIndex()));
  if (!slot)
    return 0;
  slot->Keep(session);
  // The reference is the slot's now.
  return 1;
}

// Every certificate of every file in the folder: OpenSSL's own folder
// lookup finds only files named by subject hash (c_rehash), and a folder
// of company-ca.pem and the like would trust nothing. Files that hold no
// certificate are passed over; false when none was read.
bool LoadFolder(SSL_CTX *ctx, const std::string &folder) {
  X509_STORE *store = SSL_CTX_get_cert_store(ctx);
  std::error_code error;
  bool loaded = false;
  for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code ignored;
    if (entry.is_regular_file(ignored) && X509_STORE_load_file(store, entry.path().c_str()) == 1)
      loaded = true;
  }
  ERR_clear_error();
  return loaded;
}

// A new context for the settings, or null with error set.
SSL_CTX *MakeContext(const TlsSettings &settings, std::string &error) {
  SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) {
    error = OpenSslErrors();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // A server that renegotiates over and over moves bytes without sending
  // its answer, and each handshake restarts the wait for it.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  // FTP data connections take up the control connection's session.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, KeepNewSession);
  SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
  // Without read-ahead every record costs two reads of the socket (its
  // header, then its body); with it one read takes in whatever has come.
  SSL_CTX_set_read_ahead(ctx, 1);
  SSL_CTX_set_default_read_buffer_len(ctx, 64 * 1024);
  SSL_CTX_set_verify(ctx, settings.Verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (settings.Verify) {
    SSL_CTX_set_default_verify_paths(ctx);
    if (!settings.CaFile.empty()) {
      struct stat st{};
      const bool folder = ::stat(settings.CaFile.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      const bool ok = folder ? LoadFolder(ctx, settings.CaFile)
                             : SSL_CTX_load_verify_file(ctx, settings.CaFile.c_str()) == 1;
      if (!ok) {
        error = "cannot load the trusted certificates of \"" + settings.CaFile + "\": " +
                (folder ? std::string("no certificate could be read") : OpenSslErrors());
        SSL_CTX_free(ctx);
        return nullptr;
      }
    }
  }
  return ctx;
}

} // namespace

struct TlsContexts::State {
  TlsContextCache<SSL_CTX> Contexts;
};

TlsContexts::TlsContexts() : state_(std::make_unique<State>()) {}

TlsContexts::~TlsContexts() = default;

namespace {

std::shared_ptr<SSL_CTX> Context(const TlsSettings &settings, std::string &error) {
  return TlsContextCache<SSL_CTX>::For(
      settings, error, settings.Contexts ? &settings.Contexts->Kept().Contexts : nullptr,
      [](const TlsSettings &s, std::string &e) {
        SSL_CTX *made = MakeContext(s, e);
        return made ? std::shared_ptr<SSL_CTX>(made, SSL_CTX_free) : nullptr;
      });
}

class OpenSslSession final : public TlsSession {
public:
  OpenSslSession(SSL *ssl, std::shared_ptr<SessionSlot> slot) : ssl_(ssl), slot_(std::move(slot)) {
    SSL_set_ex_data(ssl_, SlotIndex(), slot_.get());
    if (slot_->Session)
      SSL_set_session(ssl_, slot_->Session);
    SSL_set_msg_callback(ssl_, NoteMessage);
    SSL_set_msg_callback_arg(ssl_, this);
  }
  ~OpenSslSession() override { SSL_free(ssl_); }

  TlsStatus Handshake() override { return Outcome(SSL_connect(ssl_)); }

  TlsStatus Read(void *buffer, std::size_t size, std::size_t &done) override {
    done = 0;
    return Outcome(SSL_read_ex(ssl_, buffer, size, &done) == 1 ? 1 : 0);
  }

  TlsStatus Write(const void *data, std::size_t size, std::size_t &done) override {
    done = 0;
    return Outcome(SSL_write_ex(ssl_, data, size, &done) == 1 ? 1 : 0);
  }

  void Shutdown() override {
    if (!failed_ && !shutdown_)
      SSL_shutdown(ssl_);
    shutdown_ = true;
    ERR_clear_error();
  }

  std::string Error() const override { return error_; }

  std::string Description() const override {
    return std::string(SSL_get_version(ssl_)) + " " + SSL_get_cipher_name(ssl_);
  }

  const std::shared_ptr<SessionSlot> &Slot() const { return slot_; }

private:
  // OpenSSL declines a renegotiation the server starts and goes on; the
  // session fails instead, as Schannel's must, so that the script learns why.
  static void NoteMessage(int sent, int, int type, const void *data, std::size_t size, SSL *,
                          void *session) {
    if (!sent && type == SSL3_RT_HANDSHAKE && size > 0 &&
        *static_cast<const unsigned char *>(data) == SSL3_MT_HELLO_REQUEST)
      static_cast<OpenSslSession *>(session)->renegotiationAsked_ = true;
  }

  TlsStatus Outcome(int result) {
    if (renegotiationAsked_) {
      ERR_clear_error();
      failed_ = true;
      error_ = "renegotiation refused (the server asked to renegotiate)";
      return TlsStatus::Failed;
    }
    if (result == 1)
      return TlsStatus::Done;
    // The end of the connection stays the answer to every later call.
    if (truncated_) {
      ERR_clear_error();
      return TlsStatus::Truncated;
    }
    const int code = SSL_get_error(ssl_, result);
    switch (code) {
    case SSL_ERROR_WANT_READ: return TlsStatus::WantRead;
    case SSL_ERROR_WANT_WRITE: return TlsStatus::WantWrite;
    case SSL_ERROR_ZERO_RETURN: return TlsStatus::Closed;
    default: break;
    }
    failed_ = true;
    // A system error with nothing queued, or the end of the stream where a
    // record was due: the connection ended without the peer's TLS close,
    // which is not the end of what it meant to send.
    const unsigned long queued = ERR_peek_error();
    if (code == SSL_ERROR_SYSCALL && queued == 0) {
      const int error = errno;
      error_ = error == ECONNRESET ? "the connection was reset"
               : error != 0        ? std::string("the connection failed: ") + std::strerror(error)
                                   : "the connection was closed";
      truncated_ = true;
      return TlsStatus::Truncated;
    }
    if (ERR_GET_LIB(queued) == ERR_LIB_SSL &&
        ERR_GET_REASON(queued) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      ERR_clear_error();
      error_ = "the connection was closed";
      truncated_ = true;
      return TlsStatus::Truncated;
    }
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      error_ = VerifyReason(verify) + " (" + X509_verify_cert_error_string(verify) + ")";
      ERR_clear_error();
    } else if (IsVersionRefusal(ERR_GET_REASON(queued))) {
      error_ = "protocol version refused, TLS 1.2 at least is required (" + OpenSslErrors() + ")";
    } else if (SSL_is_init_finished(ssl_)) {
      error_ = OpenSslErrors();
    } else {
      error_ = "handshake failure (" + OpenSslErrors() + ")";
    }
    return TlsStatus::Failed;
  }

  static bool IsVersionRefusal(int reason) {
    return reason == SSL_R_UNSUPPORTED_PROTOCOL || reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
           reason == SSL_R_WRONG_SSL_VERSION || reason == SSL_R_NO_PROTOCOLS_AVAILABLE;
  }

  static std::string VerifyReason(long verify) {
    switch (verify) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return "untrusted issuer";
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificate expired or not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "name mismatch";
    default: return "certificate refused";
    }
  }

  SSL *ssl_;
  std::shared_ptr<SessionSlot> slot_;
  bool failed_ = false;
  bool truncated_ = false;
  bool renegotiationAsked_ = false;
  bool shutdown_ = false;
  std::string error_;
};

} // namespace

std::unique_ptr<TlsSession> TlsSession::Create(socket_t s, const std::string &host,
                                               const TlsSettings &settings,
                                               const TlsSession *resume, std::string &error) {
  ERR_clear_error();
  const std::shared_ptr<SSL_CTX> ctx = Context(settings, error);
  if (!ctx)
    return nullptr;
  // The session holds a reference of its own to the context.
  SSL *ssl = SSL_new(ctx.get());
  BIO *bio = BIO_new(SocketMethod());
  if (!ssl || !bio) {
    error = OpenSslErrors();
    BIO_free(bio);
    SSL_free(ssl);
    return nullptr;
  }
  BIO_set_fd(bio, s, BIO_NOCLOSE);
  SSL_set_bio(ssl, bio, bio);
  auto session = std::make_unique<OpenSslSession>(
      ssl, resume ? static_cast<const OpenSslSession *>(resume)->Slot()
                  : std::make_shared<SessionSlot>());
  if (SocketAddress address; ParseAddress(host, address)) {
    // An address is checked against the certificate's addresses; SNI names
    // hosts only.
    if (settings.Verify)
      X509_VERIFY_PARAM_set1_ip(SSL_get0_param(ssl), address.Bytes.data(),
                                address.Family == SocketAddress::V6 ? 16 : 4);
  } else if (!host.empty()) {
    SSL_set_tlsext_host_name(ssl, host.c_str());
    if (settings.Verify)
      SSL_set1_host(ssl, host.c_str());
  }
  return session;
}

} // namespace platform
