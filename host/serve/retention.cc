#include "host/serve/retention.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "db/sql_values.h"

namespace zelto::serve {
namespace {

std::string IdList(const std::vector<LONG>& ids) {
  std::string list;
  for (LONG id : ids) list += (list.empty() ? "" : ",") + SqlId(id);
  return list;
}

std::string TextList(const std::set<std::string>& texts) {
  std::string list;
  for (const std::string& text : texts) list += (list.empty() ? "" : ",") + SqlStringLiteral(text);
  return list;
}

// The first column of every row of `sql` into `out`.
bool Column(SqlSession& session, const std::string& sql, std::set<std::string>* out) {
  std::vector<SqlSession::Row> rows;
  if (!session.Query(sql, {"v"}, &rows)) return false;
  for (auto& row : rows) {
    if (!row[0].empty()) out->insert(std::move(row[0]));
  }
  return true;
}

std::vector<LONG> Ids(const std::set<std::string>& texts) {
  std::vector<LONG> ids;
  for (const std::string& text : texts) {
    if (LONG id = IdField(text); id > 0) ids.push_back(id);
  }
  return ids;
}

}  // namespace

std::string PurgeCounts::Summary() const {
  std::string text = std::to_string(conversations) + " conversations, " +
                     std::to_string(messages) + " messages, " + std::to_string(files) +
                     " attachment files, " + std::to_string(tracks) + " visit tracks, " +
                     std::to_string(addresses) + " address records";
  if (files_kept) text += " (" + std::to_string(files_kept) + " files could not be removed)";
  return text;
}

std::string CutoffText(std::chrono::system_clock::time_point now, double days) {
  const auto cutoff =
      now - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::duration<double>(days * 24 * 3600));
  const std::time_t t = std::chrono::system_clock::to_time_t(cutoff);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

bool Retention::Purge(const std::string& cutoff, PurgeCounts* counts, std::string* error) const {
  // Ended conversations none of whose rows is as recent as the cutoff.
  const std::string candidates =
      "select top " + std::to_string(batch_) +
      " t.cid as v from (select conid as cid, msgTime as at from msg "
      "union all select cid, addtime from C_members "
      "union all select conid, createTime from inviteMsg) t "
      "where t.cid > 0 and t.cid not in (select cid from conversation) "
      "group by t.cid having max(t.at) < " +
      SqlStringLiteral(cutoff) + " order by t.cid";
  while (true) {
    std::set<std::string> found;
    SqlSession chat = db_.Open(kChatCatalog);
    if (!Column(chat, candidates, &found)) {
      *error = chat.unreported_error();
      return false;
    }
    if (found.empty()) break;
    if (!RemoveConversations(Ids(found), counts, error)) return false;
  }
  return PurgeTracks(cutoff, counts, error) &&
         PurgeAddresses("recordTime < " + SqlStringLiteral(cutoff), counts, error);
}

bool Retention::RemoveConversations(const std::vector<LONG>& cids, PurgeCounts* counts,
                                    std::string* error) const {
  if (cids.empty()) return true;
  const std::string list = IdList(cids);
  std::set<std::string> files;
  LONG messages = 0;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    return Column(chat, "select msgApp as v from msg where conid in (" + list + ")", &files) &&
           chat.Execute("delete from msg where conid in (" + list + ")", &messages) &&
           chat.Execute("delete from C_members where cid in (" + list + ")") &&
           chat.Execute("delete from preMsg where conid in (" + list + ")") &&
           chat.Execute("delete from inviteMsg where conid in (" + list + ")") &&
           chat.Execute("delete from chatState where cid in (" + list + ")") &&
           chat.Execute("delete from conversation where cid in (" + list + ")");
  });
  if (!done) return false;
  counts->conversations += cids.size();
  counts->messages += static_cast<size_t>(std::max<LONG>(messages, 0));
  RemoveFiles(std::vector<std::string>(files.begin(), files.end()), counts);
  return true;
}

bool Retention::DeleteInBatches(const char* catalog, const char* table, const char* key,
                                const std::string& where, size_t* removed_total,
                                std::string* error) const {
  const std::string sql = std::string("delete from ") + table + " where " + where + " and " + key +
                          " in (select top " + std::to_string(batch_) + " " + key + " from " +
                          table + " where " + where + ")";
  while (true) {
    LONG removed = 0;
    if (!db_.Write(catalog, error, [&](SqlSession& s) { return s.Execute(sql, &removed); }))
      return false;
    if (removed <= 0) return true;
    *removed_total += static_cast<size_t>(removed);
  }
}

