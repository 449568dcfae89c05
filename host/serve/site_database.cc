#include "host/serve/site_database.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/ado/ado.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/win/codepage.h"
#include "platform/win/local_time.h"

namespace zelto::serve {
namespace {

class Bstr {
 public:
  explicit Bstr(std::string_view utf8) : bstr_(SysAllocStringView(Utf8ToWide(utf8))) {}
  ~Bstr() { SysFreeString(bstr_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return bstr_; }

 private:
  BSTR bstr_;
};

std::string Hr(HRESULT hr) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string FieldText(_Recordset* rs, const std::string& column) {
  VARIANT index = MakeVariantBstr(Utf8ToWide(column));
  VARIANT value;
  VariantInit(&value);
  std::string text;
  if (SUCCEEDED(rs->get_Collect(index, &value)) && value.vt != VT_NULL && value.vt != VT_EMPTY) {
    VARIANT converted;
    VariantInit(&converted);
    if (value.vt == VT_BSTR) {
      text = WideToUtf8(BstrView(value.bstrVal));
    } else if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_BSTR))) {
      text = WideToUtf8(BstrView(converted.bstrVal));
    }
    VariantClear(&converted);
  }
  VariantClear(&value);
  VariantClear(&index);
  return text;
}

// The statement's first words ("insert into cstTrack"), which name what
// failed without the values: a log keeps one line per kind of failure.
std::string StatementShape(const std::string& sql) {
  size_t end = 0;
  for (int words = 0; words < 3 && end != std::string::npos; ++words) {
    end = sql.find_first_not_of(' ', end);
    if (end != std::string::npos) end = sql.find_first_of(" (", end);
  }
  return sql.substr(0, end);
}

}  // namespace

std::string SqlText(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  quoted += '\'';
  return quoted;
}

std::optional<LONG> ParseId(std::string_view text) {
  if (text.empty() || text.size() > 11) return std::nullopt;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (text[0] == '-') value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<LONG>(value);
}

std::string NowText() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

SiteDatabase::SiteDatabase(std::string server, std::string user, std::string password)
    : server_(std::move(server)), user_(std::move(user)), password_(std::move(password)) {}

std::string SiteDatabase::ConnectionString(std::string_view catalog) const {
  return "Provider=SQLOLEDB.1; Data Source=" + server_ +
         "; Initial Catalog=" + std::string(catalog) + "; User ID=" + user_ + "; PWD=" + password_;
}

bool SiteDatabase::Run(std::string_view catalog, const std::string& sql,
                       const std::vector<std::string>& columns, std::vector<Row>* rows,
                       LONG* affected_rows, std::string* error) const {
  ComPtr<_Connection> connection;
  HRESULT hr = CreateObjectByProgID("ADODB.Connection", IID__Connection, connection.ReceiveVoid());
  if (FAILED(hr)) {
    *error = "cannot create ADODB.Connection (" + Hr(hr) + ")";
    return false;
  }
  const Bstr target(ConnectionString(catalog)), empty("");
  hr = connection->Open(target.get(), empty.get(), empty.get(), adOptionUnspecified);
  if (FAILED(hr)) {
    *error = "cannot open the " + std::string(catalog) + " database (" + Hr(hr) + ")";
    return false;
  }
  const Bstr command(sql);
  ComPtr<_Recordset> rs;
  VARIANT affected;
  VariantInit(&affected);
  hr = connection->Execute(command.get(), &affected, adCmdText, rs.Receive());
  if (FAILED(hr)) {
    *error = "statement failed (" + Hr(hr) + "): " + StatementShape(sql);
    connection->Close();
    return false;
  }
  if (rows) {
    rows->clear();
    LONG state = adStateClosed;
    if (rs && SUCCEEDED(rs->get_State(&state)) && (state & adStateOpen)) {
      VARIANT_BOOL eof = VARIANT_TRUE;
      while (SUCCEEDED(rs->get_EOF(&eof)) && eof == VARIANT_FALSE) {
        Row& row = rows->emplace_back();
        for (const std::string& column : columns) row.push_back(FieldText(rs.Get(), column));
        if (FAILED(rs->MoveNext())) break;
      }
    }
  } else if (affected_rows) {
    VARIANT count;
    VariantInit(&count);
    *affected_rows = SUCCEEDED(VariantChangeType(&count, &affected, 0, VT_I4)) ? count.lVal : 0;
    VariantClear(&count);
  }
  VariantClear(&affected);
  LONG state = adStateClosed;
  if (rs && SUCCEEDED(rs->get_State(&state)) && (state & adStateOpen)) rs->Close();
  connection->Close();
  return true;
}

bool SiteDatabase::Query(std::string_view catalog, const std::string& sql,
                         const std::vector<std::string>& columns, std::vector<Row>* rows,
                         std::string* error) const {
  return Run(catalog, sql, columns, rows, nullptr, error);
}

bool SiteDatabase::Execute(std::string_view catalog, const std::string& sql, LONG* affected,
                           std::string* error) const {
  return Run(catalog, sql, {}, nullptr, affected, error);
}

}  // namespace zelto::serve
