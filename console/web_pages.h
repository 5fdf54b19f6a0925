#pragma once

// The maker's web pages the console links to.

enum class WebPage { kProduct, kCompany, kSupport, kTellAFriend };

inline constexpr const char* kProductPageUrl = "https://www.quillmark.example/product/";
inline constexpr const char* kCompanyPageUrl = "https://www.quillmark.example/";
inline constexpr const char* kSupportPageUrl = "https://www.quillmark.example/support/";
inline constexpr const char* kTellAFriendPageUrl = "https://www.quillmark.example/tell-a-friend/";

constexpr const char* WebPageUrl(WebPage page) {
  switch (page) {
    case WebPage::kProduct: return kProductPageUrl;
    case WebPage::kCompany: return kCompanyPageUrl;
    case WebPage::kSupport: return kSupportPageUrl;
    case WebPage::kTellAFriend: return kTellAFriendPageUrl;
  }
  return kCompanyPageUrl;
}
