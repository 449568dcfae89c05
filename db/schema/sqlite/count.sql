-- Count database: network addresses seen before (returning visitors).

CREATE TABLE IF NOT EXISTS t_Iprecord (
  IP NVARCHAR(50) COLLATE NOCASE NOT NULL,
  recordTime DATETIME
);
CREATE INDEX IF NOT EXISTS t_Iprecord_IP ON t_Iprecord (IP);
