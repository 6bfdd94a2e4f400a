#include "platform/Tls.h"
#include "platform/TlsContextCache.h"

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace platform {

namespace {

SOCKET Native(socket_t s) { return static_cast<SOCKET>(static_cast<unsigned>(s)); }

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

std::string SystemText(unsigned long code) {
  char *text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string result = n && text ? std::string(text, n) : std::string();
  LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
    result.pop_back();
  return result.empty() ? Hex(code) : result + " " + Hex(code);
}

// The certificates of a PEM file, or of every file in a folder, in a store
// of their own: the extra trust anchors a chain may end in.
HCERTSTORE LoadAnchors(const std::string &name, std::string &error) {
  std::vector<std::string> files;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((name + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          files.push_back(name + "\\" + found.cFileName);
      while (FindNextFileA(find, &found));
      FindClose(find);
    }
  } else {
    files.push_back(name);
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (!store) {
    error = SystemText(GetLastError());
    return nullptr;
  }
  int added = 0;
  for (const std::string &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string pem = text.str();
    static constexpr std::string_view begin = "-----BEGIN CERTIFICATE-----";
    static constexpr std::string_view end = "-----END CERTIFICATE-----";
    for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at + 1)) {
      const std::size_t stop = pem.find(end, at);
      if (stop == std::string::npos)
        break;
      const std::string block = pem.substr(at, stop + end.size() - at);
      DWORD size = 0;
      if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        continue;
      std::vector<BYTE> der(size);
      if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                               CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
          CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                           CERT_STORE_ADD_USE_EXISTING, nullptr))
        ++added;
    }
  }
  if (added == 0) {
    CertCloseStore(store, 0);
    error = "no certificate could be read";
    return nullptr;
  }
  return store;
}

// A credentials handle per setting, kept while sessions use it: Schannel
// resumes a session only under the credentials and target name that made it,
// which is how FTP data connections take up the control connection's.
struct Credentials {
  CredHandle handle{};
  HCERTSTORE anchors = nullptr;
  ~Credentials() {
    FreeCredentialsHandle(&handle);
    if (anchors)
      CertCloseStore(anchors, 0);
  }
};

// New credentials for the settings, or null with error set.
std::shared_ptr<Credentials> MakeCredentials(const TlsSettings &settings, std::string &error) {
  auto made = std::make_shared<Credentials>();
  if (settings.Verify && !settings.CaFile.empty()) {
    made->anchors = LoadAnchors(settings.CaFile, error);
    if (!made->anchors) {
      error = "cannot load the trusted certificates of \"" + settings.CaFile + "\": " + error;
      return nullptr;
    }
  }
  SCHANNEL_CRED cred{};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  // The peer is checked here after the handshake, the same way with or
  // without extra anchors.
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
  TimeStamp expiry;
  SECURITY_STATUS status =
      AcquireCredentialsHandleA(nullptr, const_cast<char *>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                nullptr, &cred, nullptr, nullptr, &made->handle, &expiry);
  if (status != SEC_E_OK) {
    // Systems whose Schannel predates TLS 1.3.
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    status = AcquireCredentialsHandleA(nullptr, const_cast<char *>(UNISP_NAME_A),
                                       SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr, nullptr,
                                       &made->handle, &expiry);
  }
  if (status != SEC_E_OK) {
    made->handle = {};
    error = "no TLS credentials: " + SystemText(static_cast<unsigned long>(status));
    return nullptr;
  }
  return made;
}

} // namespace

struct TlsContexts::State {
  TlsContextCache<Credentials> Kept;
};

TlsContexts::TlsContexts() : state_(std::make_unique<State>()) {}

TlsContexts::~TlsContexts() = default;

