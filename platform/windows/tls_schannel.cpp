// TLS client sessions with Schannel. The socket is switched to
// non-blocking mode for the session so that every wait is a select with a
// limit. Schannel only runs the protocol (told to leave the certificate
// alone); the server's certificate is checked here afterwards: the chain
// with the system's chain engine, then the name the way OpenSSL checks it,
// so that both builds accept and refuse the same certificates.
#include "platform/windows/win32.h"  // first: before any other system header

#include <winsock2.h>
#include <ws2tcpip.h>
#define SECURITY_WIN32
#include <security.h>
#include <subauth.h>  // UNICODE_STRING, for the newer credential form
#define SCHANNEL_USE_BLACKLISTS
#include <schannel.h>
#include <wincrypt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/log.h"
#include "platform/status.h"
#include "platform/tls.h"
#include "platform/windows/security_status.h"
#include "platform/windows/sspi_handles.h"
#include "platform/windows/unique_handle.h"

namespace platform {
namespace {

using windows::MakeUniqueFileHandle;
using windows::SspiContext;
using windows::SspiCredentials;
using windows::SspiTokenBuffer;
using windows::UniqueHandle;
using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// --- Handles ---------------------------------------------------------------

struct StoreCloser {
  void operator()(HCERTSTORE store) const { ::CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, StoreCloser>;

struct CertFree {
  void operator()(PCCERT_CONTEXT cert) const { ::CertFreeCertificateContext(cert); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertFree>;

struct ChainFree {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { ::CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

struct LocalFreer {
  void operator()(void* p) const { ::LocalFree(p); }
};

struct FindCloser {
  void operator()(HANDLE find) const { ::FindClose(find); }
};
using FindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

// --- Texts -----------------------------------------------------------------

std::string StatusText(SECURITY_STATUS status) { return windows::SecurityStatusText(status); }

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x100 ? static_cast<char>(*text) : '?');
  return out;
}

std::wstring Widen(std::string_view text) {
  std::wstring out;
  for (const char c : text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

// --- Socket waits ----------------------------------------------------------

int MsLeft(const Deadline& deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

[[noreturn]] void ThrowSocket(const char* what, int code) {
  throw StatusError(Status::FromSystem(code, what));
}

// Waits until `s` can be read (or written); false when the deadline passed.
bool WaitSocket(SOCKET s, bool forWrite, const Deadline& deadline) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  const int ms = MsLeft(deadline);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  const int rc =
      ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, ms < 0 ? nullptr : &limit);
  if (rc == SOCKET_ERROR) ThrowSocket("select", ::WSAGetLastError());
  return rc > 0;
}

// Writes every byte, waiting while the socket's buffer is full.
void SendBytes(SOCKET s, std::string_view bytes, const Deadline& deadline) {
  while (!bytes.empty()) {
    const int chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<int>(bytes.size());
    const int sent = ::send(s, bytes.data(), chunk, 0);
    if (sent != SOCKET_ERROR) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) ThrowSocket("send", error);
    if (!WaitSocket(s, true, deadline)) ThrowSocket("send", WSAETIMEDOUT);
  }
}

// Appends what one receive brings to `to`: the count, 0 when the peer
// closed, nullopt when the deadline passed first.
std::optional<std::size_t> ReceiveSome(SOCKET s, std::string& to, const Deadline& deadline) {
  char chunk[16384];
  for (;;) {
    const int got = ::recv(s, chunk, sizeof chunk, 0);
    if (got != SOCKET_ERROR) {
      to.append(chunk, static_cast<std::size_t>(got));
      return static_cast<std::size_t>(got);
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) ThrowSocket("recv", error);
    if (!WaitSocket(s, false, deadline)) return std::nullopt;
  }
}

// --- Trust -----------------------------------------------------------------

std::optional<std::wstring> Environment(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  value.resize(length);
  return value;
}

// The bytes of a file; nullopt when it is missing (logged when it exists
// but cannot be read).
std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  UniqueHandle file =
      MakeUniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  Status failure;
  if (file) {
    std::string bytes;
    char chunk[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
        failure = Status::LastError("read " + Narrow(path.c_str()));
        break;
      }
      if (got == 0) return bytes;
      bytes.append(chunk, got);
      if (bytes.size() > (64u << 20)) {
        failure = Status(StatusCode::kInvalidArgument, "read " + Narrow(path.c_str()) + ": too large");
        break;
      }
    }
  } else {
    failure = Status::LastError("open " + Narrow(path.c_str()));
  }
  if (failure.IsNotFound()) {
    LogDebug("TLS trust: " + failure.ToString());
  } else {
    LogWarning("certificates not loaded for TLS", failure);
  }
  return std::nullopt;
}

// Adds every PEM certificate of `text` to `store`.
void AddPemCertificates(HCERTSTORE store, const std::string& text) {
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
    const std::size_t end = text.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::size_t stop = end + kEnd.size();
    const std::string block = text.substr(at, stop - at);
    at = stop;
    DWORD size = 0;
    if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                der.data(), &size, nullptr, nullptr)) {
      continue;
    }
    if (!::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                            CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      LogWarning("a trusted certificate was not taken",
                 Status::LastError("CertAddEncodedCertificateToStore"));
    }
  }
}

// The authorities to trust instead of the system's, when SSL_CERT_FILE or
// SSL_CERT_DIR names them (as OpenSSL reads them: a PEM file, a folder of
// PEM files); empty when neither is set.
CertStore TrustFromEnvironment() {
  const std::optional<std::wstring> file = Environment(L"SSL_CERT_FILE");
  const std::optional<std::wstring> folder = Environment(L"SSL_CERT_DIR");
  if (!file && !folder) return nullptr;
  CertStore store(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (!store)
    throw TlsError("the trusted certificates cannot be kept: " +
                   Status::LastError("CertOpenStore").ToString());
  if (file) {
    if (auto text = ReadWholeFile(*file)) AddPemCertificates(store.get(), *text);
  }
  if (folder) {
    WIN32_FIND_DATAW entry{};
    FindHandle find(::FindFirstFileW((*folder + L"\\*").c_str(), &entry));
    if (find.get() == INVALID_HANDLE_VALUE) {
      (void)find.release();
      const Status failure = Status::LastError("list " + Narrow(folder->c_str()));
      if (failure.IsNotFound()) {
        LogDebug("TLS trust: " + failure.ToString());
      } else {
        LogWarning("certificates not loaded for TLS", failure);
      }
    } else {
      do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (auto text = ReadWholeFile(*folder + L"\\" + entry.cFileName))
          AddPemCertificates(store.get(), *text);
      } while (::FindNextFileW(find.get(), &entry));
    }
  }
  return store;
}

// --- Names -----------------------------------------------------------------

bool IsIPv4(std::string_view host, in_addr* address) {
  const std::string text(host);
  return ::inet_pton(AF_INET, text.c_str(), address) == 1;
}

bool IsIPv6(std::string_view host, in6_addr* address) {
  const std::string text(host);
  return ::inet_pton(AF_INET6, text.c_str(), address) == 1;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// A certificate's DNS name against the host asked for: equal ignoring
// case, or a wildcard standing for the whole leftmost label ("*.example.org"
// names "mail.example.org", not "example.org" nor "a.b.example.org"), and
// only when at least two labels follow it.
bool DnsNameMatches(std::string_view pattern, std::string_view host) {
  if (!pattern.empty() && pattern.back() == '.') pattern.remove_suffix(1);
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  if (pattern.empty() || host.empty()) return false;
  if (pattern.substr(0, 2) != "*.") return SameLetters(pattern, host);
  const std::string_view suffix = pattern.substr(1);  // ".example.org"
  if (std::count(suffix.begin(), suffix.end(), '.') < 2) return false;
  const std::size_t dot = host.find('.');
  if (dot == 0 || dot == std::string_view::npos) return false;
  return SameLetters(host.substr(dot), suffix);
}

// Whether the certificate names `host`: an address against its IP
// address entries, a name against its DNS entries, or against the common
// name when it has no DNS entry at all.
bool CertificateNames(PCCERT_CONTEXT cert, std::string_view host) {
  in_addr v4{};
  in6_addr v6{};
  const bool isV4 = IsIPv4(host, &v4);
  const bool isV6 = !isV4 && IsIPv6(host, &v6);
  bool sawDns = false;
  const CERT_EXTENSION* extension =
      ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
  if (extension) {
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                              extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
      std::unique_ptr<CERT_ALT_NAME_INFO, LocalFreer> owned(names);
      for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
          sawDns = true;
          if (!isV4 && !isV6 && DnsNameMatches(Narrow(entry.pwszDNSName), host)) return true;
        } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
          const CRYPT_DATA_BLOB& ip = entry.IPAddress;
          if (isV4 && ip.cbData == sizeof v4 &&
              std::equal(ip.pbData, ip.pbData + ip.cbData, reinterpret_cast<const BYTE*>(&v4)))
            return true;
          if (isV6 && ip.cbData == sizeof v6 &&
              std::equal(ip.pbData, ip.pbData + ip.cbData, reinterpret_cast<const BYTE*>(&v6)))
            return true;
        }
      }
    } else {
      LogWarning("the certificate's names cannot be read", Status::LastError("CryptDecodeObjectEx"));
    }
  }
  if (isV4 || isV6 || sawDns) return false;
  wchar_t common[256] = {};
  if (::CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), common, 256) <=
      1)
    return false;
  return DnsNameMatches(Narrow(common), host);
}

