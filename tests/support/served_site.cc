#include "tests/support/served_site.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/support/standing_operator.h"

namespace zelto::testing {
namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> VisitorLabels(SeededDatabase& db) {
  std::set<std::string> labels;
  for (const SeededRow& row : db.Query("chat", "select cstLabel from onlineCst"))
    labels.insert(row.at("cstLabel"));
  return labels;
}

}  // namespace

std::string WriteTestPages(const std::string& root_folder) {
  const fs::path root(root_folder);
  WriteFile(root / "www" / "index.html", "<!doctype html><title>start</title>");
  WriteFile(root / "www" / "site" / "index.html", "<!doctype html><title>demo company</title>");
  WriteFile(root / "www" / "site" / "about.html", "<!doctype html><title>about</title>");
  WriteFile(root / "www" / "css" / "site.css", "body{color:#333}");
  // The site's own language catalogs: the host chooses among them.
  fs::create_directories(root / "www" / "i18n");
  for (const auto& catalog : fs::directory_iterator(fs::path(ZELTO_SOURCE_DIR) / "host/www/i18n"))
    fs::copy_file(catalog.path(), root / "www" / "i18n" / catalog.path().filename(),
                  fs::copy_options::overwrite_existing);
  WriteFile(root / "secret.txt", "not for the web");
  return (root / "www").string();
}

std::string VisitCompanySite(LoopbackHttpClient& client, SeededDatabase& db,
                             const std::string& referrer) {
  const std::set<std::string> before = VisitorLabels(db);
  LoopbackHttpClient::Headers headers;
  if (!referrer.empty()) headers.emplace_back("Referer", referrer);
  const HttpReply reply = client.Get("/site/index.html", headers);
  EXPECT_EQ(reply.status, 200);
  for (const std::string& label : VisitorLabels(db)) {
    if (!before.count(label)) return label;
  }
  ADD_FAILURE() << "no visitor row after the first page view";
  return "";
}

ServedSite::ServedSite(std::vector<std::string> extra_args) {
  const fs::path root =
      fs::path(db_.folder()).parent_path() / (fs::path(db_.folder()).filename().string() + "-www");
  www_ = root.string();
  WriteTestPages(www_);
  extra_args_ = std::move(extra_args);
  for (const char* sql : kStandingOperatorStatements) db_.Execute("chat", sql);
  Restart();
}

int ServedSite::Restart() {
  const int status = process_ ? process_->Stop() : 0;
  process_ = std::make_unique<ServeProcess>(
      db_.folder(), extra_args_,
      std::vector<std::pair<std::string, std::string>>{{"ZELTO_WWW", www_ + "/www"}});
  EXPECT_NE(process_->port(), 0) << process_->Output();
  return status;
}

ServedSite::~ServedSite() {
  process_.reset();
  std::error_code ec;
  fs::remove_all(www_, ec);
}

std::unique_ptr<LoopbackHttpClient> ServedSite::Client() const {
  return std::make_unique<LoopbackHttpClient>(port());
}

std::string ServedSite::Login(LoopbackHttpClient& client, int id, const std::string& password) {
  const HttpReply reply =
      client.Post("/api/login", "id=" + std::to_string(id) + "&password=" + password);
  EXPECT_EQ(reply.status, 200) << reply.body;
  return reply.status == 200 ? JsonText(reply.body, "token") : "";
}

std::string ServedSite::Visit(LoopbackHttpClient& client, const std::string& referrer) {
  return VisitCompanySite(client, db_, referrer);
}

int ServedSite::OpenChat(LoopbackHttpClient& visitor) {
  const HttpReply reply = visitor.Post("/api/visitor/chat", "");
  EXPECT_EQ(reply.status, 200) << reply.body;
  return static_cast<int>(JsonNumber(reply.body, "cid"));
}

long long JsonNumber(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const size_t at = json.find(marker);
  if (at == std::string::npos) return -1;
  return std::strtoll(json.c_str() + at + marker.size(), nullptr, 10);
}

std::string JsonText(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  const size_t at = json.find(marker);
  if (at == std::string::npos) return "";
  const size_t start = at + marker.size();
  return json.substr(start, json.find('"', start) - start);
}

}  // namespace zelto::testing
