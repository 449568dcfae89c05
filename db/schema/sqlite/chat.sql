-- Chat database. Column types are written with SQL Server's names so that
-- values come back typed as the SQL Server provider types them; text columns
-- compare case-insensitively, as under SQL Server's default collation.
-- Every column the component does not name has a default, so a row can be
-- inserted naming only the columns the component writes.

CREATE TABLE IF NOT EXISTS msg (
  msgID INTEGER PRIMARY KEY AUTOINCREMENT,
  conid INT NOT NULL DEFAULT 0,
  userID_send INT NOT NULL DEFAULT 0,
  cstLabel NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  nickName NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  msgContent NVARCHAR(4000) DEFAULT '',
  msgApp NVARCHAR(255) DEFAULT '',
  msgTime DATETIME,
  IP NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  issystem INT NOT NULL DEFAULT 0,
  isDeleted INT NOT NULL DEFAULT 0,
  readFlag NVARCHAR(4000) DEFAULT ''
);
CREATE INDEX IF NOT EXISTS msg_conid ON msg (conid);

CREATE TABLE IF NOT EXISTS C_members (
  cid INT NOT NULL DEFAULT 0,
  serid INT NOT NULL DEFAULT 0,
  cstlabel NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  addtime DATETIME,
  IsChat INT NOT NULL DEFAULT 1
);
CREATE INDEX IF NOT EXISTS C_members_cid ON C_members (cid);

CREATE TABLE IF NOT EXISTS onlineCst (
  cstLabel NVARCHAR(50) COLLATE NOCASE NOT NULL,
  NickName NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  CompanyID INT NOT NULL DEFAULT 0,
  visittime DATETIME,
  beChatting INT NOT NULL DEFAULT 0,
  Invited INT NOT NULL DEFAULT 0,
  searchkey NVARCHAR(255) DEFAULT '',
  sourcepage NVARCHAR(1000) DEFAULT '',
  csarea NVARCHAR(100) DEFAULT '',
  IP NVARCHAR(50) COLLATE NOCASE DEFAULT ''
);
CREATE INDEX IF NOT EXISTS onlineCst_cstLabel ON onlineCst (cstLabel);
CREATE INDEX IF NOT EXISTS onlineCst_CompanyID ON onlineCst (CompanyID);

CREATE TABLE IF NOT EXISTS userinfo (
  ID INT PRIMARY KEY,
  name NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  CompanyID INT NOT NULL DEFAULT 0,
  Popedom INT NOT NULL DEFAULT 0,
  Invite INT NOT NULL DEFAULT 0,
  conview INT NOT NULL DEFAULT 0,
  -- The site's login: a crypt(3) hash of the operator's password; empty
  -- means the operator cannot log in.
  pwdHash NVARCHAR(255) DEFAULT ''
);
CREATE INDEX IF NOT EXISTS userinfo_CompanyID ON userinfo (CompanyID);

CREATE TABLE IF NOT EXISTS conversation (
  cid INT PRIMARY KEY,
  cstlabel NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  serid INT NOT NULL DEFAULT 0,
  ctime DATETIME
);
CREATE INDEX IF NOT EXISTS conversation_cstlabel ON conversation (cstlabel);
CREATE INDEX IF NOT EXISTS conversation_serid ON conversation (serid);

CREATE TABLE IF NOT EXISTS Company (
  ID INT PRIMARY KEY,
  CompanyName NVARCHAR(100) DEFAULT '',
  SiteUrl NVARCHAR(255) DEFAULT ''
);

CREATE TABLE IF NOT EXISTS cstTrack (
  cstLabel NVARCHAR(50) COLLATE NOCASE NOT NULL,
  presentTime DATETIME,
  presentPage NVARCHAR(1000) DEFAULT ''
);
CREATE INDEX IF NOT EXISTS cstTrack_cstLabel_presentTime ON cstTrack (cstLabel, presentTime);