// --- Verification ----------------------------------------------------------

// OpenSSL's words for the same faults, so that both builds report alike.
std::string ChainFaultText(DWORD errors, bool selfSigned) {
  if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "certificate signature failure";
  if (errors & CERT_TRUST_IS_REVOKED) return "certificate revoked";
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return "certificate has expired or is not yet valid";
  if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
    return selfSigned ? "self-signed certificate" : "unable to get local issuer certificate";
  }
  if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "unsupported certificate purpose";
  if (errors & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) return "invalid CA certificate";
  char text[64];
  std::snprintf(text, sizeof text, "certificate chain error 0x%08lx", static_cast<unsigned long>(errors));
  return text;
}

// Checks the server's certificate: a chain to a trusted authority (the
// system's, or those of `trust` when it is set), valid now, for TLS
// servers, naming `host`. Throws TlsError when it does not check out.
void VerifyServer(PCCERT_CONTEXT cert, std::string_view host, HCERTSTORE trust) {
  // The chain may use what the server sent along and, when they replace
  // the system's, the trusted authorities.
  CertStore extra(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (!extra) throw TlsError("certificate verify failed: " + Status::LastError("CertOpenStore").ToString());
  if (cert->hCertStore) ::CertAddStoreToCollection(extra.get(), cert->hCertStore, 0, 0);
  if (trust) ::CertAddStoreToCollection(extra.get(), trust, 0, 0);

  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!::CertGetCertificateChain(nullptr, cert, nullptr, extra.get(), &para, 0, nullptr, &built)) {
    throw TlsError("certificate verify failed: " + Status::LastError("CertGetCertificateChain").ToString());
  }
  const Chain chain(built);
  // Revocation was not asked for.
  DWORD errors = chain->TrustStatus.dwErrorStatus &
                 ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
    throw TlsError("certificate verify failed: no certificate chain");
  }
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
  const bool selfSigned = simple->cElement == 1;
  if (trust) {
    // Only the given authorities count, whatever the system trusts.
    const Certificate found(
        ::CertFindCertificateInStore(trust, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, top, nullptr));
    if (found && !(errors & CERT_TRUST_IS_PARTIAL_CHAIN)) {
      errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    } else {
      errors |= CERT_TRUST_IS_UNTRUSTED_ROOT;
    }
  }
  if (errors != CERT_TRUST_NO_ERROR)
    throw TlsError("certificate verify failed: " + ChainFaultText(errors, selfSigned));
  if (!CertificateNames(cert, host)) {
    in_addr v4{};
    in6_addr v6{};
    throw TlsError(std::string("certificate verify failed: ") +
                   (IsIPv4(host, &v4) || IsIPv6(host, &v6) ? "IP address mismatch" : "hostname mismatch"));
  }
}