namespace {

std::shared_ptr<Credentials> CredentialsFor(const TlsSettings &settings, std::string &error) {
  return TlsContextCache<Credentials>::For(
      settings, error, settings.Contexts ? &settings.Contexts->Kept().Kept : nullptr,
      MakeCredentials);
}

bool LabelMatches(std::string pattern, std::string host) {
  auto lower = [](std::string &s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  };
  lower(pattern);
  lower(host);
  if (pattern.size() > 2 && pattern.compare(0, 2, "*.") == 0) {
    // A wildcard stands for exactly the leftmost label.
    const std::size_t dot = host.find('.');
    return dot != std::string::npos && dot > 0 && host.compare(dot, std::string::npos, pattern, 1) == 0;
  }
  return pattern == host;
}

// The host against the certificate's alternative names (addresses against
// its addresses), its common name only when it names no host at all.
bool NameMatches(PCCERT_CONTEXT cert, const std::string &host) {
  std::vector<BYTE> address;
  if (SocketAddress parsed; ParseAddress(host, parsed))
    address.assign(parsed.Bytes.begin(),
                   parsed.Bytes.begin() + (parsed.Family == SocketAddress::V6 ? 16 : 4));
  bool namesHosts = false;
  if (const CERT_EXTENSION *ext =
          CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                            cert->pCertInfo->rgExtension)) {
    CERT_ALT_NAME_INFO *names = nullptr;
    DWORD size = 0;
    if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData,
                            ext->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
      bool match = false;
      for (DWORD i = 0; i < names->cAltEntry && !match; ++i) {
        const CERT_ALT_NAME_ENTRY &entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
          namesHosts = true;
          char narrow[256] = {};
          WideCharToMultiByte(CP_UTF8, 0, entry.pwszDNSName, -1, narrow, sizeof narrow - 1,
                              nullptr, nullptr);
          match = address.empty() && LabelMatches(narrow, host);
        } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
          match = !address.empty() && entry.IPAddress.cbData == address.size() &&
                  std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
        }
      }
      LocalFree(names);
      if (match)
        return true;
    }
  }
  if (namesHosts || !address.empty())
    return false;
  char common[256] = {};
  CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char *>(szOID_COMMON_NAME), common,
                     sizeof common);
  return common[0] && LabelMatches(common, host);
}

// Why the peer's certificate is refused, empty when it is accepted: its chain
// against the system's store and the extra anchors, its dates, its name.
// Revocation is checked where the status can be had; not knowing it is no
// failure.
std::string CheckPeer(PCCERT_CONTEXT cert, const std::string &host, HCERTSTORE anchors) {
  HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  CertAddStoreToCollection(extra, cert->hCertStore, 0, 0);
  if (anchors)
    CertAddStoreToCollection(extra, anchors, 0, 0);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  LPSTR usage = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = &usage;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  const BOOL built = CertGetCertificateChain(
      nullptr, cert, nullptr, extra, &para,
      CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
      nullptr, &chain);
  CertCloseStore(extra, 0);
  if (!built || !chain)
    return "certificate refused (" + SystemText(GetLastError()) + ")";
  DWORD errors = chain->TrustStatus.dwErrorStatus;
  errors &= ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  const CERT_SIMPLE_CHAIN *simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
  const DWORD length = simple ? simple->cElement : 0;
  if ((errors & CERT_TRUST_IS_UNTRUSTED_ROOT) && anchors && length > 0) {
    const CERT_CONTEXT *root = simple->rgpElement[length - 1]->pCertContext;
    if (PCCERT_CONTEXT known = CertFindCertificateInStore(anchors, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, root, nullptr)) {
      CertFreeCertificateContext(known);
      errors &= ~CERT_TRUST_IS_UNTRUSTED_ROOT;
    }
  }
  CertFreeCertificateChain(chain);
  // The texts of the OpenSSL back end, so that a script sees the same
  // failure on every system.
  if (errors & CERT_TRUST_IS_PARTIAL_CHAIN)
    return "untrusted issuer (unable to get local issuer certificate)";
  if (errors & CERT_TRUST_IS_UNTRUSTED_ROOT)
    return length > 1 ? "untrusted issuer (self-signed certificate in certificate chain)"
                      : "untrusted issuer (self-signed certificate)";
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return CompareFileTime(&now, &cert->pCertInfo->NotBefore) < 0
               ? "certificate expired or not yet valid (certificate is not yet valid)"
               : "certificate expired or not yet valid (certificate has expired)";
  }
  if (errors & CERT_TRUST_IS_REVOKED)
    return "certificate refused (certificate revoked)";
  if (errors)
    return "certificate refused (chain status " + Hex(errors) + ")";
  if (SocketAddress address; !host.empty() && !NameMatches(cert, host))
    return ParseAddress(host, address) ? "name mismatch (IP address mismatch)"
                                       : "name mismatch (hostname mismatch)";
  return {};
}

class SchannelSession final : public TlsSession {
public:
  SchannelSession(socket_t s, std::string host, bool verify, std::shared_ptr<Credentials> creds)
      : socket_(Native(s)), host_(std::move(host)), verify_(verify), creds_(std::move(creds)) {}

