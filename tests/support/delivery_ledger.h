// DeliveryLedger: book-keeping for the delivery stress tests. Participants
// (a visitor or an operator in one conversation) are declared before the
// run; during it each participant's own thread records what it posted and
// the message list documents its polls returned, touching only its own
// entry, so no locking is needed. Afterwards Check compares all of it with
// the msg rows and reports every message lost, delivered twice, delivered
// to someone it was not meant for, or stored other than once.
//
// A message is meant for every participant of its conversation except its
// sender; one posted before a participant joined may reach it or not, but
// never twice. Message texts are unique and name their conversation and
// sender, so a stray one is recognised wherever it turns up.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace zelto::testing {

// One msg row as the check needs it.
struct StoredMessage {
  int conid = 0;
  std::string content;
  std::string read_flag;
};

struct DeliveryReport {
  size_t participants = 0;
  size_t posted = 0;
  size_t polls = 0;
  size_t received = 0;        // deliveries, duplicates included
  size_t lost = 0;            // meant for a reader, never delivered to it
  size_t before_joining = 0;  // posted before a reader joined and delivered to it (allowed)
  size_t duplicates = 0;      // deliveries beyond the first of one message to one reader
  size_t misdirected = 0;     // delivered to a reader it was not meant for
  size_t badly_stored = 0;    // posted messages not stored exactly once in their conversation
  size_t strangers = 0;       // stored rows of the run's conversations nobody posted
  size_t bad_marks = 0;       // a reader's mark missing from, or repeated in, a read list
  std::vector<std::string> problems;  // the first few, in words

  bool clean() const {
    return lost + duplicates + misdirected + badly_stored + strangers + bad_marks == 0;
  }
};

class DeliveryLedger {
 public:
  // Declares a participant of conversation `cid`: `who` is a short tag that
  // names the sender in message texts ("o5", "v2"); `mark` is the reader mark
  // its polls leave in readFlag (",5,", ",V1001,"). Several participants may
  // share a tag in different conversations (one operator in two chats).
  // Returns the participant's index. Not during a run.
  size_t Add(int cid, std::string who, std::string mark);
  size_t size() const { return participants_.size(); }
  // The participant joined its conversation now (after the others began):
  // messages whose posting started before this need not reach it.
  void Joined(size_t participant);
  int cid(size_t participant) const { return participants_[participant].cid; }

  // The text of the participant's next message, recorded as posted once
  // the caller says so with Posted, giving the time its posting started.
  std::string NextText(size_t participant) const;
  void Posted(size_t participant, const std::string& text,
              std::chrono::steady_clock::time_point started);
  // Records one poll and the message texts in its document (may be empty).
  void Polled(size_t participant, const std::string& document);
  size_t posted(size_t participant) const { return participants_[participant].posted.size(); }

  DeliveryReport Check(const std::vector<StoredMessage>& stored) const;

 private:
  struct Participant {
    int cid = 0;
    std::string who;
    std::string mark;
    std::chrono::steady_clock::time_point joined{};  // epoch: from the start
    std::vector<std::string> posted;
    std::vector<std::chrono::steady_clock::time_point> started;  // per posted message
    std::map<std::string, int> received;                         // text -> times delivered
    size_t polls = 0;
  };
  std::vector<Participant> participants_;
};

// The message texts of a message list document, in order (the content cells;
// the texts must hold no markup of their own).
std::vector<std::string> MessageTexts(const std::string& document);

}  // namespace zelto::testing
