#include "tests/support/host/in_process_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/command.h"
#include "platform/ado/engine.h"
#include "tests/support/served_site.h"
#include "tests/support/standing_operator.h"

namespace zelto::testing {

InProcessSite::InProcessSite(std::vector<std::string> serve_args, Time time) {
  if (const ado::Engine* engine = ado::GetDatabaseEngine()) engine_before_ = engine->Name();
  for (const char* sql : kStandingOperatorStatements) db_.Execute("chat", sql);
  output_path_ = registry_.folder() + "/site.out";
  output_ = std::fopen(output_path_.c_str(), "w");
  if (!output_) {
    ADD_FAILURE() << "cannot write " << output_path_;
    return;
  }
  std::setvbuf(output_, nullptr, _IONBF, 0);

  serve::SiteOptions options;
  std::vector<std::string> args = {"--listen",     "127.0.0.1:0", "--data", db_.folder(),
                                   "--access-log", "off",         "--demo"};
  args.insert(args.end(), serve_args.begin(), serve_args.end());
  std::vector<std::string> operands;
  std::string error;
  if (ServeCommandLine(&options).Parse(args, &operands, &error) != CommandLine::Outcome::kRun ||
      !(error = serve::CheckSiteOptions(options)).empty()) {
    ADD_FAILURE() << "zelto serve options: " << error;
    return;
  }
  options.www_root = WriteTestPages(registry_.folder() + "/pages");

  serve::SiteSurroundings surroundings;
  if (time == Time::kManual) surroundings.clock = &clock_;
  surroundings.out = output_;
  surroundings.log = output_;
  serve::StartFailure failure;
  site_ = serve::RunningSite::Start(options, surroundings, &failure);
  if (!site_) {
    ADD_FAILURE() << "the site did not start (" << failure.status << "): " << failure.message;
    return;
  }
  site_->PrintWelcome();
  port_ = site_->port();
  std::packaged_task<void()> run([site = site_.get()] { site->Run(); });
  ran_ = run.get_future();
  runner_ = std::thread(std::move(run));
}

InProcessSite::~InProcessSite() {
  Stop();
  if (output_) std::fclose(output_);
  if (!engine_before_.empty()) ado::SetDatabaseEngine(engine_before_);
}

bool InProcessSite::Stop() {
  if (!site_) return true;
  site_->Stop();
  const bool ended = ran_.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  EXPECT_TRUE(ended) << "the site did not stop";
  runner_.join();  // hangs the test when it never ends: better than freeing a running site
  site_.reset();
  return ended;
}

std::unique_ptr<LoopbackHttpClient> InProcessSite::Client() const {
  return std::make_unique<LoopbackHttpClient>(port_);
}

std::string InProcessSite::Visit(LoopbackHttpClient& client, const std::string& referrer) {
  return VisitCompanySite(client, db_, referrer);
}

std::string InProcessSite::Output() const {
  std::ifstream in(output_path_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace zelto::testing
