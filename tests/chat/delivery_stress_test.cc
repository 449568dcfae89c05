// Delivery under load, in process: visitors and operators of several
// conversations, each in a thread of its own, post numbered messages and
// poll for a bounded time on one database. Afterwards every message must be
// stored once, and every participant must have received every message of
// its conversation that it did not send, exactly once (each participant
// polls from one thread, so its polls never overlap). A visitor who is no
// member polls one conversation all along and must receive nothing. No
// statement may fail, busy or locked databases included.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "chat/client_post.h"
#include "chat/invitation.h"
#include "chat/polling.h"
#include "chat/user_post.h"
#include "platform/ado/engine_failures.h"
#include "tests/support/chat_scene.h"
#include "tests/support/delivery_ledger.h"

namespace zelto::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kRunTime = 3s;
constexpr size_t kMostPostsEach = 250;  // bounds the rows on a fast machine
const char kIntruder[] = "VS99";

// Who takes part: a visitor label (operator 0) or an operator id. A late
// operator is invited by the conversation's first operator during the run.
struct Seat {
  int cid;
  std::string label;
  LONG operator_id;
  bool late = false;
};

// Four conversations with one or two operators each, and one operator who
// joins conversation 14 halfway; operator 5 works in three conversations at
// once. Conversations 11 and 13 have a preMsg row, so only the others copy
// operator messages to inviteMsg (a transaction per post).
const Seat kSeats[] = {
    {11, "VS11", 0}, {11, "", 5},                      //
    {12, "VS12", 0}, {12, "", 5},  {12, "", 12},       //
    {13, "VS13", 0}, {13, "", 5},  {13, "", 7},        //
    {14, "VS14", 0}, {14, "", 12}, {14, "", 7, true},  //
};

// Every engine failure during the run, in words; busy and lock errors counted.
class FailureLog {
 public:
  FailureLog() {
    ado::SetEngineFailureSink([this](std::string_view engine, std::string_view what,
                                     std::string_view error) { Add(engine, what, error); });
  }
  ~FailureLog() { ado::SetEngineFailureSink(nullptr); }

  std::vector<std::string> failures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
  }
  size_t busy() {
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_;
  }

 private:
  void Add(std::string_view engine, std::string_view what, std::string_view error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (IsBusy(error)) ++busy_;
    failures_.push_back(std::string(engine) + " " + std::string(what) + ": " + std::string(error));
  }
  static bool IsBusy(std::string_view error) {
    for (std::string_view sign : {"locked", "busy", "deadlock", "could not serialize"}) {
      if (error.find(sign) != std::string_view::npos) return true;
    }
    return false;
  }

  std::mutex mutex_;
  std::vector<std::string> failures_;
  size_t busy_ = 0;
};

class DeliveryStressTest : public ChatScene {
 protected:
  void SetUp() override {
    ChatScene::SetUp();
    if (IsSkipped()) return;
    for (const Seat& seat : kSeats) {
      const std::string cid = std::to_string(seat.cid);
      if (seat.late) continue;
      if (seat.operator_id == 0) {
        Execute("insert into onlineCst(cstLabel,nickName,CompanyID) values('" + seat.label +
                "','n" + seat.label + "',1)");
      }
      Execute("insert into C_members(cid,serid,cstlabel,addtime,IsChat) values(" + cid + "," +
              std::to_string(seat.operator_id) + ",'" + seat.label + "','2024-01-01 10:00:00',1)");
    }
    Execute("insert into onlineCst(cstLabel,nickName,CompanyID) values('VS99','intruder',1)");
    Execute("insert into preMsg(cstlabel,conid) values('VS11',11),('VS13',13)");
    for (const Seat& seat : kSeats) {
      const bool visitor = seat.operator_id == 0;
      participants_.push_back(ledger_.Add(
          seat.cid,
          visitor ? "v" + std::to_string(seat.cid) : "o" + std::to_string(seat.operator_id),
          "," + (visitor ? seat.label : std::to_string(seat.operator_id)) + ","));
    }
  }

  // Posts the participant's next message; false (with a test failure) when
  // it was not stored and echoed.
  bool Post(size_t index) {
    const Seat& seat = kSeats[index];
    const std::string text = ledger_.NextText(participants_[index]);
    const auto started = std::chrono::steady_clock::now();
    ScenePage page{"cid=" + std::to_string(seat.cid) + "&action=sub&msgContent=" + text};
    SceneResult result;
    if (seat.operator_id == 0) {
      page.session = {{"timelabel", seat.label}};
      result = Run(page, DoClientMsg);
    } else {
      const LONG id = seat.operator_id;
      result = Run(page, [id](PageContext& p) { return DoUserMsg(p, id); });
    }
    const bool echoed = result.hr == S_OK && result.body.find(text) != std::string::npos;
    EXPECT_TRUE(echoed) << text << " hr " << result.hr << ": " << result.body;
    if (echoed) ledger_.Posted(participants_[index], text, started);
    return echoed;
  }