bool Retention::PurgeTracks(const std::string& cutoff, PurgeCounts* counts,
                            std::string* error) const {
  return DeleteInBatches(kChatCatalog, "cstTrack", "cstLabel",
                         "presentTime < " + SqlStringLiteral(cutoff), &counts->tracks, error);
}

bool Retention::PurgeAddresses(const std::string& where, PurgeCounts* counts,
                               std::string* error) const {
  return DeleteInBatches(kCountCatalog, "t_Iprecord", "IP", where, &counts->addresses, error);
}

void Retention::RemoveFiles(const std::vector<std::string>& names, PurgeCounts* counts) const {
  for (const std::string& name : names) {
    // Only a plain name in the attachments folder: a message never reaches
    // a file elsewhere.
    const std::filesystem::path file(name);
    if (file.filename() != file || name == "." || name == "..") continue;
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(files_dir_ / file, ec);
    if (std::filesystem::remove(files_dir_ / file, ec)) {
      ++counts->files;
      if (size != static_cast<uintmax_t>(-1)) counts->file_bytes += size;
    } else if (ec) {
      ++counts->files_kept;
    }
  }
}

bool Retention::FindVisitor(const std::string& who, std::set<std::string>* labels_out,
                            std::set<std::string>* addresses_out, std::set<std::string>* cids_out,
                            std::string* error) const {
  std::set<std::string>& labels = *labels_out;
  std::set<std::string>& addresses = *addresses_out;
  std::set<std::string>& cids = *cids_out;
  SqlSession chat = db_.Open(kChatCatalog);
  const std::string value = SqlStringLiteral(who);
  bool read =
      Column(chat, "select cstLabel as v from onlineCst where cstLabel=" + value, &labels) &&
      Column(chat, "select cstlabel as v from C_members where cstlabel=" + value, &labels) &&
      Column(chat, "select cstLabel as v from cstTrack where cstLabel=" + value, &labels) &&
      Column(chat, "select cstLabel as v from msg where cstLabel=" + value, &labels) &&
      Column(chat, "select cstLabel as v from offlineMessage where cstLabel=" + value, &labels);
  if (read && labels.empty()) {  // an address: every visitor seen from it
    addresses.insert(who);
    read = Column(chat, "select cstLabel as v from onlineCst where IP=" + value, &labels) &&
           Column(chat,
                  "select cstLabel as v from msg where userID_send=0 and IP=" + value, &labels) &&
           Column(chat, "select cstLabel as v from offlineMessage where IP=" + value, &labels);
  }
  if (read && !labels.empty()) {
    const std::string list = TextList(labels);
    read = Column(chat, "select IP as v from onlineCst where cstLabel in (" + list + ")",
                  &addresses) &&
           Column(chat,
                  "select IP as v from msg where userID_send=0 and cstLabel in (" + list + ")",
                  &addresses) &&
           Column(chat, "select cid as v from C_members where cstlabel in (" + list + ")", &cids) &&
           Column(chat, "select conid as v from msg where cstLabel in (" + list + ")", &cids) &&
           Column(chat, "select cid as v from conversation where cstlabel in (" + list + ")",
                  &cids);
  }
  if (!read) *error = chat.unreported_error();
  return read;
}

bool Retention::Forget(const std::string& who, PurgeCounts* counts, std::string* error) const {
  std::set<std::string> labels, addresses, cids;
  if (!FindVisitor(who, &labels, &addresses, &cids, error)) return false;
  const std::vector<LONG> all = Ids(cids);
  for (size_t i = 0; i < all.size(); i += batch_) {
    const std::vector<LONG> part(all.begin() + i, all.begin() + std::min(all.size(), i + batch_));
    if (!RemoveConversations(part, counts, error)) return false;
  }
  if (!labels.empty()) {
    const std::string list = TextList(labels);
    LONG tracks = 0;
    if (!db_.Write(kChatCatalog, error, [&](SqlSession& s) {
          return s.Execute("delete from cstTrack where cstLabel in (" + list + ")", &tracks) &&
                 s.Execute("delete from onlineCst where cstLabel in (" + list + ")") &&
                 s.Execute("delete from preMsg where cstlabel in (" + list + ")") &&
                 s.Execute("delete from inviteMsg where cstlabel in (" + list + ")") &&
                 s.Execute("delete from chatState where cstLabel in (" + list + ")") &&
                 s.Execute("delete from offlineMessage where cstLabel in (" + list + ")");
        }))
      return false;
    counts->tracks += static_cast<size_t>(std::max<LONG>(tracks, 0));
  }
  return addresses.empty() ||
         PurgeAddresses("IP in (" + TextList(addresses) + ")", counts, error);
}

}  // namespace zelto::serve
