// The T-SQL tokenizer and the translation into SQLite's dialect.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/tsql_properties.h"
#include "platform/ado/tsql_translator.h"

namespace ado = zelto::ado;

namespace {

size_t CountByte(std::string_view text, char c) {
  size_t n = 0;
  for (char x : text) n += x == c;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view sql = zelto::fuzz::AsText(data, size);
  const auto tokens = ado::TokenizeTsql(sql);
  zelto::fuzz::CheckTokens(sql, tokens);

  const ado::Statement statement = ado::TranslateTsqlForSqlite(sql);
  const ado::Statement again = ado::TranslateTsqlForSqlite(sql);
  FUZZ_CHECK(statement.text == again.text && statement.parameters == again.parameters,
             "translation is not deterministic");
  if (sql.find('?') == std::string_view::npos)
    FUZZ_CHECK(CountByte(statement.text, '?') == statement.parameters.size(),
               "placeholders and parameters differ in number");
  if (zelto::fuzz::WithoutTsqlConstructs(tokens, false))
    FUZZ_CHECK(statement.text == sql && statement.parameters.empty(),
               "a statement without T-SQL constructs changed");

  // Any text as a string literal comes back as one text parameter.
  const ado::Statement literal =
      ado::TranslateTsqlForSqlite("select " + zelto::fuzz::QuoteTsql(sql) + " as v");
  FUZZ_CHECK(literal.text == "select ? as v", "a string literal leaked into the text");
  FUZZ_CHECK(literal.parameters.size() == 1 &&
                 literal.parameters[0] == ado::SqlValue::Text(std::string(sql)),
             "a string literal's value changed");
  return 0;
}
