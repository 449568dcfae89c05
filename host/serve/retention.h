// Retention: removing old data (`zelto purge`, `zelto serve --retain-days`)
// and one visitor's data on request (`zelto visitor forget`).
//
// A purge removes the ended conversations (no row in conversation) none of
// whose rows (messages, members, invitations) is as recent as the cutoff:
// their messages, members, read marks, invitations and attachment files;
// and the visit tracks (cstTrack) and address records (t_Iprecord) older
// than the cutoff. It works in batches, each one short write transaction,
// so that the site's own writes wait at most one batch. Files go after the
// transaction that removed their messages has committed; a file that
// cannot be removed is counted, never a reason to keep the rows.
//
// Times are the databases' own local-time texts ("2024-05-20 09:17:25");
// the caller gives the cutoff (CutoffText), so tests give fixed dates.
// Every call may block on the database.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

struct PurgeCounts {
  size_t conversations = 0, messages = 0, tracks = 0, addresses = 0, files = 0;
  size_t files_kept = 0;  // attachment files that could not be removed
  uint64_t file_bytes = 0;  // the size of the files removed
  std::string Summary() const;  // "3 conversations, 41 messages, ..."
};

// The local time `days` days before `now`, as the databases write times.
std::string CutoffText(std::chrono::system_clock::time_point now, double days);

class Retention {
 public:
  static constexpr size_t kDefaultBatch = 200;

  // `files_dir` holds the attachments (DIR/files).
  Retention(const SiteDatabase& db, std::filesystem::path files_dir, size_t batch = kDefaultBatch)
      : db_(db), files_dir_(std::move(files_dir)), batch_(batch) {}

  // Everything older than `cutoff`, batch after batch; `counts` adds up
  // what went, even when a later batch fails (false, `error`).
  bool Purge(const std::string& cutoff, PurgeCounts* counts, std::string* error) const;

  // One visitor's data: `who` is a visitor label, or an address (every
  // visitor seen from it, and its address records). Their conversations
  // (running ones too) with all their messages and files, their tracks,
  // their row on the site, their addresses' records. False with `error`
  // on a database failure; `counts` says what went (nothing for an unknown
  // visitor).
  bool Forget(const std::string& who, PurgeCounts* counts, std::string* error) const;

 private:
  // Removes the conversations `cids` (one transaction) and then their files.
  bool RemoveConversations(const std::vector<LONG>& cids, PurgeCounts* counts,
                           std::string* error) const;
  // Deletes the rows of `table` that match `where`, a batch of `key`
  // values per transaction, adding the count to `removed`.
  bool DeleteInBatches(const char* catalog, const char* table, const char* key,
                       const std::string& where, size_t* removed, std::string* error) const;
  bool PurgeTracks(const std::string& cutoff, PurgeCounts* counts, std::string* error) const;
  bool PurgeAddresses(const std::string& where, PurgeCounts* counts, std::string* error) const;
  void RemoveFiles(const std::vector<std::string>& names, PurgeCounts* counts) const;
  // The labels `who` names (itself, or the visitors seen from address
  // `who`), their addresses and their conversations.
  bool FindVisitor(const std::string& who, std::set<std::string>* labels,
                   std::set<std::string>* addresses, std::set<std::string>* cids,
                   std::string* error) const;

  const SiteDatabase& db_;
  std::filesystem::path files_dir_;
  size_t batch_;
};

}  // namespace zelto::serve
