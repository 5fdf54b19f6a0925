// Windows backends not written yet. Each stub fails the way its interface
// fails when the system cannot serve it and logs one warning saying so, so
// that the whole tree links while the backends are being written. Whoever
// writes a backend deletes its stubs from here in the same change.

#include <cerrno>
#include <system_error>

#include "platform/anchored_folder.h"
#include "platform/file_system.h"
#include "platform/folder_watch.h"
#include "platform/log.h"
#include "platform/ntlm_security.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/spooler.h"
#include "platform/tls.h"

namespace platform {
namespace {

void Pending(const char* what) {
  LogWarning(std::string(what) + ": not available in this Windows build yet");
}

[[noreturn]] void ThrowPending(const char* what) {
  Pending(what);
  throw std::system_error(std::make_error_code(std::errc::function_not_supported), what);
}

}  // namespace

// ---- files and folders ----
std::string NativePath(std::string_view path) { return std::string(path); }
std::optional<std::string> NameFromNative(std::string_view name) { return std::string(name); }
std::optional<std::string> ReadFileBytes(const std::string&) {
  Pending("ReadFileBytes");
  return std::nullopt;
}
bool WriteFileBytes(const std::string&, std::string_view) {
  Pending("WriteFileBytes");
  return false;
}
bool AppendFileBytes(const std::string&, std::string_view) {
  Pending("AppendFileBytes");
  return false;
}
bool AppendFileBytes(const std::string&, std::string_view, std::string_view) {
  Pending("AppendFileBytes");
  return false;
}
bool ReplaceFileBytes(const std::string&, std::string_view, bool) {
  Pending("ReplaceFileBytes");
  return false;
}
bool PublishFileBytes(const std::string&, std::initializer_list<std::string_view>) {
  Pending("PublishFileBytes");
  return false;
}
bool FileExists(const std::string&) {
  Pending("FileExists");
  return false;
}
FileStamp StampOf(const std::string&) {
  Pending("StampOf");
  return {};
}
bool CreateFolder(const std::string&) {
  Pending("CreateFolder");
  return false;
}
std::vector<std::string> ListFilesBelow(const std::string&, std::string_view) {
  Pending("ListFilesBelow");
  return {};
}
bool ForceRemoveFile(const std::string&) {
  Pending("ForceRemoveFile");
  return false;
}
InputFile::InputFile(const std::string&) { ThrowPending("InputFile"); }
InputFile::~InputFile() = default;
InputFile::InputFile(InputFile&& other) noexcept : handle_(other.handle_), size_(other.size_) {
  other.handle_ = kNoHandle;
}
InputFile& InputFile::operator=(InputFile&& other) noexcept {
  handle_ = other.handle_;
  size_ = other.size_;
  other.handle_ = kNoHandle;
  return *this;
}
std::size_t InputFile::Read(char*, std::size_t) { ThrowPending("InputFile::Read"); }
FileLock::FileLock(const std::string&) { Pending("FileLock"); }
FileLock::~FileLock() = default;

void SetDataFolder(const std::string&) { Pending("SetDataFolder"); }
std::string DataFolder() { return {}; }
std::size_t RemoveFilesBelow(const std::string&, std::string_view,
                             const std::function<bool(const std::string&)>&) {
  Pending("RemoveFilesBelow");
  return 0;
}
std::optional<std::vector<std::string>> EnterFolderHolding(const std::string&, std::string_view,
                                                           const std::vector<std::string>&) {
  Pending("EnterFolderHolding");
  return std::nullopt;
}

// The file-backed registry store is the POSIX registry; on Windows the
// registry is the system's.
std::unique_ptr<Registry> MakeFileRegistry(std::filesystem::path) {
  Pending("MakeFileRegistry");
  return nullptr;
}

// ---- folder watch ----
FolderWatch::~FolderWatch() = default;
std::unique_ptr<FolderWatch> FolderWatch::ForFile(const std::string&) {
  Pending("FolderWatch::ForFile");
  return nullptr;
}

// ---- sockets, TLS, NTLM ----
int HostNotFoundError() { return 11001; }  // WSAHOST_NOT_FOUND
std::string LocalHostName() { return "localhost"; }
TcpSocket::~TcpSocket() = default;
TcpSocket::TcpSocket(TcpSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }
TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  handle_ = other.handle_;
  other.handle_ = kInvalid;
  return *this;
}
void TcpSocket::Create() { ThrowPending("TcpSocket::Create"); }
void TcpSocket::Bind(std::string_view) { ThrowPending("TcpSocket::Bind"); }
void TcpSocket::Connect(std::string_view, std::uint16_t, std::chrono::milliseconds) {
  ThrowPending("TcpSocket::Connect");
}
void TcpSocket::SendAll(std::string_view) { ThrowPending("TcpSocket::SendAll"); }
bool TcpSocket::WaitReadable(std::chrono::milliseconds) { ThrowPending("TcpSocket::WaitReadable"); }
std::size_t TcpSocket::Receive(char*, std::size_t) { ThrowPending("TcpSocket::Receive"); }
void TcpSocket::ShutdownSend() { ThrowPending("TcpSocket::ShutdownSend"); }
void TcpSocket::Close() noexcept { handle_ = kInvalid; }
std::string TcpSocket::PeerAddress() const { return {}; }
TcpListener::TcpListener(std::uint16_t) { ThrowPending("TcpListener"); }
TcpListener::~TcpListener() = default;
TcpSocket TcpListener::Accept(std::chrono::milliseconds) { ThrowPending("TcpListener::Accept"); }
void TcpListener::Close() noexcept {}

std::unique_ptr<TlsStream> StartTlsClient(TcpSocket&, std::string_view, std::chrono::milliseconds) {
  Pending("StartTlsClient");
  throw TlsError("TLS is not available in this Windows build yet");
}
std::unique_ptr<NtlmClientContext> NtlmClientContext::Create() {
  Pending("NtlmClientContext::Create");
  return nullptr;
}
std::unique_ptr<NtlmServerContext> NtlmServerContext::Create() {
  Pending("NtlmServerContext::Create");
  return nullptr;
}

// ---- the system's spooler ----
std::unique_ptr<Spooler> MakeSystemSpooler() {
  Pending("MakeSystemSpooler");
  throw SpoolerError(kErrorNotSupported, "the Windows spooler backend is not built yet");
}

}  // namespace platform
