#include "platform/ado/postgres_typing.h"

#include "platform/com/ascii.h"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>

namespace zelto::ado {
namespace {

std::optional<int64_t> ParseInteger(std::string_view text) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<double> ParseReal(std::string_view text) {
  std::string s(text);
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);  // also "Infinity" and "NaN"
  if (s.empty() || end != s.c_str() + s.size()) return std::nullopt;
  return v;
}

// Money in the "C" monetary locale the engine's sessions use: "$1,234.56",
// "-$0.50". Only digits, the sign and the point count.
std::optional<double> ParseMoney(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if ((c >= '0' && c <= '9') || c == '.' || c == '-') digits += c;
  }
  return ParseReal(digits);
}

// bytea's hex output, "\x0102".
std::optional<std::string> ParseBytea(std::string_view text) {
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::string bytes;
  for (size_t i = 2; i < text.size(); i += 2) {
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return bytes;
}

// A timestamp with time zone without its offset ("+08", "-03:30"): the
// session's local time, as a datetime column holds it.
std::string_view WithoutZone(std::string_view text) {
  size_t time = text.find(':');
  if (time == std::string_view::npos) return text;
  size_t zone = text.find_first_of("+-", time);
  return zone == std::string_view::npos ? text : text.substr(0, zone);
}

}  // namespace

ResultColumn PostgresColumn(std::string_view name, uint32_t type_oid, int type_modifier,
                            bool from_table) {
  ResultColumn column;
  column.name = std::string(name);
  switch (type_oid) {
    case pg_oid::kInt4:
    case pg_oid::kOid:
      column.type = SqlType::kInt;
      break;
    case pg_oid::kInt2:
      column.type = SqlType::kSmallInt;
      break;
    case pg_oid::kInt8:
      column.type = from_table ? SqlType::kBigInt : SqlType::kUnknown;
      break;
    case pg_oid::kBool:
      column.type = SqlType::kBit;
      break;
    case pg_oid::kFloat8:
      column.type = SqlType::kFloat;
      break;
    case pg_oid::kFloat4:
      column.type = SqlType::kReal;
      break;
    case pg_oid::kMoney:
      column.type = SqlType::kMoney;
      break;
    case pg_oid::kNumeric:
      column.type = SqlType::kDecimal;
      // typmod = ((precision << 16) | scale) + 4; none for a bare numeric.
      column.scale = type_modifier >= 4 ? ((type_modifier - 4) & 0xffff) : -1;
      break;
    case pg_oid::kDate:
    case pg_oid::kTimestamp:
    case pg_oid::kTimestampTz:
      column.type = SqlType::kDateTime;
      break;
    case pg_oid::kBytea:
      column.type = SqlType::kBinary;
      break;
    default:
      column.type = SqlType::kText;
      break;
  }
  return column;
}

SqlValue PostgresValue(std::string_view text, uint32_t type_oid) {
  switch (type_oid) {
    case pg_oid::kInt2:
    case pg_oid::kInt4:
    case pg_oid::kInt8:
    case pg_oid::kOid:
      if (auto v = ParseInteger(text)) return SqlValue::Integer(*v);
      break;
    case pg_oid::kBool:
      if (text == "t" || text == "f") return SqlValue::Integer(text == "t" ? 1 : 0);
      break;
    case pg_oid::kFloat4:
    case pg_oid::kFloat8:
      if (auto v = ParseReal(text)) return SqlValue::Real(*v);
      break;
    case pg_oid::kMoney:
      if (auto v = ParseMoney(text)) return SqlValue::Real(*v);
      break;
    case pg_oid::kBytea:
      if (auto bytes = ParseBytea(text)) return SqlValue::Blob(std::move(*bytes));
      break;
    case pg_oid::kTimestampTz:
      return SqlValue::Text(std::string(WithoutZone(text)));
    default:
      break;
  }
  return SqlValue::Text(std::string(text));
}

}  // namespace zelto::ado
