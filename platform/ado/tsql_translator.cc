#include "platform/ado/tsql_translator.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/tsql_tokenizer.h"
#include "platform/com/ascii.h"

namespace zelto::ado {
namespace {

// Tokens nested by parentheses: a group holds what stands between "(" and ")".
struct Node {
  const Token* token = nullptr;  // null for a group
  std::vector<Node> children;
  bool closed = true;  // false for a group cut off by the end of the text

  bool IsGroup() const { return token == nullptr; }
  bool Is(TokenKind kind) const { return token && token->kind == kind; }
  bool Significant() const { return IsGroup() || (!Is(TokenKind::kSpace) && !Is(TokenKind::kComment)); }
};

bool IsWord(const Node& n, std::string_view lower_word) {
  return n.Is(TokenKind::kWord) && LowerAscii(n.token->text) == lower_word;
}

// Reads nodes up to the ")" that closes the current group (when `closed` is
// given) or to the end of the text; `*closed` tells which one ended it.
std::vector<Node> Nest(const std::vector<Token>& tokens, size_t& pos, bool* closed) {
  std::vector<Node> nodes;
  if (closed) *closed = false;
  while (pos < tokens.size()) {
    const Token& t = tokens[pos++];
    if (t.kind == TokenKind::kOpenParen) {
      Node group;
      group.children = Nest(tokens, pos, &group.closed);
      nodes.push_back(std::move(group));
    } else if (t.kind == TokenKind::kCloseParen && closed) {
      *closed = true;
      return nodes;
    } else {
      nodes.push_back(Node{&t, {}, true});
    }
  }
  return nodes;
}

// Rendered text with its parameters, in order of appearance.
struct Piece {
  std::string text;
  std::vector<SqlValue> params;
  bool is_string = false;  // a string literal or an expression known to be text
  // Where each parameter's "?" stands in `text`, so that a dialect numbering
  // its placeholders never mistakes a "?" of a comment or a name for one.
  std::vector<size_t> holes;

  void Append(const Piece& other) {
    // A placeholder stays a token of its own: "?2" and "$32" would name
    // another parameter, "like$1" would read as one name.
    if (!text.empty() && !other.text.empty() &&
        ((EndsWithHole() && IsNameByte(other.text.front())) ||
         (other.StartsWithHole() && IsNameByte(text.back())))) {
      text += ' ';
    }
    for (size_t h : other.holes) holes.push_back(text.size() + h);
    text += other.text;
    params.insert(params.end(), other.params.begin(), other.params.end());
  }
  bool EndsWithHole() const { return !holes.empty() && holes.back() + 1 == text.size(); }
  bool StartsWithHole() const { return !holes.empty() && holes.front() == 0; }
  static bool IsNameByte(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || u == '_' || u == '$' || u == '@' || u == '#' || u >= 0x80;
  }
};

Piece Literal(std::string_view text) { return Piece{std::string(text), {}, false, {}}; }
Piece Parameter(SqlValue value, bool is_string) {
  return Piece{"?", {std::move(value)}, is_string, {0}};
}

SqlValue NumberValue(std::string_view text) {
  if (text.find_first_of(".eE") == std::string_view::npos) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec == std::errc() && end == text.data() + text.size()) return SqlValue::Integer(v);
  }
  return SqlValue::Real(std::strtod(std::string(text).c_str(), nullptr));
}

struct DatePart {
  const char* strftime_format;  // SQLite
  const char* field;            // PostgreSQL's EXTRACT
};

std::optional<DatePart> DatePartOf(std::string_view unit) {
  std::string u = LowerAscii(unit);
  if (u == "hh" || u == "hour") return DatePart{"%H", "HOUR"};
  if (u == "mi" || u == "n" || u == "minute") return DatePart{"%M", "MINUTE"};
  if (u == "ss" || u == "s" || u == "second") return DatePart{"%S", "SECOND"};
  if (u == "yy" || u == "yyyy" || u == "year") return DatePart{"%Y", "YEAR"};
  if (u == "mm" || u == "m" || u == "month") return DatePart{"%m", "MONTH"};
  if (u == "dd" || u == "d" || u == "day") return DatePart{"%d", "DAY"};
  return std::nullopt;
}

bool IsCharacterType(std::string_view name) {
  std::string n = LowerAscii(name);
  return n == "nvarchar" || n == "varchar" || n == "char" || n == "nchar" || n == "text" ||
         n == "ntext";
}

