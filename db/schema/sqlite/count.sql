-- Count database: network addresses seen before (returning visitors).

CREATE TABLE IF NOT EXISTS t_Iprecord (
  IP NVARCHAR(50) COLLATE NOCASE NOT NULL,
  recordTime DATETIME
);
CREATE INDEX IF NOT EXISTS t_Iprecord_IP ON t_Iprecord (IP);

-- The schema's version (one row, id 1); zelto serve upgrades an older
-- database on start (db/schema_versions.h).
CREATE TABLE IF NOT EXISTS schemaVersion (
  id INT PRIMARY KEY,
  version INT NOT NULL
);
INSERT INTO schemaVersion (id, version) VALUES (1, 1);
