-- Count database on PostgreSQL: network addresses seen before (returning
-- visitors). Addresses compare case-insensitively, as on SQLite.

CREATE EXTENSION IF NOT EXISTS citext;

CREATE TABLE IF NOT EXISTS t_Iprecord (
  IP CITEXT NOT NULL,
  recordTime TIMESTAMP
);
CREATE INDEX IF NOT EXISTS t_Iprecord_IP ON t_Iprecord (IP);
