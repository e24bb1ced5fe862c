-- Sample point catalogue for the relay types the relay simulator reports.
-- UTF-8 here; scripts/make-setting-db.sh converts it to GBK for SQLite, and a
-- PostgreSQL database (UTF8) takes it as it is through psql.
-- Columns: Comment (unit), Value, RtuType, RelayType (1 numeric, 2 byte), RelayID, RelayName.

-- Type 21: coded list (0xBD). The driver keeps type 21 as 210, so its points
-- are catalogued under 210. Numeric point RelayID names setting code RelayID-1.
INSERT INTO "RelayName" VALUES ('A', 0, 210, 1, 1, '电流速断定值');
INSERT INTO "RelayName" VALUES ('s', 0, 210, 1, 2, '电流速断时限');
INSERT INTO "RelayName" VALUES ('A', 0, 210, 1, 3, '过电流定值');
INSERT INTO "RelayName" VALUES ('s', 0, 210, 1, 4, '过电流时限');
INSERT INTO "RelayName" VALUES ('A', 0, 210, 1, 5, '零序过流定值');
INSERT INTO "RelayName" VALUES ('s', 0, 210, 1, 6, '零序过流时限');
INSERT INTO "RelayName" VALUES ('s', 0, 210, 1, 7, '重合闸时限');
INSERT INTO "RelayName" VALUES ('V', 0, 210, 1, 8, '低电压定值');
INSERT INTO "RelayName" VALUES ('A', 0, 210, 1, 9, '过负荷定值');
INSERT INTO "RelayName" VALUES ('s', 0, 210, 1, 10, '过负荷时限');
-- One-digit settings (one value byte).
INSERT INTO "RelayName" VALUES ('次', 0, 210, 1, 11, '重合闸次数');
INSERT INTO "RelayName" VALUES ('', 0, 210, 1, 12, '过负荷返回系数');
INSERT INTO "RelayName" VALUES ('°', 0, 210, 1, 13, '零序方向角偏移');

-- Type 31: float layout (0xAD), 8 numeric values and 4 byte values.
INSERT INTO "RelayName" VALUES ('A', 0, 31, 1, 1, '差动启动电流');
INSERT INTO "RelayName" VALUES ('A', 0, 31, 1, 2, '差动速断电流');
INSERT INTO "RelayName" VALUES ('', 0, 31, 1, 3, '比率制动系数');
INSERT INTO "RelayName" VALUES ('%', 0, 31, 1, 4, '二次谐波制动系数');
INSERT INTO "RelayName" VALUES ('A', 0, 31, 1, 5, '高压侧过流定值');
INSERT INTO "RelayName" VALUES ('s', 0, 31, 1, 6, '高压侧过流时限');
INSERT INTO "RelayName" VALUES ('A', 0, 31, 1, 7, '低压侧过流定值');
INSERT INTO "RelayName" VALUES ('s', 0, 31, 1, 8, '低压侧过流时限');
INSERT INTO "RelayName" VALUES ('投/退', 0, 31, 2, 1, '差动保护投退');
INSERT INTO "RelayName" VALUES ('投/退', 0, 31, 2, 2, '差动速断投退');
INSERT INTO "RelayName" VALUES ('投/退', 0, 31, 2, 3, '过流保护投退');
INSERT INTO "RelayName" VALUES ('投/退', 0, 31, 2, 4, '二次谐波闭锁投退');

-- Type 41: float layout (0xAD), 6 numeric values and 3 byte values.
INSERT INTO "RelayName" VALUES ('Hz', 0, 41, 1, 1, '低频减载频率定值');
INSERT INTO "RelayName" VALUES ('s', 0, 41, 1, 2, '低频减载时限');
INSERT INTO "RelayName" VALUES ('Hz/s', 0, 41, 1, 3, '滑差闭锁定值');
INSERT INTO "RelayName" VALUES ('V', 0, 41, 1, 4, '低压闭锁定值');
INSERT INTO "RelayName" VALUES ('V', 0, 41, 1, 5, '零序电压定值');
INSERT INTO "RelayName" VALUES ('s', 0, 41, 1, 6, '零序电压时限');
INSERT INTO "RelayName" VALUES ('投/退', 0, 41, 2, 1, '低频减载投退');
INSERT INTO "RelayName" VALUES ('投/退', 0, 41, 2, 2, '滑差闭锁投退');
INSERT INTO "RelayName" VALUES ('投/退', 0, 41, 2, 3, '零序电压投退');