// Type names whose parenthesised lengths stay literal.
bool IsSizedType(std::string_view name) {
  std::string n = LowerAscii(name);
  return IsCharacterType(n) || n == "decimal" || n == "numeric" || n == "varbinary" ||
         n == "binary" || n == "float";
}

// Words after which a "+" is a sign, not an operator.
bool IsKeywordBeforeOperand(std::string_view word) {
  static const char* const kWords[] = {"select", "where", "and",  "or",     "not",  "on",
                                       "when",   "then",  "else", "return", "set",  "by",
                                       "in",     "like",  "is",   "values", "case", "between"};
  std::string w = LowerAscii(word);
  for (const char* k : kWords) {
    if (w == k) return true;
  }
  return false;
}

class Translator {
 public:
  explicit Translator(Dialect dialect) : dialect_(dialect) {}
  Piece Render(const std::vector<Node>& nodes) const;

 private:
  std::vector<std::vector<Node>> SplitArgs(const std::vector<Node>& nodes) const;
  Piece RenderArg(const std::vector<Node>& nodes) const;
  std::string RenderVerbatim(const std::vector<Node>& nodes) const;
  std::optional<Piece> RenderCall(std::string_view name, const Node& group) const;
  std::optional<Piece> RenderCast(const Node& group) const;
  std::string QuotedName(std::string_view token_text) const;

  Dialect dialect_;
};

// PostgreSQL folds unquoted names to lower case; a bracketed or quoted T-SQL
// name is matched case-insensitively by SQL Server, so it is folded too.
std::string Translator::QuotedName(std::string_view token_text) const {
  if (dialect_ != Dialect::kPostgres || token_text.size() < 2) return std::string(token_text);
  std::string_view inner = token_text.substr(1, token_text.size() - 2);
  const char close = token_text.front() == '[' ? ']' : '"';
  std::string out = "\"";
  for (size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == close && i + 1 < inner.size() && inner[i + 1] == close) ++i;  // doubled
    if (inner[i] == '"') out += '"';
    out += FoldAscii(inner[i]);
  }
  return out + "\"";
}

std::string Translator::RenderVerbatim(const std::vector<Node>& nodes) const {
  std::string out;
  for (const Node& n : nodes) {
    if (n.IsGroup()) {
      out += "(" + RenderVerbatim(n.children) + (n.closed ? ")" : "");
    } else {
      out += n.token->text;
    }
  }
  return out;
}

std::vector<std::vector<Node>> Translator::SplitArgs(const std::vector<Node>& nodes) const {
  std::vector<std::vector<Node>> args(1);
  for (const Node& n : nodes) {
    if (n.Is(TokenKind::kComma)) {
      args.emplace_back();
    } else {
      args.back().push_back(n);
    }
  }
  return args;
}

// An argument without its surrounding blanks.
Piece Translator::RenderArg(const std::vector<Node>& nodes) const {
  size_t b = 0, e = nodes.size();
  while (b < e && !nodes[b].Significant()) ++b;
  while (e > b && !nodes[e - 1].Significant()) --e;
  return Render(std::vector<Node>(nodes.begin() + b, nodes.begin() + e));
}

std::optional<Piece> Translator::RenderCall(std::string_view name, const Node& group) const {
  std::string fn = LowerAscii(name);
  if (!group.closed) return std::nullopt;
  if (fn == "charindex") {
    auto args = SplitArgs(group.children);
    if (args.size() != 2) return std::nullopt;
    Piece p = Literal(dialect_ == Dialect::kPostgres ? "strpos(" : "instr(");
    p.Append(RenderArg(args[1]));
    p.text += ", ";
    p.Append(RenderArg(args[0]));
    p.text += ")";
    return p;
  }
  if (fn == "datepart") {
    auto args = SplitArgs(group.children);
    if (args.size() != 2) return std::nullopt;
    std::vector<const Node*> unit;
    for (const Node& n : args[0]) {
      if (n.Significant()) unit.push_back(&n);
    }
    if (unit.size() != 1 || !unit[0]->Is(TokenKind::kWord)) return std::nullopt;
    auto part = DatePartOf(unit[0]->token->text);
    if (!part) return std::nullopt;
    if (dialect_ == Dialect::kPostgres) {
      // floor: SQL Server gives whole seconds, EXTRACT keeps the fraction.
      Piece p = Literal(std::string("CAST(floor(EXTRACT(") + part->field + " FROM CAST(");
      p.Append(RenderArg(args[1]));
      p.text += " AS timestamp))) AS INTEGER)";
      return p;
    }
    Piece p = Literal(std::string("CAST(strftime('") + part->strftime_format + "', ");
    p.Append(RenderArg(args[1]));
    p.text += ") AS INTEGER)";
    return p;
  }
  if (fn == "cast") return RenderCast(group);
  if (IsSizedType(fn)) {
    return Literal(std::string(name) + "(" + RenderVerbatim(group.children) + ")");
  }
  return std::nullopt;
}

