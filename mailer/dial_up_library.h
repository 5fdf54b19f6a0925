// The system's dial-up functions (checking for a connection, dialling,
// hanging up), bound by name when the system has them. The mailer's own
// flow uses none of them.
#pragma once

#include <cstdint>

namespace mail {

class CDialUpLibrary {
 public:
  using GetConnectedStateFn = int (*)(std::uint32_t* flags, std::uint32_t reserved);
  using AutodialHangupFn = int (*)(std::uint32_t reserved);
  using AttemptConnectFn = std::uint32_t (*)(std::uint32_t reserved);

  // The one instance of the process, set up before the program starts.
  static CDialUpLibrary& Instance();

  CDialUpLibrary();
  ~CDialUpLibrary();
  CDialUpLibrary(const CDialUpLibrary&) = delete;
  CDialUpLibrary& operator=(const CDialUpLibrary&) = delete;

  bool IsLoaded() const { return getConnectedState_ || autodialHangup_ || attemptConnect_; }
  // Null when the system has no such entry point.
  GetConnectedStateFn GetConnectedState() const { return getConnectedState_; }
  AutodialHangupFn AutodialHangup() const { return autodialHangup_; }
  AttemptConnectFn AttemptConnect() const { return attemptConnect_; }

 private:
  GetConnectedStateFn getConnectedState_ = nullptr;
  AutodialHangupFn autodialHangup_ = nullptr;
  AttemptConnectFn attemptConnect_ = nullptr;
};

}  // namespace mail