  // The late operator is invited now; false (with a test failure) when the
  // invitation did not succeed.
  bool Join(size_t index) {
    const Seat& seat = kSeats[index];
    ScenePage page{"cid=" + std::to_string(seat.cid) +
                   "&serid=" + std::to_string(seat.operator_id) + "&action=inv"};
    const SceneResult result = Run(page, InvitUser);
    const bool joined = result.hr == S_OK && result.body.find("window.close") != std::string::npos;
    EXPECT_TRUE(joined) << result.body;
    if (joined) ledger_.Joined(participants_[index]);
    return joined;
  }

  void Poll(size_t index) {
    const Seat& seat = kSeats[index];
    ledger_.Polled(participants_[index], PollDocument(seat.cid, seat.label, seat.operator_id));
  }

  // What one poll wrote; a poll that fails outright is a test failure.
  std::string PollDocument(int cid, const std::string& label, LONG operator_id) {
    ScenePage page{"cid=" + std::to_string(cid)};
    SceneResult result;
    if (operator_id == 0) {
      page.session = {{"timelabel", label}};
      result = Run(page, GetClientMsg);
      EXPECT_EQ(result.hr, S_OK) << label;
    } else {
      result = Run(page, [operator_id](PageContext& p) { return GetUserMsg(p, operator_id); });
      EXPECT_TRUE(result.hr == S_OK || result.hr == S_FALSE) << operator_id << ": " << result.hr;
    }
    return result.body;
  }

  std::vector<StoredMessage> Stored() {
    std::vector<StoredMessage> stored;
    for (const SceneRow& row : Rows("select conid, msgContent, readFlag from msg")) {
      stored.push_back({std::stoi(row.at("conid")), row.at("msgContent"), row.at("readFlag")});
    }
    return stored;
  }

  DeliveryLedger ledger_;
  std::vector<size_t> participants_;  // ledger index per seat
};

TEST_P(DeliveryStressTest, EveryMessageStoredOnceAndDeliveredOnceToEachReader) {
  FailureLog failures;
  const size_t seats = std::size(kSeats);
  std::atomic<bool> stop{false};
  std::barrier posting_done(static_cast<std::ptrdiff_t>(seats + 1));
  std::atomic<size_t> intruder_received{0};
  std::atomic<size_t> intruder_polls{0};
  const auto started = std::chrono::steady_clock::now();

  std::vector<std::thread> threads;
  for (size_t i = 0; i < seats; ++i) {
    threads.emplace_back([&, i] {
      if (kSeats[i].late) {
        std::this_thread::sleep_for(kRunTime / 2);
        if (!Join(i)) stop = true;
      }
      // Alternate posting and polling; start with a poll on odd seats so
      // that posts and polls of one conversation interleave from the start.
      for (size_t round = 0; !stop.load() && ledger_.posted(participants_[i]) < kMostPostsEach;
           ++round) {
        if ((round + i) % 2 == 0 && !Post(i)) break;
        Poll(i);
      }
      posting_done.arrive_and_wait();
      Poll(i);  // everything posted by the others is stored by now
    });
  }
  threads.emplace_back([&] {
    while (!stop.load()) {
      intruder_received += MessageTexts(PollDocument(12, kIntruder, 0)).size();
      ++intruder_polls;
      std::this_thread::sleep_for(2ms);  // a page's pace, not a busy loop
    }
    posting_done.arrive_and_wait();
  });
  std::this_thread::sleep_for(kRunTime);
  stop = true;
  for (std::thread& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const DeliveryReport report = ledger_.Check(Stored());
  std::set<int> conversations;
  for (const Seat& seat : kSeats) conversations.insert(seat.cid);
  for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
  EXPECT_TRUE(report.clean());
  EXPECT_EQ(report.lost, 0u);
  EXPECT_EQ(report.duplicates, 0u);
  EXPECT_GE(report.posted, seats) << "every participant posted";
  EXPECT_EQ(intruder_received.load(), 0u);
  EXPECT_EQ(Count("msg where readFlag like '%,VS99,%'"), 0u);
  EXPECT_EQ(failures.failures(), std::vector<std::string>{});
  EXPECT_EQ(failures.busy(), 0u);
  // Operator messages of the conversations without a preMsg row are also in
  // inviteMsg, one each.
  EXPECT_EQ(Count("inviteMsg where conid in (11,13)"), 0u);
  EXPECT_EQ(Count("inviteMsg where conid in (12,14)"),
            Count("msg where conid in (12,14) and userID_send<>0"));

  std::printf(
      "[ figures  ] %s in process: %zu threads, %zu conversations, %zu messages, %zu polls "
      "(+%zu by a stranger), %zu deliveries, lost %zu, duplicates %zu, busy failures %zu, "
      "%.1f s\n",
      EngineSettingName(GetParam()), seats + 1, conversations.size(), report.posted, report.polls,
      intruder_polls.load(), report.received, report.lost, report.duplicates, failures.busy(),
      seconds);
}

ZELTO_ON_EVERY_ENGINE(DeliveryStressTest);

}  // namespace
}  // namespace zelto::testing
