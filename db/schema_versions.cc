#include "db/schema_versions.h"

#include <algorithm>

#include "db/sql_values.h"
#include "platform/ado/engine.h"

namespace {

// The conversation id counter: one row (id 1) holding the last id handed
// out. bigint, so that the id after 2147483647 is seen and refused rather
// than wrapped.
constexpr const char* kConversationCounter =
    "create table if not exists conversationCounter (id int primary key, lastCid bigint not null)";

// The site's administration: which operators hold the administrator right
// or were removed (userinfo itself stays as it is: a removed operator keeps
// its row, so its past messages still show its name), and the sites
// allowed to embed a company's chat; operator sessions shared by the hosts
// of one database. (No column defaults here: a literal would become a
// statement parameter, which DDL does not take; the writers name every
// column.)
constexpr const char* kAdministration =
    "create table if not exists operatorAccount (id int primary key, "
    "isAdmin int not null, canInvite int not null, removed int not null);"
    "create table if not exists companyOrigin (companyId int not null, "
    "origin varchar(255) not null, primary key (companyId, origin));"
    "create table if not exists operatorSession (id varchar(64) primary key, "
    "operatorId int not null, companyId int not null, token varchar(64) not null, "
    "lastUsed bigint not null)";

// The web application's record of each chat (queued, running, ended: who
// ended it and when; times in seconds since 1970), the operators'
// availability, the companies' chat limits and the messages visitors leave
// while nobody can answer. Plain types both engines take as they are.
constexpr const char* kChatLifecycle =
    "create table if not exists chatState (cid int primary key, companyId int not null, cstLabel "
    "varchar(50) not null, operatorId int not null, state varchar(10) not null, queuedAt bigint "
    "not null, assignedAt bigint not null, endedAt bigint not null, endedBy varchar(20) not null, "
    "endedById int not null);"
    "create index if not exists chatState_company_state on chatState (companyId, state);"
    "create index if not exists chatState_cstLabel on chatState (cstLabel);"
    "create table if not exists operatorState (operatorId int primary key, state varchar(10) not "
    "null, sessions int not null, lastAssigned bigint not null, changedAt bigint not null);"
    "create table if not exists chatSetting (companyId int primary key, maxChats int not null);"
    "create table if not exists offlineMessage (id int primary key, companyId int not null, "
    "cstLabel varchar(50) not null, name varchar(100) not null, contact varchar(255) not null, "
    "content text not null, createdAt bigint not null, handled int not null, handledBy int not "
    "null, handledAt bigint not null, IP varchar(50) not null, sourcepage varchar(1000) not null, "
    "searchkey varchar(255) not null, visittime varchar(30) not null);"
    "create index if not exists offlineMessage_company on offlineMessage (companyId, handled)";

// The records of past chats: a visitor's rating of each conversation (one
// per conversation), the indexes the history and statistics pages read
// chats by, and the full-text index of message text. On SQLite an FTS5
// table with the trigram tokenizer (so words of any script are found,
// Chinese included), kept current by triggers on msg; on PostgreSQL a
// pg_trgm GIN index on msg itself, which the server keeps current.
#define ZELTO_CHAT_RECORDS_TABLES                                                              \
  "create table if not exists chatRating (cid int primary key, companyId int not null, score " \
  "int not null, comment varchar(1000) not null, ratedAt bigint not null);"                    \
  "create index if not exists chatRating_company on chatRating (companyId, ratedAt);"          \
  "create index if not exists chatState_company_ended on chatState (companyId, endedAt);"      \
  "create index if not exists chatState_company_queued on chatState (companyId, queuedAt);"

constexpr const char* kChatRecordsSqlite =
    ZELTO_CHAT_RECORDS_TABLES
    "create virtual table if not exists msgText using fts5(body, tokenize=trigram);"
    "insert into msgText (rowid, body) select msgID, msgContent from msg;"
    "create trigger if not exists msg_text_insert after insert on msg begin insert into msgText "
    "(rowid, body) values (new.msgID, new.msgContent); end;"
    "create trigger if not exists msg_text_delete after delete on msg begin delete from msgText "
    "where rowid=old.msgID; end;"
    "create trigger if not exists msg_text_update after update of msgContent on msg begin update "
    "msgText set body=new.msgContent where rowid=old.msgID; end";

constexpr const char* kChatRecordsPostgresql =
    "create extension if not exists pg_trgm;" ZELTO_CHAT_RECORDS_TABLES
    "create index if not exists msg_content_trgm on msg using gin (msgContent gin_trgm_ops)";
#undef ZELTO_CHAT_RECORDS_TABLES

// The operators' toolkit: canned replies (a company's, operatorId 0, or
// one operator's), notes on a visitor, whispers between the operators of a
// conversation (never in msg, so no visitor poll can return them), and
// whether a company's operators see what a visitor is typing.
constexpr const char* kOperatorToolkit =
    "create table if not exists cannedResponse (id int primary key, companyId int not null, "
    "operatorId int not null, keyword varchar(50) not null, content text not null, "
    "createdAt bigint not null);"
    "create index if not exists cannedResponse_owner on cannedResponse (companyId, operatorId);"
    "create table if not exists visitorNote (id int primary key, companyId int not null, "
    "cstLabel varchar(50) not null, operatorId int not null, content text not null, "
    "createdAt bigint not null);"
    "create index if not exists visitorNote_visitor on visitorNote (companyId, cstLabel);"
    "create table if not exists whisper (id int primary key, cid int not null, "
    "operatorId int not null, content text not null, createdAt bigint not null);"
    "create index if not exists whisper_cid on whisper (cid);"
    "create table if not exists typingPreview (companyId int primary key, enabled int not null)";

// Webhooks of each company (where events go, signed with the webhook's
// secret), the queue of their deliveries (kept across restarts; a host
// claims due rows for a while so that each is sent by one host), and the
// companies' API keys (only a SHA-256 of each key is kept).
constexpr const char* kWebhooks =
    "create table if not exists webhook (id int primary key, companyId int not null, url "
    "varchar(1000) not null, secret varchar(64) not null, events varchar(200) not null, "
    "createdAt bigint not null);"
    "create index if not exists webhook_company on webhook (companyId);"
    "create table if not exists webhookDelivery (id int primary key, webhookId int not null, "
    "companyId int not null, event varchar(30) not null, body text not null, state varchar(10) "
    "not null, attempts int not null, nextAttemptAt bigint not null, claimedUntil bigint not "
    "null, createdAt bigint not null, finishedAt bigint not null, lastStatus int not null, "
    "lastError varchar(255) not null);"
    "create index if not exists webhookDelivery_due on webhookDelivery (state, nextAttemptAt);"
    "create index if not exists webhookDelivery_webhook on webhookDelivery (webhookId);"
    "create table if not exists apiKey (id int primary key, companyId int not null, name "
    "varchar(100) not null, prefix varchar(20) not null, keyHash varchar(64) not null, createdAt "
    "bigint not null, revokedAt bigint not null);"
    "create index if not exists apiKey_hash on apiKey (keyHash)";

constexpr SchemaStep kSteps[] = {
    {"chat", 2, kConversationCounter, kConversationCounter, "the conversation id counter"},
    {"chat", 3, kAdministration, kAdministration,
     "operator rights, company sites, shared sessions"},
    {"chat", 4, kChatLifecycle, kChatLifecycle,
     "chat states, operator availability, chat limits, offline messages"},
    {"chat", 5, kChatRecordsSqlite, kChatRecordsPostgresql,
     "chat ratings, history and statistics indexes, message search"},
    {"chat", 6, kOperatorToolkit, kOperatorToolkit,
     "canned replies, visitor notes, whispers, typing preview"},

    {"chat", 7, kWebhooks, kWebhooks, "webhooks, their delivery queue, API keys"},
};

constexpr const char* kVersionTable =
    "create table if not exists schemaVersion (id int primary key, version int not null)";

// The version recorded in the database, inside the caller's transaction;
// a database of the first release (no row yet) gets its row, version 1.
bool RecordedVersion(SqlSession& session, int* version) {
  std::vector<SqlSession::Row> rows;
  if (!session.Execute(kVersionTable) ||
      !session.Query("select version from schemaVersion where id=1", {"version"}, &rows))
    return false;
  if (!rows.empty()) {
    *version = ParseWellFormedInteger(rows[0][0]).value_or(0);
    return true;
  }
  *version = 1;
  return session.Execute("insert into schemaVersion (id, version) values (1, 1)");
}

const SchemaStep* StepTo(std::string_view catalog, int version, std::span<const SchemaStep> steps) {
  for (const SchemaStep& step : steps) {
    if (catalog == step.catalog && step.version == version) return &step;
  }
  return nullptr;
}

std::string UnknownVersion(std::string_view catalog, int version, int latest) {
  return "the " + std::string(catalog) + " database has schema version " + std::to_string(version) +
         "; this program knows versions 1 to " + std::to_string(latest) +
         " (a newer zelto made it?)";
}

// Where the first statement of `sql` ends: at its ';', or for a trigger at
// the ';' after the "; end" that closes its body.
size_t StatementEnd(std::string_view sql) {
  const size_t start = std::min(sql.find_first_not_of(" \n\t"), sql.size());
  size_t from = 0;
  if (sql.substr(start).starts_with("create trigger")) {
    const size_t body_end = sql.find("; end");
    if (body_end != std::string_view::npos) from = body_end + 5;
  }
  return std::min(sql.find(';', from), sql.size());
}

// The statements of `sql`, ';' between them, one at a time (an engine may
// take only one statement per call).
bool ExecuteEach(SqlSession& session, std::string_view sql) {
  while (!sql.empty()) {
    const size_t end = StatementEnd(sql);
    if (sql.find_first_not_of(" \n\t", 0) < end && !session.Execute(sql.substr(0, end)))
      return false;
    sql.remove_prefix(std::min(end + 1, sql.size()));
  }
  return true;
}

enum class Outcome { kApplied, kCurrent, kFailed };

// One transaction: reads the version and runs the step after it, if any.
Outcome UpgradeOnce(SqlSession& session, std::string_view catalog, std::string_view engine,
                    int latest, std::span<const SchemaStep> steps, std::string* applied,
                    std::string* error) {
  SqlTransaction transaction(session);
  int version = 0;
  if (!transaction.begun() || !RecordedVersion(session, &version)) {
    *error = session.error();
    return Outcome::kFailed;
  }
  const std::string name(catalog);
  if (version < 1 || version > latest) {
    *error = UnknownVersion(catalog, version, latest);
    return Outcome::kFailed;
  }
  if (version == latest) return transaction.Commit() ? Outcome::kCurrent : Outcome::kFailed;
  const SchemaStep* step = StepTo(catalog, version + 1, steps);
  if (!step) {
    *error = "no upgrade step makes version " + std::to_string(version + 1) + " of " + name;
    return Outcome::kFailed;
  }
  const char* sql = engine == "postgresql" ? step->postgresql : step->sqlite;
  if (!ExecuteEach(session, sql) ||
      !session.Execute("update schemaVersion set version=" + std::to_string(step->version) +
                       " where id=1") ||
      !transaction.Commit()) {
    *error = "upgrading the " + name + " database to version " + std::to_string(step->version) +
             " (" + step->what + "): " + session.error();
    return Outcome::kFailed;
  }
  *applied = name + ": version " + std::to_string(step->version) + ", " + step->what;
  return Outcome::kApplied;
}

}  // namespace