// CAST(x AS <character type>[(n)]): TEXT on SQLite, varchar(n) (or text) on
// PostgreSQL. Other casts are left alone.
std::optional<Piece> Translator::RenderCast(const Node& group) const {
  const auto& c = group.children;
  for (size_t i = 0; i < c.size(); ++i) {
    if (!IsWord(c[i], "as")) continue;
    size_t t = i + 1;
    while (t < c.size() && !c[t].Significant()) ++t;
    if (t == c.size() || !c[t].Is(TokenKind::kWord) || !IsCharacterType(c[t].token->text)) {
      return std::nullopt;
    }
    std::string type = "TEXT";
    if (dialect_ == Dialect::kPostgres) {
      size_t g = t + 1;
      while (g < c.size() && !c[g].Significant()) ++g;
      std::string length;
      if (g < c.size() && c[g].IsGroup()) length = RenderVerbatim(c[g].children);
      bool digits = !length.empty() && length.find_first_not_of("0123456789 ") == std::string::npos;
      type = digits ? "varchar(" + length + ")" : "text";  // "max" or no length
    }
    Piece p = Literal("CAST(");
    p.Append(RenderArg(std::vector<Node>(c.begin(), c.begin() + i)));
    p.text += " AS " + type + ")";
    p.is_string = true;
    return p;
  }
  return std::nullopt;
}

Piece Translator::Render(const std::vector<Node>& nodes) const {
  std::vector<Piece> items;
  std::vector<const Node*> origin;  // the node each item came from (first one)
  std::vector<std::string> limits;  // pending LIMIT of each select at this level
  bool in_ordinal_list = false;     // ORDER BY / GROUP BY: numbers are ordinals

  auto next_significant = [&](size_t i) {
    ++i;
    while (i < nodes.size() && !nodes[i].Significant()) ++i;
    return i;
  };
  auto flush_limits = [&]() {
    for (const std::string& n : limits) items.push_back(Literal(" LIMIT " + n));
    if (!limits.empty()) origin.resize(items.size(), nullptr);
    limits.clear();
  };

  for (size_t i = 0; i < nodes.size(); ++i) {
    const Node& n = nodes[i];
    if (n.IsGroup()) {
      Piece p = Literal("(");
      p.Append(Render(n.children));
      if (n.closed) p.text += ")";
      items.push_back(std::move(p));
      origin.push_back(&n);
      continue;
    }
    const Token& t = *n.token;
    if (t.kind == TokenKind::kWord) {
      std::string w = LowerAscii(t.text);
      if (w == "order" || w == "group") {
        size_t j = next_significant(i);
        if (j < nodes.size() && IsWord(nodes[j], "by")) in_ordinal_list = true;
      } else if (w != "by" && w != "asc" && w != "desc") {
        if (in_ordinal_list && (w == "limit" || w == "having" || w == "union" || w == "offset")) {
          in_ordinal_list = false;
        }
      }
      if (w == "select") {
        size_t j = next_significant(i);
        if (j < nodes.size() && (IsWord(nodes[j], "distinct") || IsWord(nodes[j], "all"))) {
          j = next_significant(j);
        }
        if (j < nodes.size() && IsWord(nodes[j], "top")) {
          size_t k = next_significant(j);
          const Node* count = k < nodes.size() ? &nodes[k] : nullptr;
          if (count && count->IsGroup() && count->children.size() == 1) count = &count->children[0];
          if (count && count->Is(TokenKind::kNumber)) {
            // Keep what stands between "select" and "top", drop "top n" and its blank.
            items.push_back(Literal(t.text));
            origin.push_back(&n);
            for (size_t m = i + 1; m < j; ++m) {
              items.push_back(Literal(nodes[m].token->text));
              origin.push_back(&nodes[m]);
            }
            limits.emplace_back(count->token->text);
            i = k;
            if (i + 1 < nodes.size() && nodes[i + 1].Is(TokenKind::kSpace)) ++i;
            continue;
          }
        }
      }
      size_t j = next_significant(i);
      if (j < nodes.size() && nodes[j].IsGroup()) {
        if (auto call = RenderCall(t.text, nodes[j])) {
          items.push_back(std::move(*call));
          origin.push_back(&n);
          i = j;
          continue;
        }
      }
      items.push_back(Literal(t.text));
    } else if (t.kind == TokenKind::kString && t.complete) {
      items.push_back(Parameter(SqlValue::Text(StringTokenValue(t.text)), true));
    } else if (t.kind == TokenKind::kBinary && t.complete && BinaryTokenValue(t.text)) {
      items.push_back(Parameter(SqlValue::Blob(*BinaryTokenValue(t.text)), false));
    } else if (t.kind == TokenKind::kNumber && !in_ordinal_list) {
      items.push_back(Parameter(NumberValue(t.text), false));
    } else if (t.kind == TokenKind::kQuoted && t.complete) {
      items.push_back(Literal(QuotedName(t.text)));
    } else if (t.kind == TokenKind::kSemicolon) {
      flush_limits();
      in_ordinal_list = false;
      items.push_back(Literal(t.text));
    } else {
      items.push_back(Literal(t.text));
    }
    origin.push_back(&n);
  }
  flush_limits();

  // String concatenation: "+" with a string on either side, left to right.
  auto significant = [&](size_t k) {
    return origin[k] == nullptr || origin[k]->Significant();
  };
  for (size_t k = 0; k < items.size(); ++k) {
    const Node* o = origin[k];
    if (!o || !o->Is(TokenKind::kOperator) || o->token->text != "+") continue;
    size_t prev = k, next = k + 1;
    while (prev > 0 && !significant(prev - 1)) --prev;
    while (next < items.size() && !significant(next)) ++next;
    if (prev == 0 || next == items.size()) continue;
    const Node* left = origin[prev - 1];
    bool sign = left && !left->IsGroup() &&
                (left->Is(TokenKind::kOperator) || left->Is(TokenKind::kComma) ||
                 left->Is(TokenKind::kSemicolon) ||
                 (left->Is(TokenKind::kWord) && IsKeywordBeforeOperand(left->token->text) &&
                  items[prev - 1].text == left->token->text));
    if (sign) continue;
    if (items[prev - 1].is_string || items[next].is_string) {
      items[k].text = "||";
      items[next].is_string = true;
    }
  }

  Piece out;
  for (const Piece& p : items) out.Append(p);
  out.is_string = items.size() == 1 && items[0].is_string;
  return out;
}

