#include "tests/support/delivery_ledger.h"

#include <set>
#include <utility>

namespace zelto::testing {
namespace {

constexpr size_t kProblemsKept = 12;

void Note(DeliveryReport& report, const std::string& problem) {
  if (report.problems.size() < kProblemsKept) report.problems.push_back(problem);
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace

size_t DeliveryLedger::Add(int cid, std::string who, std::string mark) {
  Participant p;
  p.cid = cid;
  p.who = std::move(who);
  p.mark = std::move(mark);
  participants_.push_back(std::move(p));
  return participants_.size() - 1;
}

std::string DeliveryLedger::NextText(size_t participant) const {
  const Participant& p = participants_[participant];
  return "m" + std::to_string(p.cid) + "_" + p.who + "_" + std::to_string(p.posted.size());
}

void DeliveryLedger::Joined(size_t participant) {
  participants_[participant].joined = std::chrono::steady_clock::now();
}

void DeliveryLedger::Posted(size_t participant, const std::string& text,
                            std::chrono::steady_clock::time_point started) {
  participants_[participant].posted.push_back(text);
  participants_[participant].started.push_back(started);
}

void DeliveryLedger::Polled(size_t participant, const std::string& document) {
  Participant& p = participants_[participant];
  ++p.polls;
  for (const std::string& text : MessageTexts(document)) ++p.received[text];
}

DeliveryReport DeliveryLedger::Check(const std::vector<StoredMessage>& stored) const {
  DeliveryReport report;
  report.participants = participants_.size();
  // Every posted text -> its conversation, sender and start of posting.
  struct Origin {
    int cid;
    std::string who;
    std::chrono::steady_clock::time_point started;
  };
  std::map<std::string, Origin> origin;
  std::set<int> conversations;
  for (const Participant& p : participants_) {
    conversations.insert(p.cid);
    report.posted += p.posted.size();
    report.polls += p.polls;
    for (size_t i = 0; i < p.posted.size(); ++i) origin[p.posted[i]] = {p.cid, p.who, p.started[i]};
  }

  std::map<std::string, std::vector<const StoredMessage*>> rows;
  for (const StoredMessage& row : stored) {
    if (!conversations.count(row.conid)) continue;
    rows[row.content].push_back(&row);
    if (!origin.count(row.content)) {
      ++report.strangers;
      Note(report, "stored but never posted: " + row.content);
    }
  }
  for (const auto& [text, from] : origin) {
    const auto found = rows.find(text);
    const size_t copies = found == rows.end() ? 0 : found->second.size();
    if (copies != 1 || found->second[0]->conid != from.cid) {
      ++report.badly_stored;
      Note(report, text + " stored " + std::to_string(copies) + " times");
    }
  }

  for (const Participant& reader : participants_) {
    for (const auto& [text, times] : reader.received) {
      report.received += times;
      const auto from = origin.find(text);
      if (from == origin.end() || from->second.cid != reader.cid ||
          from->second.who == reader.who) {
        ++report.misdirected;
        Note(report, text + " delivered to " + reader.who + " in " + std::to_string(reader.cid));
        continue;
      }
      if (from->second.started < reader.joined) ++report.before_joining;
      if (times > 1) {
        report.duplicates += times - 1;
        Note(report, text + " delivered " + std::to_string(times) + " times to " + reader.who);
      }
    }
    for (const auto& [text, from] : origin) {
      if (from.cid != reader.cid || from.who == reader.who) continue;
      const bool delivered = reader.received.count(text) != 0;
      if (!delivered && from.started < reader.joined) continue;  // may miss it
      if (!delivered) {
        ++report.lost;
        Note(report, text + " never reached " + reader.who);
      }
      const auto row = rows.find(text);
      if (row == rows.end() || row->second.size() != 1) continue;
      if (Occurrences(row->second[0]->read_flag, reader.mark) != (delivered ? 1u : 0u)) {
        ++report.bad_marks;
        Note(report, text + " read list '" + row->second[0]->read_flag + "' for " + reader.mark);
      }
    }
  }
  return report;
}

std::vector<std::string> MessageTexts(const std::string& document) {
  static const std::string kOpen =
      "<table width='97%' border='0' cellpadding='0' cellspacing='0'><tr><td>";
  static const std::string kClose = "</td></tr></table>";
  std::vector<std::string> texts;
  for (size_t at = document.find(kOpen); at != std::string::npos; at = document.find(kOpen, at)) {
    at += kOpen.size();
    const size_t end = document.find(kClose, at);
    if (end == std::string::npos) break;
    texts.push_back(document.substr(at, end - at));
    at = end;
  }
  return texts;
}

}  // namespace zelto::testing