// --- The session -----------------------------------------------------------

// The content type of a TLS record that carries an alert (visible in
// the record's header up to TLS 1.2).
constexpr unsigned char kAlertRecord = 21;

// Whether `bytes` can be the start of a TLS record: a known content type,
// protocol version 3.x, no longer than a record may be. Schannel
// implementations differ in how soon they give up on other bytes (some
// wait for as many bytes as the "length" says); this way a server that
// answers in plain text is refused at once.
bool CanBeTlsRecord(std::string_view bytes) {
  if (bytes.size() >= 1) {
    const auto type = static_cast<unsigned char>(bytes[0]);
    if (type < 20 || type > 23) return false;
  }
  if (bytes.size() >= 2 && bytes[1] != 3) return false;
  if (bytes.size() >= 5) {
    const std::size_t length =
        static_cast<unsigned char>(bytes[3]) * 256u + static_cast<unsigned char>(bytes[4]);
    if (length > 16384 + 2048) return false;
  }
  return true;
}

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION |
                                ISC_REQ_USE_SUPPLIED_CREDS;

// Client credentials for TLS 1.2 and later, without a client certificate
// and without Schannel's own certificate check. The newer credential form
// first (the one that allows TLS 1.3); systems that do not know it take
// the older one.
void AcquireClientCredentials(SspiCredentials& credentials) {
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_USE_STRONG_CRYPTO;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  TimeStamp expiry{};
  SECURITY_STATUS status =
      ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                  &modern, nullptr, nullptr, credentials.Out(), &expiry);
  if (status == SEC_E_OK) {
    credentials.SetValid();
    return;
  }
  LogDebug("TLS: SCH_CREDENTIALS refused (" + StatusText(status) + "), using SCHANNEL_CRED");
  SCHANNEL_CRED legacy{};
  legacy.dwVersion = SCHANNEL_CRED_VERSION;
  legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  legacy.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_USE_STRONG_CRYPTO;
  status = ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                       nullptr, &legacy, nullptr, nullptr, credentials.Out(), &expiry);
  if (status != SEC_E_OK) throw TlsError("TLS unavailable: " + StatusText(status));
  credentials.SetValid();
}

