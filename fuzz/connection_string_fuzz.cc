// The OLE DB connection-string parser: what it accepts, written back with
// every value quoted, parses to the same target.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/ado/connection_string.h"

namespace ado = zelto::ado;

namespace {

std::string Quoted(std::string_view value, char quote) {
  std::string out(1, quote);
  for (char c : value) {
    if (c == quote) out += quote;
    out += c;
  }
  return out + quote;
}

std::string Write(const ado::ConnectionString& cs, char quote) {
  return "Provider=" + Quoted(cs.provider, quote) + ";Data Source=" + Quoted(cs.data_source, quote) +
         "; initial  CATALOG =" + Quoted(cs.initial_catalog, quote) +
         ";User ID=" + Quoted(cs.user_id, quote) + ";Password=" + Quoted(cs.password, quote) + ";";
}

bool Same(const ado::ConnectionString& a, const ado::ConnectionString& b) {
  return a.provider == b.provider && a.data_source == b.data_source &&
         a.initial_catalog == b.initial_catalog && a.user_id == b.user_id &&
         a.password == b.password;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = zelto::fuzz::AsText(data, size);
  const auto parsed = ado::ParseConnectionString(text);
  if (!parsed) return 0;
  for (char quote : {'"', '\''}) {
    const auto reparsed = ado::ParseConnectionString(Write(*parsed, quote));
    FUZZ_CHECK(reparsed.has_value(), "a written connection string does not parse");
    FUZZ_CHECK(Same(*parsed, *reparsed), "parse -> write -> parse changed a value");
    FUZZ_CHECK(reparsed->PoolKey() == parsed->PoolKey(), "the pool key changed");
  }
  // The pool key tells targets apart: another password is another pool.
  ado::ConnectionString other = *parsed;
  other.password += "x";
  FUZZ_CHECK(other.PoolKey() != parsed->PoolKey(), "two targets share a pool key");
  return 0;
}
