#include "console/fetch_page_text.h"

#include <cstring>

#include "platform/inet/wininet.h"

namespace {

constexpr DWORD kReadSize = 1024;
constexpr DWORD_PTR kContext = 1;

std::string ReadPageText(HINTERNET page) {
  std::string text;
  char buffer[kReadSize];
  DWORD read = kReadSize;
  while (read == kReadSize) {
    read = 0;
    InternetReadFile(page, buffer, kReadSize, &read);  // a failed read delivers 0 bytes
    text.append(buffer, strnlen(buffer, read));
  }
  return text;
}

}  // namespace

std::string PageUrlFromAddress(std::string_view address) {
  std::string url(address);
  for (char& c : url) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  bool has_web_scheme = url.starts_with("https://") || url.find("http://") != std::string::npos;
  return has_web_scheme ? url : "http://" + url;
}

std::string FetchPageText(std::string_view address) {
  if (address.empty()) return {};
  DWORD connection = 0;
  if (!InternetGetConnectedState(&connection, 0)) return {};
  std::string url = PageUrlFromAddress(address);
  HINTERNET internet =
      InternetOpenA("check", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!internet) return {};
  // A failed open leaves `page` null; the read loop then delivers nothing.
  HINTERNET page = InternetOpenUrlA(internet, url.c_str(), nullptr, 0,
                                    INTERNET_FLAG_NO_CACHE_WRITE, kContext);
  std::string text = ReadPageText(page);
  InternetCloseHandle(internet);
  InternetCloseHandle(page);
  return text;
}
