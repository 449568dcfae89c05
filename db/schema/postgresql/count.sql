-- Count database on PostgreSQL: network addresses seen before (returning
-- visitors). Addresses compare case-insensitively, as on SQLite.

CREATE EXTENSION IF NOT EXISTS citext;

CREATE TABLE IF NOT EXISTS t_Iprecord (
  IP CITEXT NOT NULL,
  recordTime TIMESTAMP
);
CREATE INDEX IF NOT EXISTS t_Iprecord_IP ON t_Iprecord (IP);

-- The schema's version (one row, id 1); zelto serve upgrades an older
-- database on start (db/schema_versions.h).
CREATE TABLE IF NOT EXISTS schemaVersion (
  id INT PRIMARY KEY,
  version INT NOT NULL
);
INSERT INTO schemaVersion (id, version) VALUES (1, 1);
