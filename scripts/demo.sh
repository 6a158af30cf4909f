#!/usr/bin/env bash
# Builds the program and runs one job on the embedded defaults: a demo/ program folder with the
# executable, a config.txt and a freshly made SQLite database whose mail server is the pickup
# folder demo/outbox. Then prints the e-mails the run produced.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh build
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_TESTS=OFF \
  -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build build-demo --target corvane-email-handler

rm -rf demo
mkdir -p demo/outbox
cp build-demo/src/run/corvane-email-handler demo/
# Item 3: the database; item 11: who gets the tour-drop alerts; item 13: how many days ahead.
cat > demo/config.txt <<'CONFIG'
Corvane Email Handler
Database,"Provider=SQLite;Data Source=fleet.db;"
Unused,
Unused,
Unused,
TourAlertTo,dispatch@corvanetours.com
TourAlertDays,7
CONFIG
chmod 600 demo/config.txt
sqlite3 demo/fleet.db < sql/schema-sqlite.sql
sqlite3 demo/fleet.db < sql/demo-data.sql

# Run it as cron would: from /, with next to no environment.
status=0
(cd / && env -i PATH=/usr/bin:/bin "$root/demo/corvane-email-handler") || status=$?
echo "corvane-email-handler ended with status $status"
echo
/usr/bin/python3 "$root/scripts/show-mail.py" "$root"/demo/outbox/*.eml
exit "$status"