class SchannelStream final : public TlsStream {
 public:
  SchannelStream(SOCKET s, std::string_view host, std::chrono::milliseconds sendTimeout)
      : socket_(s), sendTimeout_(sendTimeout) {
    in_addr v4{};
    in6_addr v6{};
    // The name goes out as SNI; an address is never sent as one.
    if (!IsIPv4(host, &v4) && !IsIPv6(host, &v6)) target_ = Widen(host);
  }
  ~SchannelStream() override = default;

  // The client handshake; TlsError when it fails or times out.
  void Handshake(const Deadline& deadline) {
    AcquireClientCredentials(credentials_);
    try {
      Negotiate(deadline, true);
    } catch (const TlsError&) {
      throw;  // a std::system_error too, and already says what failed
    } catch (const std::system_error& error) {
      throw TlsError(std::string("TLS handshake failed: ") + error.what());
    }
    SECURITY_STATUS status = ::QueryContextAttributesW(context_.Get(), SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK) throw TlsError("TLS stream sizes unknown: " + StatusText(status));
    SecPkgContext_ConnectionInfo info{};
    status = ::QueryContextAttributesW(context_.Get(), SECPKG_ATTR_CONNECTION_INFO, &info);
    if (status == SEC_E_OK) {
      if (info.dwProtocol & SP_PROT_TLS1_3_CLIENT)
        version_ = "TLSv1.3";
      else if (info.dwProtocol & SP_PROT_TLS1_2_CLIENT)
        version_ = "TLSv1.2";
      else if (info.dwProtocol & SP_PROT_TLS1_1_CLIENT)
        version_ = "TLSv1.1";
      else if (info.dwProtocol & SP_PROT_TLS1_0_CLIENT)
        version_ = "TLSv1";
    } else {
      LogWarning("the TLS version is not known: " + StatusText(status));
    }
    if (version_.empty()) version_ = "unknown";
    LogDebug("TLS: " + version_ + " with " +
             (target_.empty() ? std::string("an address") : Narrow(target_.c_str())));
  }

  // The server's certificate, as the handshake received it.
  Certificate ServerCertificate() {
    PCCERT_CONTEXT cert = nullptr;
    const SECURITY_STATUS status =
        ::QueryContextAttributesW(context_.Get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
    if (status != SEC_E_OK || cert == nullptr) {
      throw TlsError("certificate verify failed: the server sent no certificate (" + StatusText(status) +
                     ")");
    }
    return Certificate(cert);
  }

  void SendAll(std::string_view bytes) override {
    const Deadline deadline = Clock::now() + sendTimeout_;
    std::string record;
    while (!bytes.empty()) {
      const std::size_t chunk = std::min<std::size_t>(bytes.size(), sizes_.cbMaximumMessage);
      record.assign(sizes_.cbHeader, '\0');
      record.append(bytes.data(), chunk);
      record.append(sizes_.cbTrailer, '\0');
      SecBuffer parts[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + chunk},
          {0, SECBUFFER_EMPTY, nullptr},
      };
      SecBufferDesc description{SECBUFFER_VERSION, 4, parts};
      const SECURITY_STATUS status = ::EncryptMessage(context_.Get(), 0, &description, 0);
      if (status != SEC_E_OK) throw TlsError("TLS send failed: " + StatusText(status));
      const std::size_t length = parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer;
      SendBytes(socket_, std::string_view(record.data(), length), deadline);
      bytes.remove_prefix(chunk);
    }
  }

