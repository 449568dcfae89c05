#include "host/serve/json_answer.h"

#include <boost/json/serialize.hpp>

namespace zelto::serve {

std::string JsonAnswer(const boost::json::value& value) {
  const std::string plain = boost::json::serialize(value);
  // Outside strings JSON has no '<', '>' or '&': every one is inside one.
  std::string text;
  text.reserve(plain.size());
  for (char c : plain) {
    switch (c) {
      case '<':
        text += "\\u003c";
        break;
      case '>':
        text += "\\u003e";
        break;
      case '&':
        text += "\\u0026";
        break;
      default:
        text += c;
    }
  }
  return text;
}

std::string JsonError(std::string_view message) {
  return JsonAnswer(boost::json::object{{"error", message}});
}

}  // namespace zelto::serve
