-- SPDX-License-Identifier: Apache-2.0
-- Setting database, PostgreSQL. Create the database with UTF8 encoding; the
-- driver's DSN sets the client encoding to GBK, so texts arrive as GBK bytes.
-- No key: the driver addresses rows by their column values.

-- Point catalogue: the settings of each relay type and their current values.
CREATE TABLE IF NOT EXISTS "RelayName" (
  "Comment"   varchar(255),
  "Value"     real,
  "RtuType"   integer,
  "RelayType" integer,   -- 1 = numeric setting, 2 = byte setting
  "RelayID"   integer,   -- 1-based number within its kind
  "RelayName" varchar(255)
);
CREATE INDEX IF NOT EXISTS "RelayName_RtuType" ON "RelayName" ("RtuType", "RelayID");

-- Coded settings last read from each relay type (answer 0xBD).
CREATE TABLE IF NOT EXISTS "RelayDevSet" (
  "type"   smallint,        -- relay type code (21 is stored as 210)
  "group"  smallint,        -- 2 in every row the driver writes
  "code"   smallint,        -- setting code as sent by the relay
  "number" integer,
  "name"   varchar(255),
  "value"  real,
  "flag"   smallint         -- 1 = setting enabled (descriptor bit 7 clear)
);
CREATE INDEX IF NOT EXISTS "RelayDevSet_type" ON "RelayDevSet" ("type", "code");