CREATE TABLE IF NOT EXISTS preMsg (
  cstlabel NVARCHAR(50) COLLATE NOCASE NOT NULL,
  conid INT NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS preMsg_cstlabel_conid ON preMsg (cstlabel, conid);

CREATE TABLE IF NOT EXISTS inviteMsg (
  conid INT NOT NULL DEFAULT 0,
  sendid INT NOT NULL DEFAULT 0,
  cstlabel NVARCHAR(50) COLLATE NOCASE DEFAULT '',
  createTime DATETIME,
  content NVARCHAR(4000) DEFAULT '',
  IsInvite INT NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS inviteMsg_conid ON inviteMsg (conid);

-- The web application's site secret (one row, id 1): the key of the signed
-- visitor cookie, shared by every host of the database. zelto serve makes
-- the table and the row when missing.
CREATE TABLE IF NOT EXISTS siteSecret (
  id INT PRIMARY KEY,
  secret VARCHAR(64) NOT NULL
);

-- The web application's conversation ids: the last id handed out (one row,
-- id 1), raised in the transaction that opens a conversation. The row is
-- made on first use, above every id any table holds.
CREATE TABLE IF NOT EXISTS conversationCounter (
  id INT PRIMARY KEY,
  lastCid BIGINT NOT NULL
);

-- The web application's administration: the administrator right and the
-- removal of an operator (its userinfo row stays, so that its past
-- messages keep its name), and the sites allowed to embed each company's
-- chat.
CREATE TABLE IF NOT EXISTS operatorAccount (
  id INT PRIMARY KEY,
  isAdmin INT NOT NULL DEFAULT 0,
  canInvite INT NOT NULL DEFAULT 1,
  removed INT NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS companyOrigin (
  companyId INT NOT NULL,
  origin VARCHAR(255) NOT NULL,
  PRIMARY KEY (companyId, origin)
);
-- Operator sessions shared by the hosts of one database: a SHA-256 hash of
-- the session id, what the operator's pages need, and the time (seconds
-- since 1970) it was last used.
CREATE TABLE IF NOT EXISTS operatorSession (
  id VARCHAR(64) PRIMARY KEY,
  operatorId INT NOT NULL,
  companyId INT NOT NULL,
  token VARCHAR(64) NOT NULL,
  lastUsed BIGINT NOT NULL
);

-- The web application's record of each chat: queued (waiting for an
-- operator with room), running, or ended (by whom, when); times are seconds
-- since 1970. The conversation row itself goes at the end, as before.
CREATE TABLE IF NOT EXISTS chatState (
  cid INT PRIMARY KEY,
  companyId INT NOT NULL,
  cstLabel VARCHAR(50) NOT NULL,
  operatorId INT NOT NULL,
  state VARCHAR(10) NOT NULL,
  queuedAt BIGINT NOT NULL,
  assignedAt BIGINT NOT NULL,
  endedAt BIGINT NOT NULL,
  endedBy VARCHAR(20) NOT NULL,
  endedById INT NOT NULL
);
CREATE INDEX IF NOT EXISTS chatState_company_state ON chatState (companyId, state);
CREATE INDEX IF NOT EXISTS chatState_cstLabel ON chatState (cstLabel);

-- Each operator's availability (online, away, offline), the sessions they
-- have open on every host, and when a chat was last given to them.
CREATE TABLE IF NOT EXISTS operatorState (
  operatorId INT PRIMARY KEY,
  state VARCHAR(10) NOT NULL,
  sessions INT NOT NULL,
  lastAssigned BIGINT NOT NULL,
  changedAt BIGINT NOT NULL
);

-- A company's most running chats per operator (4 when it has no row).
CREATE TABLE IF NOT EXISTS chatSetting (
  companyId INT PRIMARY KEY,
  maxChats INT NOT NULL
);

-- Messages visitors leave while no operator can answer, with their visit.
CREATE TABLE IF NOT EXISTS offlineMessage (
  id INT PRIMARY KEY,
  companyId INT NOT NULL,
  cstLabel VARCHAR(50) NOT NULL,
  name VARCHAR(100) NOT NULL,
  contact VARCHAR(255) NOT NULL,
  content TEXT NOT NULL,
  createdAt BIGINT NOT NULL,
  handled INT NOT NULL,
  handledBy INT NOT NULL,
  handledAt BIGINT NOT NULL,
  IP VARCHAR(50) NOT NULL,
  sourcepage VARCHAR(1000) NOT NULL,
  searchkey VARCHAR(255) NOT NULL,
  visittime VARCHAR(30) NOT NULL
);
CREATE INDEX IF NOT EXISTS offlineMessage_company ON offlineMessage (companyId, handled);

