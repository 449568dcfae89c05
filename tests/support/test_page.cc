#include "tests/support/test_page.h"

#include "platform/win/codepage.h"

namespace zelto::testing {

TestPage::TestPage() : session_(std::make_shared<SessionValues>()) {
  server_variables_["REMOTE_ADDR"] = "127.0.0.1";
}

TestPage& TestPage::Query(std::string_view query, PageCharset charset) {
  queries_.emplace_back(std::string(query), charset);
  return *this;
}

TestPage& TestPage::QueryValue(std::string_view key, const VARIANT& value) {
  query_values_.emplace_back(Utf8ToWide(key), VariantValue(value));
  return *this;
}

TestPage& TestPage::Session(std::string_view key, std::string_view value) {
  session_->SetText(key, value);
  return *this;
}

TestPage& TestPage::Session(std::string_view key, LONG value) {
  session_->SetLong(key, value);
  return *this;
}

TestPage& TestPage::Database(std::string_view data_dir, std::string_view name,
                             std::string_view count) {
  return Session("DBServer", data_dir).Session("DBName", name).Session("DBCount", count);
}

TestPage& TestPage::Database(const SeededDatabase& db) {
  return Database(db.folder(), db.catalog("chat"), db.catalog("count"))
      .Session("DBUserName", db.user())
      .Session("DBPWD", db.password());
}

TestPage& TestPage::ServerVariable(std::string_view key, std::string_view value) {
  server_variables_[std::string(key)] = std::string(value);
  return *this;
}

TestPage& TestPage::NoSession() {
  no_session_ = true;
  return *this;
}

TestPage& TestPage::Fail(PageMember member, HRESULT hr) {
  failures_[member] = hr;
  return *this;
}

InMemoryPage TestPage::Build() const {
  InMemoryPage::Builder builder;
  for (const auto& [query, charset] : queries_) builder.QueryString(query, charset);
  for (const auto& [key, value] : query_values_) builder.QueryValue(key, value.get());
  for (const auto& [key, value] : server_variables_) builder.ServerVariable(key, value);
  builder.Session(session_);
  if (no_session_) builder.NoSession();
  for (const auto& [member, hr] : failures_) builder.Fail(member, hr);
  return builder.Build();
}

std::string BodyUtf8(const InMemoryPage& page) { return WideToUtf8(page.body()); }

}  // namespace zelto::testing
