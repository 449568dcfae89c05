// Checks shared by the two T-SQL translation targets.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/sql_value.h"
#include "platform/ado/tsql_tokenizer.h"

namespace zelto::fuzz {

// Aborts unless the tokens give the text back byte for byte, none is empty,
// and every complete string token reads back to its own text.
void CheckTokens(std::string_view sql, const std::vector<ado::Token>& tokens);

// True when the text holds nothing the translator rewrites for `postgres`:
// no literal, no "+", no function or type it converts, no "top"; for
// PostgreSQL also no quoted name and no ';'.
bool WithoutTsqlConstructs(const std::vector<ado::Token>& tokens, bool postgres);

// `text` as a T-SQL string literal.
std::string QuoteTsql(std::string_view text);

}  // namespace zelto::fuzz
