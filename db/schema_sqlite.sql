-- SPDX-License-Identifier: Apache-2.0
-- Setting database, SQLite. Texts are stored as the host's GBK bytes.
-- No key: the driver addresses rows by their column values.

-- Point catalogue: the settings of each relay type and their current values.
CREATE TABLE IF NOT EXISTS "RelayName" (
  "Comment"   VARCHAR(255),
  "Value"     REAL,
  "RtuType"   INTEGER,
  "RelayType" INTEGER,   -- 1 = numeric setting, 2 = byte setting
  "RelayID"   INTEGER,   -- 1-based number within its kind
  "RelayName" VARCHAR(255)
);
CREATE INDEX IF NOT EXISTS "RelayName_RtuType" ON "RelayName" ("RtuType", "RelayID");

-- Coded settings last read from each relay type (answer 0xBD).
CREATE TABLE IF NOT EXISTS "RelayDevSet" (
  "type"   SMALLINT,        -- relay type code (21 is stored as 210)
  "group"  SMALLINT,        -- 2 in every row the driver writes
  "code"   SMALLINT,        -- setting code as sent by the relay
  "number" INTEGER,
  "name"   VARCHAR(255),
  "value"  REAL,
  "flag"   SMALLINT         -- 1 = setting enabled (descriptor bit 7 clear)
);
CREATE INDEX IF NOT EXISTS "RelayDevSet_type" ON "RelayDevSet" ("type", "code");
