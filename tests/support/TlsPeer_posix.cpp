#include "support/TlsPeer.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

struct Identity {
  EVP_PKEY *Key = nullptr;
  X509 *Cert = nullptr;
  Identity() {
    Key = EVP_EC_gen("P-256");
    Cert = X509_new();
    X509_set_version(Cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(Cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(Cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(Cert), 86400);
    X509_set_pubkey(Cert, Key);
    X509_NAME *name = X509_get_subject_name(Cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("localhost"), -1, -1, 0);
    X509_set_issuer_name(Cert, name);
    X509_sign(Cert, Key, EVP_sha256());
  }
  ~Identity() {
    X509_free(Cert);
    EVP_PKEY_free(Key);
  }
};

const Identity &TheIdentity() {
  static const Identity identity;
  return identity;
}

} // namespace

TlsPeer::TlsPeer(platform::socket_t s, Options options) {
  const timeval limit{5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  // Each write leaves at once: held back for an acknowledgement, it would be
  // lost to a reset that follows.
  const int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx)
    return;
  if (options.Legacy) {
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
  }
  SSL_CTX_set_min_proto_version(ctx, options.MinVersion);
  SSL_CTX_set_max_proto_version(ctx, options.MaxVersion);
  SSL_CTX_use_certificate(ctx, TheIdentity().Cert);
  SSL_CTX_use_PrivateKey(ctx, TheIdentity().Key);
  ssl_ = SSL_new(ctx);
  SSL_CTX_free(ctx);
  SSL_set_fd(ssl_, s);
  ok_ = SSL_accept(ssl_) == 1;
  ERR_clear_error();
}

TlsPeer::~TlsPeer() {
  // No close_notify: the test says whether the session ends in order.
  if (ssl_)
    SSL_free(ssl_);
}

bool TlsPeer::ReadRequest() {
  std::string seen;
  char c;
  while (seen.size() < 4 || seen.compare(seen.size() - 4, 4, "\r\n\r\n") != 0) {
    if (SSL_read(ssl_, &c, 1) != 1)
      return false;
    seen += c;
  }
  return true;
}

bool TlsPeer::ReadLine(std::string &line) {
  line.clear();
  char c;
  while (SSL_read(ssl_, &c, 1) == 1) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      return true;
    }
    line += c;
  }
  return false;
}

bool TlsPeer::Write(std::string_view bytes) {
  std::size_t done = 0;
  return bytes.empty() || (SSL_write_ex(ssl_, bytes.data(), bytes.size(), &done) == 1 &&
                           done == bytes.size());
}

void TlsPeer::CloseNotify() { SSL_shutdown(ssl_); }

bool TlsPeer::Renegotiate() {
  if (SSL_renegotiate(ssl_) != 1 || SSL_do_handshake(ssl_) != 1)
    return false;
  // The client's answer comes in while reading. Nothing else is due, so a
  // read that runs out of time after a new handshake means the client went
  // along; one that refused has ended the session.
  const timeval pause{0, 300000};
  const int s = SSL_get_fd(ssl_);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &pause, sizeof pause);
  char c;
  const int n = SSL_read(ssl_, &c, 1);
  const bool agreed = n <= 0 && SSL_get_error(ssl_, n) != SSL_ERROR_SSL &&
                      SSL_get_error(ssl_, n) != SSL_ERROR_ZERO_RETURN &&
                      SSL_renegotiate_pending(ssl_) == 0;
  const timeval limit{5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ERR_clear_error();
  return agreed;
}
