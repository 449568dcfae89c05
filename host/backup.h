// Backups of a SQLite site: its two databases and its attachments.
//
// MakeBackup copies a data folder (DIR/chat.db, DIR/count.db, DIR/files/)
// into a new folder `to` while the site may be serving: each database with
// SQLite's online backup, then the attachments (after the databases, so that
// every attachment a copied message names is there). It writes into a
// temporary sibling and renames it to `to` at the end: `to` exists only
// whole.
//
// RestoreBackup puts such a copy back into a data folder no site is using
// (it holds the folder's lock meanwhile). The databases, their journals and
// the attachments it replaces are kept in DIR/replaced-<time>/, never
// deleted. The copy is checked (both databases present and sound) before
// anything in DIR changes.
#pragma once

#include <string>

namespace zelto {

struct BackupResult {
  bool ok = false;
  std::string message;  // what was done, or why not
};

BackupResult MakeBackup(const std::string& data_dir, const std::string& to);
BackupResult RestoreBackup(const std::string& from, const std::string& data_dir);

}  // namespace zelto