  ~SchannelSession() override {
    if (haveContext_)
      DeleteSecurityContext(&context_);
  }

  TlsStatus Handshake() override {
    for (;;) {
      if (!FlushOutput())
        return TlsStatus::WantWrite;
      switch (state_) {
      case TState::Failed:
      case TState::Truncated: return TlsStatus::Failed;
      case TState::Established:
      case TState::Closed: return TlsStatus::Done;
      case TState::HandshakeWaits: {
        const TlsStatus more = Receive();
        if (more != TlsStatus::Done)
          return more;
        state_ = TState::Handshaking;
        break;
      }
      case TState::Handshaking: break;
      }
      Step();
    }
  }

  TlsStatus Read(void *buffer, std::size_t size, std::size_t &done) override {
    done = 0;
    for (;;) {
      if (state_ == TState::Truncated)
        return TlsStatus::Truncated;
      if (state_ == TState::Failed)
        return TlsStatus::Failed;
      if (!plain_.empty()) {
        done = std::min(size, plain_.size());
        std::memcpy(buffer, plain_.data(), done);
        plain_.erase(0, done);
        return TlsStatus::Done;
      }
      if (state_ == TState::Closed)
        return TlsStatus::Closed;
      if (state_ != TState::Established) {
        // New keys or tickets after the handshake (TLS 1.3) are taken in
        // before the next record.
        const TlsStatus status = Handshake();
        if (status != TlsStatus::Done)
          return status;
      }
      if (!in_.empty() && Decrypt())
        continue;
      // Decrypt failed, met the peer's close or a new handshake.
      if (state_ != TState::Established)
        continue;
      const TlsStatus more = Receive();
      if (more != TlsStatus::Done)
        return more;
    }
  }

  TlsStatus Write(const void *data, std::size_t size, std::size_t &done) override {
    done = 0;
    if (Ended())
      return TlsStatus::Failed;
    if (out_.empty()) {
      // One record at a time; it counts as written once it is all on its way.
      const std::size_t chunk = std::min<std::size_t>(size, sizes_.cbMaximumMessage);
      std::string record(sizes_.cbHeader + chunk + sizes_.cbTrailer, '\0');
      std::memcpy(record.data() + sizes_.cbHeader, data, chunk);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + chunk},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
      if (status != SEC_E_OK)
        return Fail(SystemText(static_cast<unsigned long>(status)));
      record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      out_ = std::move(record);
      pendingPlain_ = chunk;
    }
    if (!FlushOutput())
      return Ended() ? TlsStatus::Failed : TlsStatus::WantWrite;
    done = pendingPlain_;
    pendingPlain_ = 0;
    return TlsStatus::Done;
  }

  void Shutdown() override {
    if (!haveContext_ || shutdown_ || (state_ != TState::Established && state_ != TState::Closed))
      return;
    shutdown_ = true;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK)
      return;
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    unsigned long got = 0;
    TimeStamp expiry;
    InitializeSecurityContextA(&creds_->handle, &context_, nullptr, Requests, 0, 0, nullptr, 0,
                               &context_, &outDesc, &got, &expiry);
    if (out.pvBuffer) {
      // Whatever goes without waiting; the connection closes next anyway.
      ::send(socket_, static_cast<const char *>(out.pvBuffer), static_cast<int>(out.cbBuffer), 0);
      FreeContextBuffer(out.pvBuffer);
    }
  }

  std::string Error() const override { return error_; }

  std::string Description() const override {
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesA(const_cast<CtxtHandle *>(&context_), SECPKG_ATTR_CONNECTION_INFO,
                                &info) != SEC_E_OK)
      return "TLS";
    std::string text = (info.dwProtocol & SP_PROT_TLS1_3_CLIENT)   ? "TLSv1.3"
                       : (info.dwProtocol & SP_PROT_TLS1_2_CLIENT) ? "TLSv1.2"
                                                                   : "TLS " + Hex(info.dwProtocol);
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (QueryContextAttributesA(const_cast<CtxtHandle *>(&context_), SECPKG_ATTR_CIPHER_INFO,
                                &cipher) == SEC_E_OK) {
      char name[SZ_ALG_MAX_SIZE] = {};
      WideCharToMultiByte(CP_UTF8, 0, cipher.szCipherSuite, -1, name, sizeof name - 1, nullptr,
                          nullptr);
      if (name[0])
        return text + " " + name;
    }
    return text + " cipher " + Hex(info.aiCipher);
  }