std::span<const SchemaStep> SchemaSteps() { return kSteps; }

int LatestSchemaVersion(std::string_view catalog, std::span<const SchemaStep> steps) {
  int latest = 1;
  for (const SchemaStep& step : steps) {
    if (catalog == step.catalog && step.version > latest) latest = step.version;
  }
  return latest;
}

bool UpgradeSchema(const SqlLogin& login, std::string_view catalog, std::string_view database,
                   std::vector<std::string>* applied, std::string* error,
                   std::span<const SchemaStep> steps, SqlFault fault) {
  zelto::ado::Engine* engine = zelto::ado::GetDatabaseEngine();
  if (!engine) {
    *error = "no database engine";
    return false;
  }
  SqlSession session(login, database, std::move(fault));
  if (!session.is_open()) {
    *error = session.error();
    return false;
  }
  const int latest = LatestSchemaVersion(catalog, steps);
  // A current database is only read: a read-only one still serves. (A
  // database of the first release has no version table; this read fails.)
  std::vector<SqlSession::Row> rows;
  if (session.Query("select version from schemaVersion where id=1", {"version"}, &rows) &&
      !rows.empty()) {
    const int version = ParseWellFormedInteger(rows[0][0]).value_or(0);
    if (version == latest) return true;
    if (version > latest) {
      *error = UnknownVersion(catalog, version, latest);
      return false;
    }
  }
  while (true) {
    std::string step;
    switch (UpgradeOnce(session, catalog, engine->Name(), latest, steps, &step, error)) {
      case Outcome::kFailed:
        return false;
      case Outcome::kCurrent:
        return true;
      case Outcome::kApplied:
        if (applied) applied->push_back(std::move(step));
        break;
    }
  }
}
