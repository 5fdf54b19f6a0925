#pragma once

// The words for a status of the security support provider interface
// (SSPI: Schannel, NTLM), for error messages: the system's own text, or,
// where the system has none (wine), the status's meaning; always with the
// number in hexadecimal.

#include <cstdio>
#include <string>

#include "platform/status.h"
#include "platform/windows/win32.h"

namespace platform::windows {

inline std::string SecurityStatusText(long status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(status));
  std::string text = SystemErrorText(static_cast<int>(status));
  if (text.rfind("error ", 0) == 0) {
    switch (static_cast<unsigned long>(status)) {
      case 0x80090300ul: text = "not enough memory"; break;
      case 0x80090302ul: text = "the function is not supported"; break;
      case 0x80090304ul: text = "internal error"; break;
      case 0x80090305ul: text = "the security package is not installed"; break;
      case 0x80090308ul: text = "the token is not valid"; break;
      case 0x8009030cul: text = "the logon was denied"; break;
      case 0x8009030eul: text = "no credentials are available"; break;
      case 0x80090317ul: text = "the context has expired"; break;
      case 0x80090318ul: text = "the message is incomplete"; break;
      case 0x80090322ul: text = "the server's name is not the one asked for"; break;
      case 0x80090326ul: text = "the message is not valid"; break;
      case 0x80090327ul: text = "the certificate is not valid"; break;
      case 0x80090328ul: text = "the certificate has expired"; break;
      case 0x80090330ul: text = "the data cannot be decrypted"; break;
      case 0x80090331ul: text = "no protocol or cipher in common"; break;
      case 0x80090325ul: text = "the certificate's authority is not trusted"; break;
      default: break;
    }
  }
  return text + " (" + code + ")";
}

}  // namespace platform::windows
