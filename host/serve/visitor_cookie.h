// VisitorCookie: the cookie that lets a visitor keep their label when their
// session is gone (the host stopped, or another host of the site answers):
// "LABEL.MAC", the MAC an HMAC-SHA256 (OpenSSL) of the label keyed by the
// site secret every host of the site shares. Check() gives the label back
// only when the MAC matches (compared in constant time); a label or MAC
// changed by anyone without the secret is refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelto::serve {

inline constexpr char kVisitorCookie[] = "ZVISITOR";
inline constexpr int kVisitorCookieSeconds = 24 * 60 * 60;

class VisitorCookie {
 public:
  explicit VisitorCookie(std::string secret) : secret_(std::move(secret)) {}

  // The cookie value for `label` (letters and digits only, at most 50).
  std::string Sign(std::string_view label) const;
  // The label of a genuine cookie value; nullopt for anything else.
  std::optional<std::string> Check(std::string_view value) const;

 private:
  std::string Mac(std::string_view label) const;
  std::string secret_;
};

// Whether `label` has the shape of the site's visitor labels (1 to 50
// ASCII letters and digits).
bool IsVisitorLabel(std::string_view label);

}  // namespace zelto::serve