// The top-level statements of a batch, split at the semicolons outside
// parentheses; pieces holding only blanks and comments are dropped.
std::vector<std::vector<Node>> SplitBatch(const std::vector<Node>& nodes) {
  std::vector<std::vector<Node>> batch(1);
  for (const Node& n : nodes) {
    if (n.Is(TokenKind::kSemicolon)) {
      batch.emplace_back();
    } else {
      batch.back().push_back(n);
    }
  }
  std::erase_if(batch, [](const std::vector<Node>& statement) {
    return std::none_of(statement.begin(), statement.end(),
                        [](const Node& n) { return n.Significant(); });
  });
  return batch;
}

// "?" -> "$1", "$2"... at the recorded places.
std::string NumberPlaceholders(const Piece& p) {
  std::string out;
  size_t from = 0;
  for (size_t i = 0; i < p.holes.size(); ++i) {
    out.append(p.text, from, p.holes[i] - from);
    out += "$" + std::to_string(i + 1);
    from = p.holes[i] + 1;
  }
  out.append(p.text, from, std::string::npos);
  return out;
}

}  // namespace

Statement TranslateTsqlForSqlite(std::string_view tsql) {
  std::vector<Token> tokens = TokenizeTsql(tsql);
  size_t pos = 0;
  std::vector<Node> nodes = Nest(tokens, pos, nullptr);
  Piece p = Translator(Dialect::kSqlite).Render(nodes);
  return Statement{std::move(p.text), std::move(p.params)};
}

std::vector<Statement> TranslateTsqlForPostgres(std::string_view tsql) {
  std::vector<Token> tokens = TokenizeTsql(tsql);
  size_t pos = 0;
  std::vector<Node> nodes = Nest(tokens, pos, nullptr);
  std::vector<Statement> batch;
  for (const std::vector<Node>& statement : SplitBatch(nodes)) {
    Piece p = Translator(Dialect::kPostgres).Render(statement);
    batch.push_back(Statement{NumberPlaceholders(p), std::move(p.params)});
  }
  return batch;
}

}  // namespace zelto::ado