private:
  // Where the session stands. Failed and Truncated are final; Closed (the
  // peer's TLS close) still hands out what was decrypted before it.
  enum class TState {
    // A step of the handshake is due with what has arrived.
    Handshaking,
    // The next step needs more of the peer's bytes first.
    HandshakeWaits,
    Established,
    Closed,
    // The connection ended without the peer's TLS close: what was to come
    // may be missing. The answer to every later call.
    Truncated,
    Failed,
  };

  bool Ended() const { return state_ == TState::Failed || state_ == TState::Truncated; }

  // The first failure's text stays.
  TlsStatus Fail(std::string why) {
    if (!Ended()) {
      error_ = std::move(why);
      state_ = TState::Failed;
    }
    return TlsStatus::Failed;
  }

  // One call of the handshake with what has arrived.
  void Step() {
    SecBuffer in[2] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    unsigned long got = 0;
    TimeStamp expiry;
    const bool first = !haveContext_;
    const SECURITY_STATUS status = InitializeSecurityContextA(
        &creds_->handle, first ? nullptr : &context_,
        host_.empty() ? nullptr : const_cast<char *>(host_.c_str()), Requests, 0, 0,
        first ? nullptr : &inDesc, 0, &context_, &outDesc, &got, &expiry);
    if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
      haveContext_ = true;
    if (out.pvBuffer) {
      out_.append(static_cast<const char *>(out.pvBuffer), out.cbBuffer);
      FreeContextBuffer(out.pvBuffer);
    }
    switch (status) {
    case SEC_E_INCOMPLETE_MESSAGE: state_ = TState::HandshakeWaits; return;
    case SEC_I_CONTINUE_NEEDED:
      // What the server sent beyond this step stays for the next one.
      KeepExtra(first ? SecBuffer{} : in[1]);
      state_ = in_.empty() ? TState::HandshakeWaits : TState::Handshaking;
      return;
    case SEC_E_OK:
      KeepExtra(first ? SecBuffer{} : in[1]);
      state_ = TState::Established;
      FinishHandshake();
      return;
    default:
      Fail((RefusesVersion(in_) ? "protocol version refused, TLS 1.2 at least is required ("
                                : "handshake failure (") +
           SystemText(static_cast<unsigned long>(status)) + ")");
    }
  }

  // Whether the server's answer to the hello, still in clear, chooses a
  // version before TLS 1.2 or refuses ours with a protocol_version alert:
  // Schannel's own codes for that differ from one system to the next.
  static bool RefusesVersion(const std::string &in) {
    const auto at = [&in](std::size_t i) { return static_cast<unsigned char>(in[i]); };
    if (in.size() >= 7 && at(0) == 21)
      return at(6) == 70;
    return in.size() >= 11 && at(0) == 22 && at(5) == 2 && (at(9) << 8 | at(10)) < 0x0303;
  }

  static constexpr unsigned long Requests = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                            ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                            ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                            ISC_REQ_MANUAL_CRED_VALIDATION;

  // Sends what is queued; false while some of it waits for the socket.
  bool FlushOutput() {
    while (!out_.empty()) {
      const int n = ::send(socket_, out_.data(), static_cast<int>(std::min<std::size_t>(out_.size(), 1 << 20)), 0);
      if (n == SOCKET_ERROR) {
        const int err = WSAGetLastError();
        if (err == WSAEWOULDBLOCK)
          return false;
        const std::string why = "the connection failed: " + SystemText(static_cast<unsigned long>(err));
        const bool established = state_ == TState::Established || state_ == TState::Closed;
        Fail(established ? why : "handshake failure (" + why + ")");
        out_.clear();
        return true;
      }
      out_.erase(0, static_cast<std::size_t>(n));
    }
    return true;
  }

  // More of the peer's bytes into in_: Done when some came.
  TlsStatus Receive() {
    char buffer[16384 + 512];
    const int n = ::recv(socket_, buffer, sizeof buffer, 0);
    if (n > 0) {
      in_.append(buffer, static_cast<std::size_t>(n));
      return TlsStatus::Done;
    }
    const int error = n == 0 ? 0 : WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
      return TlsStatus::WantRead;
    // An end without the peer's TLS close: what was to come may be missing.
    // It stays the answer to every later call.
    error_ = error == 0               ? "the connection was closed"
             : error == WSAECONNRESET ? "the connection was reset"
                                      : "the connection failed: " + SystemText(static_cast<unsigned long>(error));
    state_ = TState::Truncated;
    return TlsStatus::Truncated;
  }

  void KeepExtra(const SecBuffer &extra) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= in_.size())
      in_.erase(0, in_.size() - extra.cbBuffer);
    else
      in_.clear();
  }

  bool FinishHandshake() {
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
      Fail("handshake failure (no stream sizes)");
      return false;
    }
    if (checked_)
      return true;
    checked_ = true;
    SecPkgContext_ConnectionInfo info{};
    const bool known =
        QueryContextAttributesA(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK;
    tls13_ = known && (info.dwProtocol & SP_PROT_TLS1_3_CLIENT);
    if (known && !(info.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT))) {
      Fail("protocol version refused, TLS 1.2 at least is required (the server chose an older one)");
      return false;
    }
    if (!verify_)
      return true;
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
        !cert) {
      Fail("certificate refused (the server sent none)");
      return false;
    }
    const std::string why = CheckPeer(cert, host_, creds_->anchors);
    CertFreeCertificateContext(cert);
    if (!why.empty()) {
      Fail(why);
      return false;
    }
    return true;
  }

  // Decrypts the next record of in_ into plain_; false when in_ holds no
  // whole record (or the session ended or failed).
  bool Decrypt() {
    // TLS 1.2 shows an alert's record type in clear (21).
    const bool alert = !in_.empty() && static_cast<unsigned char>(in_[0]) == 21;
    SecBuffer buffers[4] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, in_.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
      return false;
    if (status == SEC_I_CONTEXT_EXPIRED) {
      state_ = TState::Closed;
      in_.clear();
      return false;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
      Fail(SystemText(static_cast<unsigned long>(status)));
      return false;
    }
    std::string extra;
    std::size_t decrypted = 0;
    for (const SecBuffer &b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
        plain_.append(static_cast<const char *>(b.pvBuffer), b.cbBuffer);
        decrypted += b.cbBuffer;
      } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
        extra.assign(static_cast<const char *>(b.pvBuffer), b.cbBuffer);
      }
    }
    if (status == SEC_E_OK && alert && decrypted == 0) {
      // The peer's close_notify taken as a record with no data, as Wine's
      // Schannel reports it (Windows says SEC_I_CONTEXT_EXPIRED): without
      // this a server that waits for our close_notify before it closes
      // (vsftpd after a listing or a download) is waited for until the
      // time-out.
      state_ = TState::Closed;
      in_.clear();
      return false;
    }
    in_ = std::move(extra);
    if (status == SEC_I_RENEGOTIATE) {
      // Under TLS 1.3 this brings new keys or tickets; before it, the
      // server wants a new handshake, which would restart the wait for
      // its answer as often as it likes.
      if (!tls13_) {
        Fail("renegotiation refused (the server asked to renegotiate)");
        return false;
      }
      state_ = in_.empty() ? TState::HandshakeWaits : TState::Handshaking;
    }
    return true;
  }

  SOCKET socket_;
  std::string host_;
  bool verify_;
  std::shared_ptr<Credentials> creds_;
  CtxtHandle context_{};
  bool haveContext_ = false;
  TState state_ = TState::Handshaking;
  // The peer's certificate and version were checked (once, at the first
  // handshake's end).
  bool checked_ = false;
  bool tls13_ = false;
  // Our TLS close went.
  bool shutdown_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::string in_;    // received, not yet decrypted
  std::string plain_; // decrypted, not yet read
  std::string out_;   // to send: a handshake token or one record
  std::size_t pendingPlain_ = 0;
  std::string error_;
};

} // namespace

std::unique_ptr<TlsSession> TlsSession::Create(socket_t s, const std::string &host,
                                               const TlsSettings &settings, const TlsSession *,
                                               std::string &error) {
  // A resumed session needs nothing named: Schannel takes up the last session
  // of the same server under the same credentials by itself.
  std::shared_ptr<Credentials> creds = CredentialsFor(settings, error);
  if (!creds)
    return nullptr;
  return std::make_unique<SchannelSession>(s, host, settings.Verify, std::move(creds));
}

} // namespace platform
