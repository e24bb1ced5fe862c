#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Creates a local SQLite setting database from db/ and an odbc.ini that names
# it as the data source "rldb", without root. Prints the exports to use.
#   scripts/make-setting-db.sh [DIR]      (default: build/settingdb)
# An existing database in DIR is replaced. The data source uses SQLite's
# write-ahead log without a sync per commit: a setting answer then commits in
# about a millisecond instead of waiting for the disk.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build/settingdb}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
db="$dir/rldb.sqlite"

driver=""
for candidate in /usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so \
                 /usr/lib/*/odbc/libsqlite3odbc.so /usr/lib/odbc/libsqlite3odbc.so; do
  if [ -f "$candidate" ]; then driver="$candidate"; break; fi
done
[ -n "$driver" ] || { echo "libsqlite3odbc.so not found (Debian package libsqliteodbc)" >&2; exit 1; }
command -v sqlite3 >/dev/null || { echo "sqlite3 not found (Debian package sqlite3)" >&2; exit 1; }

rm -f "$db"
# Texts are the host's GBK bytes: the catalogue is converted before loading.
{
  cat "$root/db/schema_sqlite.sql"
  echo "BEGIN;"
  iconv -f UTF-8 -t GBK "$root/db/catalogue.sql"
  echo "COMMIT;"
} | sqlite3 "$db"

cat >"$dir/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC Driver
Driver=$driver
INI

cat >"$dir/odbc.ini" <<INI
[rldb]
Description=Vorlan setting database
Driver=$driver
Database=$db
Timeout=2000
JournalMode=WAL
SyncPragma=NORMAL
INI

echo "export ODBCSYSINI=$dir"
echo "export ODBCINI=$dir/odbc.ini"
