#pragma once

// The maker's web pages the console links to.

enum class WebPage { Product, Company, Support, TellAFriend };

inline constexpr const char* kProductPageUrl = "https://www.quillmark.example/product/";
inline constexpr const char* kCompanyPageUrl = "https://www.quillmark.example/";
inline constexpr const char* kSupportPageUrl = "https://www.quillmark.example/support/";
inline constexpr const char* kTellAFriendPageUrl = "https://www.quillmark.example/tell-a-friend/";

constexpr const char* WebPageUrl(WebPage page) {
  switch (page) {
    case WebPage::Product: return kProductPageUrl;
    case WebPage::Company: return kCompanyPageUrl;
    case WebPage::Support: return kSupportPageUrl;
    case WebPage::TellAFriend: return kTellAFriendPageUrl;
  }
  return kCompanyPageUrl;
}