-- A visitor's rating of a conversation (one per conversation: a score
-- of 1 to 5 and a comment), and the indexes the history and statistics
-- pages read chats by.
CREATE TABLE IF NOT EXISTS chatRating (
  cid INT PRIMARY KEY,
  companyId INT NOT NULL,
  score INT NOT NULL,
  comment VARCHAR(1000) NOT NULL,
  ratedAt BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS chatRating_company ON chatRating (companyId, ratedAt);
CREATE INDEX IF NOT EXISTS chatState_company_ended ON chatState (companyId, endedAt);
CREATE INDEX IF NOT EXISTS chatState_company_queued ON chatState (companyId, queuedAt);

-- The full-text index of message text: FTS5 with the trigram tokenizer,
-- so that words of every script are found (Chinese has no spaces between
-- words), kept current by triggers on msg.
CREATE VIRTUAL TABLE IF NOT EXISTS msgText USING fts5(body, tokenize=trigram);
CREATE TRIGGER IF NOT EXISTS msg_text_insert AFTER INSERT ON msg BEGIN
  INSERT INTO msgText (rowid, body) VALUES (new.msgID, new.msgContent);
END;
CREATE TRIGGER IF NOT EXISTS msg_text_delete AFTER DELETE ON msg BEGIN
  DELETE FROM msgText WHERE rowid=old.msgID;
END;
CREATE TRIGGER IF NOT EXISTS msg_text_update AFTER UPDATE OF msgContent ON msg BEGIN
  UPDATE msgText SET body=new.msgContent WHERE rowid=old.msgID;
END;

-- Canned replies: a company's (operatorId 0) or one operator's, inserted
-- in the chat window by their keyword.
CREATE TABLE IF NOT EXISTS cannedResponse (
  id INT PRIMARY KEY,
  companyId INT NOT NULL,
  operatorId INT NOT NULL,
  keyword VARCHAR(50) NOT NULL,
  content TEXT NOT NULL,
  createdAt BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS cannedResponse_owner ON cannedResponse (companyId, operatorId);

-- Operators' notes on a visitor (by label), shown in the console and the
-- chat window.
CREATE TABLE IF NOT EXISTS visitorNote (
  id INT PRIMARY KEY,
  companyId INT NOT NULL,
  cstLabel VARCHAR(50) NOT NULL,
  operatorId INT NOT NULL,
  content TEXT NOT NULL,
  createdAt BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS visitorNote_visitor ON visitorNote (companyId, cstLabel);

-- Whispers: messages between the operators of a conversation, kept apart
-- from msg so that no visitor poll can return them.
CREATE TABLE IF NOT EXISTS whisper (
  id INT PRIMARY KEY,
  cid INT NOT NULL,
  operatorId INT NOT NULL,
  content TEXT NOT NULL,
  createdAt BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS whisper_cid ON whisper (cid);

-- Whether a company's operators see what a visitor is typing (no row: no).
CREATE TABLE IF NOT EXISTS typingPreview (
  companyId INT PRIMARY KEY,
  enabled INT NOT NULL
);

-- Webhooks of each company: where events go, signed with the webhook's
-- secret; `events` is a comma list, or "*" for every event.
CREATE TABLE IF NOT EXISTS webhook (
  id INT PRIMARY KEY,
  companyId INT NOT NULL,
  url VARCHAR(1000) NOT NULL,
  secret VARCHAR(64) NOT NULL,
  events VARCHAR(200) NOT NULL,
  createdAt BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS webhook_company ON webhook (companyId);

-- The webhooks' delivery queue, kept across restarts: pending rows are
-- sent when due (a host claims them until claimedUntil), then done or,
-- after the last attempt, failed.
CREATE TABLE IF NOT EXISTS webhookDelivery (
  id INT PRIMARY KEY,
  webhookId INT NOT NULL,
  companyId INT NOT NULL,
  event VARCHAR(30) NOT NULL,
  body TEXT NOT NULL,
  state VARCHAR(10) NOT NULL,
  attempts INT NOT NULL,
  nextAttemptAt BIGINT NOT NULL,
  claimedUntil BIGINT NOT NULL,
  createdAt BIGINT NOT NULL,
  finishedAt BIGINT NOT NULL,
  lastStatus INT NOT NULL,
  lastError VARCHAR(255) NOT NULL
);
CREATE INDEX IF NOT EXISTS webhookDelivery_due ON webhookDelivery (state, nextAttemptAt);
CREATE INDEX IF NOT EXISTS webhookDelivery_webhook ON webhookDelivery (webhookId);

-- The companies' keys of the read-only API: only a SHA-256 of each key is
-- kept; a revoked key keeps its row (revokedAt not 0).
CREATE TABLE IF NOT EXISTS apiKey (
  id INT PRIMARY KEY,
  companyId INT NOT NULL,
  name VARCHAR(100) NOT NULL,
  prefix VARCHAR(20) NOT NULL,
  keyHash VARCHAR(64) NOT NULL,
  createdAt BIGINT NOT NULL,
  revokedAt BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS apiKey_hash ON apiKey (keyHash);

-- The schema's version (one row, id 1); zelto serve upgrades an older
-- database on start (db/schema_versions.h).
CREATE TABLE IF NOT EXISTS schemaVersion (
  id INT PRIMARY KEY,
  version INT NOT NULL
);
INSERT INTO schemaVersion (id, version) VALUES (1, 7);