  bool WaitReadable(std::chrono::milliseconds timeout) override {
    if (offset_ < plain_.size() || ended_) return true;
    return Fill(timeout.count() < 0 ? Deadline() : Deadline(Clock::now() + timeout));
  }

  std::size_t Receive(char* out, std::size_t length) override {
    if (offset_ >= plain_.size() && !ended_) Fill(std::nullopt);
    const std::size_t n = std::min(length, plain_.size() - offset_);
    plain_.copy(out, n, offset_);
    offset_ += n;
    return n;
  }

  void Shutdown() noexcept override {
    // One attempt: the alert goes out if the socket takes it at once.
    try {
      DWORD type = SCHANNEL_SHUTDOWN;
      SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
      SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
      SECURITY_STATUS status = ::ApplyControlToken(context_.Get(), &controlDescription);
      if (status == SEC_E_UNSUPPORTED_FUNCTION) {
        // Wine's Schannel cannot make the alert: the peer sees the close.
        LogDebug("TLS: this system's Schannel sends no closing alert");
        return;
      }
      if (status != SEC_E_OK) {
        LogWarning("no TLS closing alert: " + StatusText(status));
        return;
      }
      SspiTokenBuffer token;
      SecBufferDesc outDescription{SECBUFFER_VERSION, 1, token.Get()};
      ULONG attributes = 0;
      status = ::InitializeSecurityContextW(credentials_.Get(), context_.Get(), TargetName(), kContextFlags,
                                            0, 0, nullptr, 0, nullptr, &outDescription, &attributes, nullptr);
      if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED) {
        LogWarning("no TLS closing alert: " + StatusText(status));
        return;
      }
      const std::string_view alert = token.Bytes();
      if (!alert.empty() &&
          ::send(socket_, alert.data(), static_cast<int>(alert.size()), 0) == SOCKET_ERROR) {
        LogWarning("TLS closing alert not sent", Status::FromSystem(::WSAGetLastError(), "send"));
      }
    } catch (const std::exception& error) {
      LogWarning(std::string("no TLS closing alert: ") + error.what());
    }
  }

  std::string Version() const override { return version_; }

 private:
  wchar_t* TargetName() { return target_.empty() ? nullptr : target_.data(); }

  // Runs handshake messages until the context is complete: the first
  // handshake, or one the server starts later (TLS 1.3 session tickets,
  // renegotiation), whose first bytes are in encrypted_.
  void Negotiate(const Deadline& deadline, bool first) {
    for (;;) {
      SspiTokenBuffer token;
      SecBufferDesc outDescription{SECBUFFER_VERSION, 1, token.Get()};
      SecBuffer input[2] = {
          {static_cast<unsigned long>(encrypted_.size()), SECBUFFER_TOKEN, encrypted_.data()},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDescription{SECBUFFER_VERSION, 2, input};
      ULONG attributes = 0;
      SECURITY_STATUS status;
      if (first) {
        status =
            ::InitializeSecurityContextW(credentials_.Get(), nullptr, TargetName(), kContextFlags, 0, 0,
                                         nullptr, 0, context_.Out(), &outDescription, &attributes, nullptr);
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) context_.SetValid();
      } else {
        status = ::InitializeSecurityContextW(credentials_.Get(), context_.Get(), TargetName(), kContextFlags,
                                              0, 0, &inDescription, 0, nullptr, &outDescription, &attributes,
                                              nullptr);
      }
      if (!token.Bytes().empty()) {
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
          SendBytes(socket_, token.Bytes(), deadline);
        } else {
          // The alert that tells the server why; the failure is reported
          // whether it goes out or not.
          (void)::send(socket_, token.Bytes().data(), static_cast<int>(token.Bytes().size()), 0);
        }
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        ReadHandshake(deadline);
        continue;
      }
      if (!first) {
        if (input[1].BufferType == SECBUFFER_EXTRA && input[1].cbBuffer > 0) {
          encrypted_.erase(0, encrypted_.size() - input[1].cbBuffer);
        } else {
          encrypted_.clear();
        }
      }
      first = false;
      if (status == SEC_E_OK) return;
      if (status == SEC_I_CONTINUE_NEEDED) {
        if (encrypted_.empty()) ReadHandshake(deadline);
        continue;
      }
      if (status == SEC_I_INCOMPLETE_CREDENTIALS) continue;  // asked for a client certificate: go on without
      throw TlsError("TLS handshake failed: " + StatusText(status));
    }
  }

  void ReadHandshake(const Deadline& deadline) {
    const std::optional<std::size_t> got = ReceiveSome(socket_, encrypted_, deadline);
    if (!got) throw TlsError("TLS handshake timed out");
    if (*got == 0) throw TlsError("TLS handshake failed: the connection closed during the handshake");
    if (!CanBeTlsRecord(encrypted_)) throw TlsError("TLS handshake failed: the server's answer is not TLS");
  }

  // Decrypts at least one record's data into plain_; false when the
  // deadline passed first. The end of the stream (the closing alert, or a
  // close without one) counts as data.
  bool Fill(const Deadline& deadline) {
    plain_.clear();
    offset_ = 0;
    for (;;) {
      if (!encrypted_.empty()) {
        SecBuffer parts[4] = {
            {static_cast<unsigned long>(encrypted_.size()), SECBUFFER_DATA, encrypted_.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description{SECBUFFER_VERSION, 4, parts};
        const bool alertRecord = static_cast<unsigned char>(encrypted_[0]) == kAlertRecord;
        const SECURITY_STATUS status = ::DecryptMessage(context_.Get(), &description, 0, nullptr);
        if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED || status == SEC_I_RENEGOTIATE) {
          std::string extra;
          for (const SecBuffer& part : parts) {
            if (part.BufferType == SECBUFFER_DATA && part.pvBuffer) {
              plain_.append(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
            } else if (part.BufferType == SECBUFFER_EXTRA && part.pvBuffer) {
              extra.assign(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
            } else if (part.BufferType == SECBUFFER_EXTRA) {
              extra = encrypted_.substr(encrypted_.size() - part.cbBuffer);
            }
          }
          encrypted_ = std::move(extra);
          // Schannel reports the peer's closing alert as CONTEXT_EXPIRED;
          // wine's as an alert record that decrypts to nothing.
          if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alertRecord && plain_.empty())) {
            ended_ = true;
            return true;
          }
          if (status == SEC_I_RENEGOTIATE) Negotiate(deadline, false);
          if (!plain_.empty()) return true;
          continue;  // a record without data
        }
        if (status != SEC_E_INCOMPLETE_MESSAGE) throw TlsError("TLS receive failed: " + StatusText(status));
      }
      const std::optional<std::size_t> got = ReceiveSome(socket_, encrypted_, deadline);
      if (!got) return false;
      if (*got == 0) {
        // Closed without the closing alert: the end all the same, as the
        // OpenSSL build takes it.
        ended_ = true;
        return true;
      }
    }
  }

  SOCKET socket_;
  std::chrono::milliseconds sendTimeout_;
  std::wstring target_;
  SspiCredentials credentials_;
  SspiContext context_;
  SecPkgContext_StreamSizes sizes_{};
  std::string version_;
  std::string encrypted_;  // received, not yet decrypted
  std::string plain_;      // decrypted, from offset_ on not yet taken
  std::size_t offset_ = 0;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<TlsStream> StartTlsClient(TcpSocket& socket, std::string_view host,
                                          std::chrono::milliseconds timeout) {
  if (!socket.IsOpen()) throw StatusError(Status::FromSystem(WSAENOTSOCK, "tls"));
  const SOCKET s = static_cast<SOCKET>(socket.NativeHandle());
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    throw StatusError(Status::FromSystem(::WSAGetLastError(), "ioctlsocket"));
  }
  const CertStore trust = TrustFromEnvironment();
  const Deadline deadline = timeout.count() > 0 ? Deadline(Clock::now() + timeout) : std::nullopt;
  auto stream =
      std::make_unique<SchannelStream>(s, host, timeout.count() > 0 ? timeout : std::chrono::hours(24));
  stream->Handshake(deadline);
  VerifyServer(stream->ServerCertificate().get(), host, trust.get());
  return stream;
}

}  // namespace platform
