#include "fuzz/tsql_properties.h"

#include <cctype>

#include "fuzz/fuzz_check.h"

namespace zelto::fuzz {
namespace {

bool IsRewrittenWord(std::string_view word) {
  static constexpr std::string_view kWords[] = {
      "top",  "charindex", "datepart", "cast",    "nvarchar",  "varchar", "char",  "nchar",
      "text", "ntext",     "decimal",  "numeric", "varbinary", "binary",  "float"};
  std::string lower;
  for (char c : word) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view w : kWords)
    if (lower == w) return true;
  return false;
}

}  // namespace

void CheckTokens(std::string_view sql, const std::vector<ado::Token>& tokens) {
  std::string joined;
  for (const ado::Token& t : tokens) {
    FUZZ_CHECK(!t.text.empty(), "an empty token");
    joined += t.text;
    if (t.kind == ado::TokenKind::kString && t.complete) {
      std::string_view body = t.text;
      if (body[0] == 'N' || body[0] == 'n') body.remove_prefix(1);
      FUZZ_CHECK(QuoteTsql(ado::StringTokenValue(t.text)) == body,
                 "a string token does not read back to its text");
    }
  }
  FUZZ_CHECK(joined == sql, "the tokens do not give the text back");
}

bool WithoutTsqlConstructs(const std::vector<ado::Token>& tokens, bool postgres) {
  for (const ado::Token& t : tokens) {
    switch (t.kind) {
      case ado::TokenKind::kString:
      case ado::TokenKind::kNumber:
      case ado::TokenKind::kBinary:
        return false;
      case ado::TokenKind::kQuoted:
      case ado::TokenKind::kSemicolon:
        if (postgres) return false;
        break;
      case ado::TokenKind::kWord:
        if (IsRewrittenWord(t.text)) return false;
        break;
      case ado::TokenKind::kOperator:
        if (t.text == "+") return false;
        break;
      default:
        break;
    }
  }
  return true;
}

std::string QuoteTsql(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace zelto::fuzz
