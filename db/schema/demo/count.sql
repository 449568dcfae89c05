-- Returning visitors for the demo: one of the online visitors came before.

INSERT INTO t_Iprecord (IP, recordTime) VALUES ('58.37.120.9', '2024-05-13 14:02:11');
