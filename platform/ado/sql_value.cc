#include "platform/ado/sql_value.h"

#include <cctype>
#include <string>

#include "platform/com/ascii.h"

namespace zelto::ado {

SqlType SqlTypeFromDeclared(std::string_view declared) {
  std::string name;
  for (char c : declared) {
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      if (!name.empty()) break;
      continue;
    }
    name += FoldAscii(c);
  }
  struct Entry {
    const char* name;
    SqlType type;
  };
  static constexpr Entry kTypes[] = {
      {"int", SqlType::kInt},           {"integer", SqlType::kInt},
      {"smallint", SqlType::kSmallInt}, {"tinyint", SqlType::kTinyInt},
      {"bit", SqlType::kBit},           {"bigint", SqlType::kBigInt},
      {"float", SqlType::kFloat},       {"double", SqlType::kFloat},
      {"real", SqlType::kReal},         {"money", SqlType::kMoney},
      {"smallmoney", SqlType::kMoney},  {"decimal", SqlType::kDecimal},
      {"numeric", SqlType::kDecimal},   {"datetime", SqlType::kDateTime},
      {"smalldatetime", SqlType::kDateTime}, {"char", SqlType::kText},
      {"varchar", SqlType::kText},      {"nchar", SqlType::kText},
      {"nvarchar", SqlType::kText},     {"text", SqlType::kText},
      {"ntext", SqlType::kText},        {"binary", SqlType::kBinary},
      {"varbinary", SqlType::kBinary},  {"image", SqlType::kBinary},
      {"blob", SqlType::kBinary},
  };
  for (const Entry& e : kTypes) {
    if (name == e.name) return e.type;
  }
  return SqlType::kUnknown;
}

int DecimalScaleFromDeclared(std::string_view declared) {
  size_t open = declared.find('(');
  if (open == std::string_view::npos) return -1;
  size_t comma = declared.find(',', open);
  if (comma == std::string_view::npos) return 0;
  int scale = 0;
  bool digits = false;
  for (size_t i = comma + 1; i < declared.size() && declared[i] != ')'; ++i) {
    if (std::isdigit(static_cast<unsigned char>(declared[i]))) {
      scale = scale * 10 + (declared[i] - '0');
      digits = true;
      if (scale > 28) return -1;
    } else if (declared[i] != ' ') {
      return -1;
    }
  }
  return digits ? scale : -1;
}

}  // namespace zelto::ado
