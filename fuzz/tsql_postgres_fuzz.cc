// The T-SQL tokenizer and the translation into PostgreSQL's dialect: a batch
// split into statements with numbered placeholders.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/tsql_properties.h"
#include "platform/ado/tsql_translator.h"

namespace ado = zelto::ado;

namespace {

// True when the "$n" placeholders of `text` are $1, $2 ... $count in order.
bool PlaceholdersNumbered(std::string_view text, size_t count) {
  size_t expected = 1;
  for (size_t at = text.find('$'); at != std::string_view::npos; at = text.find('$', at + 1)) {
    size_t end = at + 1;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (text.substr(at + 1, end - at - 1) != std::to_string(expected)) return false;
    ++expected;
  }
  return expected == count + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view sql = zelto::fuzz::AsText(data, size);
  const auto tokens = ado::TokenizeTsql(sql);
  zelto::fuzz::CheckTokens(sql, tokens);

  const auto batch = ado::TranslateTsqlForPostgres(sql);
  const auto again = ado::TranslateTsqlForPostgres(sql);
  FUZZ_CHECK(batch.size() == again.size(), "translation is not deterministic");
  size_t semicolons = 0;
  for (const auto& t : tokens) semicolons += t.kind == ado::TokenKind::kSemicolon;
  FUZZ_CHECK(batch.size() <= semicolons + 1, "more statements than the batch holds");
  for (size_t i = 0; i < batch.size(); ++i) {
    FUZZ_CHECK(batch[i].text == again[i].text && batch[i].parameters == again[i].parameters,
               "translation is not deterministic");
    if (sql.find('$') == std::string_view::npos)
      FUZZ_CHECK(PlaceholdersNumbered(batch[i].text, batch[i].parameters.size()),
                 "placeholders are not $1..$n for the parameters");
  }
  if (zelto::fuzz::WithoutTsqlConstructs(tokens, true)) {
    bool significant = false;
    for (const auto& t : tokens)
      significant = significant || (t.kind != ado::TokenKind::kSpace && t.kind != ado::TokenKind::kComment);
    FUZZ_CHECK(batch.size() == (significant ? 1u : 0u), "a single statement was split");
    if (significant)
      FUZZ_CHECK(batch[0].text == sql && batch[0].parameters.empty(),
                 "a statement without T-SQL constructs changed");
  }

  const auto literal = ado::TranslateTsqlForPostgres("select " + zelto::fuzz::QuoteTsql(sql));
  FUZZ_CHECK(literal.size() == 1 && literal[0].text == "select $1",
             "a string literal leaked into the text");
  FUZZ_CHECK(literal[0].parameters.size() == 1 &&
                 literal[0].parameters[0] == ado::SqlValue::Text(std::string(sql)),
             "a string literal's value changed");
  return 0;
}
