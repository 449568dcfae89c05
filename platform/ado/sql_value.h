// Engine-level values and result sets: what a database engine hands back
// before the ADO layer turns it into VARIANTs. Text is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelto::ado {

// A stored value by storage class, as engines report it.
struct SqlValue {
  enum class Kind { kNull, kInteger, kReal, kText, kBlob };
  Kind kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text (UTF-8) or blob bytes

  static SqlValue Null() { return {}; }
  static SqlValue Integer(int64_t v) { return {Kind::kInteger, v, 0, {}}; }
  static SqlValue Real(double v) { return {Kind::kReal, 0, v, {}}; }
  static SqlValue Text(std::string v) { return {Kind::kText, 0, 0, std::move(v)}; }
  static SqlValue Blob(std::string v) { return {Kind::kBlob, 0, 0, std::move(v)}; }
  bool operator==(const SqlValue&) const = default;
};

// A column's declared type in SQL Server's terms; it decides the VARIANT type
// of the column's values. kUnknown (computed columns) types by storage class.
enum class SqlType {
  kUnknown, kInt, kSmallInt, kTinyInt, kBit, kBigInt, kFloat, kReal,
  kMoney, kDecimal, kDateTime, kText, kBinary,
};

// Maps a declared type ("INT", "nvarchar(50)", "DATETIME", "bit"...), case-
// insensitively, by its leading type name; anything unrecognised is kUnknown.
SqlType SqlTypeFromDeclared(std::string_view declared);

struct ResultColumn {
  std::string name;
  SqlType type = SqlType::kUnknown;
  int scale = -1;  // digits after the point of a declared decimal(p,s); -1 when not given
};

// The s of "decimal(p,s)" / "numeric(p,s)" (0 for "decimal(p)"), or -1.
int DecimalScaleFromDeclared(std::string_view declared);

// The outcome of one statement. A statement that yields no result set (insert,
// update, delete) has no columns; `rows_affected` counts its changes.
struct ResultSet {
  std::vector<ResultColumn> columns;
  std::vector<SqlValue> cells;  // row-major, columns.size() per row
  int64_t rows_affected = 0;

  bool HasResultSet() const { return !columns.empty(); }
  size_t RowCount() const { return columns.empty() ? 0 : cells.size() / columns.size(); }
  const SqlValue& At(size_t row, size_t column) const {
    return cells[row * columns.size() + column];
  }
};

// A statement ready for an engine: text with "?" placeholders and the values
// bound to them, in order.
struct Statement {
  std::string text;
  std::vector<SqlValue> parameters;
};

}  // namespace zelto::ado
