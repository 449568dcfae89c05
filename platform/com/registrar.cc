#include "platform/com/registrar.h"

#include "platform/com/ascii.h"

#include <cctype>

namespace {

// Replaces %NAME% (names compared without regard to case) and %%.
bool ExpandPlaceholders(std::string_view script,
                        const std::map<std::string, std::string>& replacements,
                        std::string* out) {
  out->clear();
  for (size_t i = 0; i < script.size(); ++i) {
    if (script[i] != '%') {
      *out += script[i];
      continue;
    }
    const size_t end = script.find('%', i + 1);
    if (end == std::string_view::npos) return false;
    const std::string_view name = script.substr(i + 1, end - i - 1);
    if (name.empty()) {
      *out += '%';
    } else {
      const std::string* found = nullptr;
      for (const auto& [key, value] : replacements) {
        if (EqualsIgnoreCase(key, name)) found = &value;
      }
      if (!found) return false;
      *out += *found;
    }
    i = end;
  }
  return true;
}

struct Token {
  enum class Kind { kWord, kQuoted, kOpen, kClose, kEquals, kEnd };
  Kind kind;
  std::string text;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool Tokenize(std::string_view text, std::vector<Token>* tokens) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsSpace(c)) {
      ++i;
    } else if (c == '}') {
      tokens->push_back({Token::Kind::kClose, "}"});
      ++i;
    } else if (c == '=') {
      tokens->push_back({Token::Kind::kEquals, "="});
      ++i;
    } else if (c == '{' && (i + 1 == text.size() || IsSpace(text[i + 1]) || text[i + 1] == '{' ||
                            text[i + 1] == '}')) {
      tokens->push_back({Token::Kind::kOpen, "{"});
      ++i;
    } else if (c == '\'') {
      std::string quoted;
      for (++i;; ++i) {
        if (i >= text.size()) return false;
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            quoted += '\'';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          quoted += text[i];
        }
      }
      tokens->push_back({Token::Kind::kQuoted, std::move(quoted)});
    } else {
      // A bare word; a '{' starting one belongs to it ({GUID}).
      const size_t start = i;
      for (++i; i < text.size() && !IsSpace(text[i]) && text[i] != '=' && text[i] != '\'' &&
                text[i] != '{' && (text[i] != '}' || text[start] == '{');
           ++i) {
      }
      tokens->push_back({Token::Kind::kWord, std::string(text.substr(start, i - start))});
    }
  }
  tokens->push_back({Token::Kind::kEnd, ""});
  return true;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  bool ParseScript(std::vector<RegistrarKey>* keys) {
    while (Peek().kind != Token::Kind::kEnd) {
      // Roots may be marked NoRemove; they are never removed anyway.
      if (IsKeyword("NoRemove")) Next();
      const Token& root = Next();
      if (root.kind != Token::Kind::kWord ||
          !(EqualsIgnoreCase(root.text, "HKCR") ||
            EqualsIgnoreCase(root.text, "HKEY_CLASSES_ROOT"))) {
        return false;
      }
      if (Next().kind != Token::Kind::kOpen || !ParseBlock(keys, nullptr)) return false;
    }
    return true;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
  bool IsKeyword(const char* word) const {
    return Peek().kind == Token::Kind::kWord && EqualsIgnoreCase(Peek().text, word);
  }

  bool ReadName(std::string* name) {
    const Token& token = Next();
    if (token.kind != Token::Kind::kWord && token.kind != Token::Kind::kQuoted) return false;
    if (token.text.empty() || token.text.find('\\') != std::string::npos) return false;
    *name = token.text;
    return true;
  }

  // "= s 'text'"
  bool ReadStringValue(std::string* data) {
    if (Next().kind != Token::Kind::kEquals) return false;
    const Token& type = Next();
    if (type.kind != Token::Kind::kWord || !EqualsIgnoreCase(type.text, "s")) return false;
    const Token& text = Next();
    if (text.kind != Token::Kind::kQuoted) return false;
    *data = text.text;
    return true;
  }

  // The items after an opening brace, through the closing one. `values` is
  // null at the root, which holds keys only.
  bool ParseBlock(std::vector<RegistrarKey>* keys,
                  std::vector<std::pair<std::string, std::string>>* values) {
    for (;;) {
      if (Peek().kind == Token::Kind::kClose) {
        Next();
        return true;
      }
      if (Peek().kind == Token::Kind::kEnd) return false;
      if (IsKeyword("val")) {
        Next();
        std::pair<std::string, std::string> value;
        if (!values || !ReadName(&value.first) || !ReadStringValue(&value.second)) return false;
        values->push_back(std::move(value));
        continue;
      }
      RegistrarKey key;
      if (IsKeyword("ForceRemove")) {
        key.flag = RegistrarKey::Flag::kForceRemove;
      } else if (IsKeyword("NoRemove")) {
        key.flag = RegistrarKey::Flag::kNoRemove;
      } else if (IsKeyword("Delete")) {
        key.flag = RegistrarKey::Flag::kDelete;
      }
      if (key.flag != RegistrarKey::Flag::kNone) Next();
      if (!ReadName(&key.name)) return false;
      if (Peek().kind == Token::Kind::kEquals) {
        std::string data;
        if (!ReadStringValue(&data)) return false;
        key.default_value = std::move(data);
      }
      if (Peek().kind == Token::Kind::kOpen) {
        Next();
        if (!ParseBlock(&key.subkeys, &key.values)) return false;
      }
      keys->push_back(std::move(key));
    }
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

void ApplyKeys(const std::vector<RegistrarKey>& keys, const std::string& parent,
               RegistryTree& tree) {
  for (const RegistrarKey& key : keys) {
    const std::string path = Join(parent, key.name);
    if (key.flag == RegistrarKey::Flag::kForceRemove ||
        key.flag == RegistrarKey::Flag::kDelete) {
      tree.DeleteKeyTree(path);
    }
    if (key.flag == RegistrarKey::Flag::kDelete) continue;
    tree.CreateKey(path);
    if (key.default_value) tree.SetValue(path, "", *key.default_value);
    for (const auto& [name, data] : key.values) tree.SetValue(path, name, data);
    ApplyKeys(key.subkeys, path, tree);
  }
}

void RemoveKeys(const std::vector<RegistrarKey>& keys, const std::string& parent,
                RegistryTree& tree) {
  for (const RegistrarKey& key : keys) {
    const std::string path = Join(parent, key.name);
    if (key.flag == RegistrarKey::Flag::kDelete || !tree.KeyExists(path)) continue;
    if (key.flag == RegistrarKey::Flag::kForceRemove) {
      tree.DeleteKeyTree(path);
      continue;
    }
    RemoveKeys(key.subkeys, path, tree);
    for (const auto& [name, data] : key.values) tree.DeleteValue(path, name);
    if (key.flag == RegistrarKey::Flag::kNoRemove) continue;
    if (key.default_value) tree.DeleteValue(path, "");
    // Whatever someone else keeps here keeps the key.
    if (tree.SubKeys(path).empty() && tree.ValueNames(path).empty()) tree.DeleteKeyTree(path);
  }
}

}  // namespace

HRESULT ParseRegistrarScript(std::string_view script,
                             const std::map<std::string, std::string>& replacements,
                             std::vector<RegistrarKey>* keys) {
  if (!keys) return E_POINTER;
  keys->clear();
  std::string text;
  std::vector<Token> tokens;
  if (!ExpandPlaceholders(script, replacements, &text) || !Tokenize(text, &tokens)) {
    return E_INVALIDARG;
  }
  Parser parser(std::move(tokens));
  if (!parser.ParseScript(keys)) {
    keys->clear();
    return E_INVALIDARG;
  }
  return S_OK;
}

void RegistrarApply(const std::vector<RegistrarKey>& keys, RegistryTree& tree) {
  ApplyKeys(keys, "", tree);
}

void RegistrarRemove(const std::vector<RegistrarKey>& keys, RegistryTree& tree) {
  RemoveKeys(keys, "", tree);
}

HRESULT RegistrarRegister(std::string_view script,
                          const std::map<std::string, std::string>& replacements) {
  std::vector<RegistrarKey> keys;
  const HRESULT hr = ParseRegistrarScript(script, replacements, &keys);
  if (FAILED(hr)) return hr;
  return RegistryUpdate([&](RegistryTree& tree) {
    RegistrarApply(keys, tree);
    return S_OK;
  });
}

HRESULT RegistrarUnregister(std::string_view script,
                            const std::map<std::string, std::string>& replacements) {
  std::vector<RegistrarKey> keys;
  const HRESULT hr = ParseRegistrarScript(script, replacements, &keys);
  if (FAILED(hr)) return hr;
  return RegistryUpdate([&](RegistryTree& tree) {
    RegistrarRemove(keys, tree);
    return S_OK;
  });
}
