// ServedSite: the demo data set served by a `zelto serve` of its own, with
// a small page folder of the test's (ZELTO_WWW) so that tests do not depend
// on the real pages: index.html, site/index.html, site/about.html,
// css/site.css, the site's language catalogs (i18n/) and a file outside the
// folder (secret.txt beside it) that must never be served. Helpers play
// visitors and operators.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/loopback_http_client.h"
#include "tests/support/seeded_database.h"
#include "tests/support/serve_process.h"

namespace zelto::testing {

class ServedSite {
 public:
  explicit ServedSite(std::vector<std::string> extra_args = {});
  ~ServedSite();

  SeededDatabase& db() { return db_; }
  ServeProcess& process() { return *process_; }
  uint16_t port() const { return process_->port(); }
  std::unique_ptr<LoopbackHttpClient> Client() const;
  // Stops the host and starts a new one on the same data folder and
  // arguments (its port changes); the stop's exit status.
  int Restart();

  // Logs the client in as operator `id`; the session's token ("" and a test
  // failure when the login is refused).
  static std::string Login(LoopbackHttpClient& client, int id, const std::string& password);
  // The client's first page of the company site; the new visitor's label
  // ("" and a test failure when no visitor row appeared).
  std::string Visit(LoopbackHttpClient& client, const std::string& referrer = "");
  // Opens a chat for the visitor; its conversation id (0 on failure).
  static int OpenChat(LoopbackHttpClient& visitor);

 private:
  SeededDatabase db_{true};
  std::string www_;
  std::vector<std::string> extra_args_;
  std::unique_ptr<ServeProcess> process_;
};

// The test's page folder under `root`: www/ with index.html, site/index.html,
// site/about.html, css/site.css and i18n/, and secret.txt beside www/. Gives the
// www folder.
std::string WriteTestPages(const std::string& root);
// The client's first page of the company site; the new visitor's label
// ("" and a test failure when no visitor row appeared in `db`).
std::string VisitCompanySite(LoopbackHttpClient& client, SeededDatabase& db,
                             const std::string& referrer = "");

// The JSON number after "key": in `json`, or -1.
long long JsonNumber(const std::string& json, const std::string& key);
// The JSON string after "key": in `json` (no escapes decoded), or "".
std::string JsonText(const std::string& json, const std::string& key);

}  // namespace zelto::testing
