#include "platform/ado/connection_string.h"

#include <cctype>

#include "platform/com/ascii.h"

namespace zelto::ado {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Collapses inner runs of blanks so "Data  Source" and "data source" match.
std::string NormalizeKey(std::string_view key) {
  std::string out;
  for (char c : LowerAscii(Trim(key))) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

void Assign(ConnectionString& cs, const std::string& key, std::string value) {
  if (key == "provider") {
    cs.provider = std::move(value);
  } else if (key == "data source" || key == "server" || key == "address") {
    cs.data_source = std::move(value);
  } else if (key == "initial catalog" || key == "database") {
    cs.initial_catalog = std::move(value);
  } else if (key == "user id" || key == "uid" || key == "user") {
    cs.user_id = std::move(value);
  } else if (key == "pwd" || key == "password") {
    cs.password = std::move(value);
  }
}

}  // namespace

std::string ConnectionString::PoolKey() const {
  // Lengths first, so no value can imitate a separator.
  std::string key;
  for (const std::string* part : {&provider, &data_source, &initial_catalog, &user_id, &password}) {
    key += std::to_string(part->size()) + ':' + *part + ';';
  }
  return key;
}

std::optional<ConnectionString> ParseConnectionString(std::string_view text) {
  ConnectionString cs;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eq = text.find('=', pos);
    size_t semi = text.find(';', pos);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      // A segment without '=' is an error unless it is only blanks.
      std::string_view seg = text.substr(pos, semi == std::string_view::npos ? text.npos : semi - pos);
      if (!Trim(seg).empty()) return std::nullopt;
      if (semi == std::string_view::npos) break;
      pos = semi + 1;
      continue;
    }
    std::string key = NormalizeKey(text.substr(pos, eq - pos));
    size_t v = eq + 1;
    while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
    std::string value;
    if (v < text.size() && (text[v] == '"' || text[v] == '\'')) {
      char quote = text[v++];
      bool closed = false;
      while (v < text.size()) {
        if (text[v] == quote) {
          if (v + 1 < text.size() && text[v + 1] == quote) {
            value += quote;
            v += 2;
            continue;
          }
          closed = true;
          ++v;
          break;
        }
        value += text[v++];
      }
      if (!closed) return std::nullopt;
      size_t end = text.find(';', v);
      if (!Trim(text.substr(v, end == text.npos ? text.npos : end - v)).empty()) return std::nullopt;
      pos = end == text.npos ? text.size() : end + 1;
    } else {
      size_t end = text.find(';', v);
      value = std::string(Trim(text.substr(v, end == text.npos ? text.npos : end - v)));
      pos = end == text.npos ? text.size() : end + 1;
    }
    if (key.empty()) return std::nullopt;
    Assign(cs, key, std::move(value));
  }
  return cs;
}

}  // namespace zelto::ado
