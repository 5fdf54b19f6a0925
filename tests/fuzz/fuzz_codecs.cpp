// The mail codecs on any bytes: base64 and quoted-printable give back what
// they encoded; MD5 and HMAC-MD5 take anything.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "mailer/base64_coder.h"
#include "mailer/hmac_md5.h"
#include "mailer/md5.h"
#include "mailer/quoted_printable.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Quoted-printable decoding as a mail reader does it: "=XX" is a byte,
// "=" CR LF a soft line break, everything else stands for itself.
std::string DecodeQuotedPrintable(const std::string& text, bool& wellFormed) {
  std::string out;
  wellFormed = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out.push_back(text[i]);
      continue;
    }
    if (text.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
      continue;
    }
    const int high = i + 1 < text.size() ? Hex(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? Hex(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      wellFormed = false;
      return out;
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string key = in.ConsumeRandomLengthString(80);
  const std::string bytes = in.ConsumeRemainingBytesAsString();

  mail::CBase64Coder coder;
  coder.Encode(bytes);
  const std::string encoded = coder.EncodedMessage();
  for (char c : encoded) {
    Check((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
              c == '/' || c == '=',
          "base64 wrote a byte outside its alphabet");
  }
  mail::CBase64Coder decoder;
  decoder.Decode(encoded);
  Check(decoder.DecodedMessage() == bytes, "base64 did not round-trip");
  // Decoding anything at all must not fail.
  mail::CBase64Coder any;
  any.Decode(bytes);

  std::string lines = mail::Base64Lines(bytes);
  std::string joined;
  for (char c : lines) {
    if (c != '\r' && c != '\n') joined.push_back(c);
  }
  mail::CBase64Coder lineDecoder;
  lineDecoder.Decode(joined);
  Check(lineDecoder.DecodedMessage() == bytes, "base64 lines did not round-trip");

  // Line ends in the text are the text's own: quoted-printable keeps CR LF
  // as it stands, so compare on texts without bare CRs or LFs.
  const std::string qp = mail::QuotedPrintableEncode(bytes);
  bool wellFormed = false;
  const std::string back = DecodeQuotedPrintable(qp, wellFormed);
  Check(wellFormed, "quoted-printable wrote a malformed escape");
  if (bytes.find('\r') == std::string::npos && bytes.find('\n') == std::string::npos) {
    Check(back == bytes, "quoted-printable did not round-trip");
  }

  (void)mail::Md5(bytes);
  mail::Md5Context context;
  context.Update(key.data(), key.size());
  context.Update(bytes.data(), bytes.size());
  Check(context.Final() == mail::Md5(key + bytes), "MD5 in pieces differs from MD5 at once");
  (void)mail::ToLowerHex(mail::HmacMd5(key, bytes));
  return 0;
}
