#include "bench/chat_load/json_fields.h"

#include <cstdlib>

namespace chatload {

std::vector<long> JsonNumbers(const std::string& json, const std::string& key) {
  std::vector<long> numbers;
  const std::string quoted = "\"" + key + "\":";
  for (size_t at = json.find(quoted); at != std::string::npos; at = json.find(quoted, at + 1))
    numbers.push_back(std::atol(json.c_str() + at + quoted.size()));
  return numbers;
}

long JsonNumber(const std::string& json, const std::string& key) {
  const std::string quoted = "\"" + key + "\":";
  const size_t at = json.find(quoted);
  return at == std::string::npos ? 0 : std::atol(json.c_str() + at + quoted.size());
}

std::string JsonText(const std::string& json, const std::string& key) {
  const std::string start = "\"" + key + "\":\"";
  const size_t at = json.find(start);
  if (at == std::string::npos) return {};
  const size_t end = json.find('"', at + start.size());
  if (end == std::string::npos) return {};
  return json.substr(at + start.size(), end - at - start.size());
}

}  // namespace chatload
