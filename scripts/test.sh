#!/usr/bin/env bash
# Builds and passes every test, twice: a normal build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build. Installs the packages first. The tests start the servers they
# need (PostgreSQL through psqlODBC and MariaDB through Connector/ODBC, each on a private socket;
# aiosmtpd and smtp-sink on 127.0.0.1) in temporary folders and stop them. FreeTDS is only
# loaded: no SQL Server runs here. Each test run goes through tests/support/reap_leftovers.py:
# whatever it leaves running (a crashed test's server, say) is listed, stopped, and fails the
# run, and its temporary folder is removed; nothing outside that run is ever touched.
#
# Then the demo runs on SQLite, PostgreSQL and MariaDB with the fleet passes (whose marks need
# the setup pages' grants) and must send the same alerts; and the Debian package is made
# (scripts/package.sh, lintian), its file list checked, the program run from the unpacked
# package with --check on the demo, and the package installed with apt (the command on PATH,
# --check as root running as corvane on the package's own layout) and purged.
#
#   scripts/test.sh            both builds, the demos, the package, then a short fuzz run
#   scripts/test.sh quick      the normal build and the demos only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

# Missing servers fail the tests instead of skipping them.
export CORVANE_REQUIRE_SERVICES=1
jobs=$(nproc)

run_variant() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  /usr/bin/python3 "$root/tests/support/reap_leftovers.py" \
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" --timeout 600
}

# A packager's build: Release, the program only, with clang, installed into a staging folder.
# Warnings are errors here too, so neither compiler's warnings creep in.
packager_build() {
  local dir=$root/build-packager
  CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON \
    >/dev/null
  cmake --build "$dir" -j"$jobs"
  rm -rf "$dir/stage"
  DESTDIR="$dir/stage" cmake --install "$dir" >/dev/null
  local folder=$dir/stage/opt/corvane-email-handler
  test -x "$folder/corvane-email-handler"
  # Nothing made for one machine on one day goes into a staging.
  for made in config.txt corvane-email-handler.lock fleet.db outbox; do
    if [ -e "$folder/$made" ]; then echo "the staging holds $made" >&2; return 1; fi
  done
  grep -qx "ExecStart=/opt/corvane-email-handler/corvane-email-handler" \
    "$folder/examples/corvane-email-handler.service"
  test -f "$dir/stage/usr/local/share/man/man1/corvane-email-handler.1"
}

# The e-mails a demo printed, one line each, sorted (the engines may send them in another
# order), without the file names and dates that differ from run to run.
demo_alerts() {
  awk '/^--- e-mail /{if (m != "") print m; m = "|"; next} /^Date: /{next}
       m != "" {m = m $0 "|"} END{if (m != "") print m}' "$1" | sort
}

demo_on_every_engine() {
  local out=$root/build/demo-alerts engine
  mkdir -p "$out"
  for engine in sqlite postgresql mariadb; do
    CORVANE_DEMO_EXECUTABLE=$root/build/src/run/corvane-email-handler \
      scripts/demo.sh "$engine" --fleet >"$out/$engine.txt"
    demo_alerts "$out/$engine.txt" >"$out/$engine.alerts"
  done
  test "$(wc -l <"$out/sqlite.alerts")" -eq 9
  diff -u "$out/sqlite.alerts" "$out/postgresql.alerts"
  diff -u "$out/sqlite.alerts" "$out/mariadb.alerts"
  echo "The demo sent the same 9 alerts on SQLite, PostgreSQL and MariaDB."
}

# The package: lintian (in package.sh), what it holds and nothing else, and the program run from
# the unpacked tree on the demo.
package_check() {
  scripts/package.sh
  local deb files paths tree=$root/build-package/unpacked
  deb=$(ls dist/corvane-email-handler_*_"$(dpkg --print-architecture)".deb)
  files=$(dpkg-deb -c "$deb")
  paths=$(awk '{print $6}' <<<"$files")
  for path in ./opt/corvane-email-handler/corvane-email-handler \
    ./opt/corvane-email-handler/config.txt ./opt/corvane-email-handler/sql/setup-postgres.sql \
    ./etc/corvane-email-handler/config.txt ./lib/systemd/system/corvane-email-handler.service \
    ./lib/systemd/system/corvane-email-handler.timer ./usr/share/man/man1/corvane-email-handler.1.gz \
    ./usr/share/doc/corvane-email-handler/README.md ./usr/share/doc/corvane-email-handler/copyright \
    ./usr/share/doc/corvane-email-handler/README.Debian ./usr/bin/corvane-email-handler \
    ./usr/share/lintian/overrides/corvane-email-handler; do
    grep -qx -- "$path" <<<"$paths" || { echo "the package lacks $path" >&2; return 1; }
  done
  grep -Eq '^-rwxr-xr-x root/root .* \./opt/corvane-email-handler/corvane-email-handler$' <<<"$files"
  grep -q ' ./opt/corvane-email-handler/config.txt -> /etc/corvane-email-handler/config.txt$' <<<"$files"
  grep -q ' ./usr/bin/corvane-email-handler -> /opt/corvane-email-handler/corvane-email-handler$' <<<"$files"
  # Owner-only from the moment dpkg unpacks it, before postinst hands it to corvane.
  grep -Eq '^-rw------- root/root .* \./etc/corvane-email-handler/config\.txt$' <<<"$files"
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/corvane-email-handler/config.txt
  # Root's files, none that others may change, in the package's own places only; no database,
  # lock file or mail folder.
  if awk '$2 != "root/root" || ($1 !~ /^l/ && $1 ~ /^(.....w|........w)/)' <<<"$files" | grep . ||
     grep -Ev '^\./((etc|lib|lib/systemd|lib/systemd/system|opt|usr|usr/bin|usr/share|usr/share/(doc|man|man/man1|lintian|lintian/overrides))/|etc/corvane-email-handler/.*|lib/systemd/system/corvane-email-handler\.(service|timer)|opt/corvane-email-handler/.*|usr/bin/corvane-email-handler|usr/share/doc/corvane-email-handler/.*|usr/share/man/man1/corvane-email-handler\.1\.gz|usr/share/lintian/overrides/corvane-email-handler)?$' <<<"$paths" ||
     grep -E '\.(db|lock)$|/outbox/?$' <<<"$paths"; then
    echo "the package holds what it should not (above)" >&2
    return 1
  fi

  rm -rf "$tree" && mkdir -p "$tree"
  dpkg-deb -x "$deb" "$tree"
  local folder=$tree/opt/corvane-email-handler
  # config.txt through the link, as installed, to the package's settings (the demo's), made
  # owner-only as postinst does; the demo database and its pickup folder beside the program.
  ln -sfn "$tree/etc/corvane-email-handler/config.txt" "$folder/config.txt"
  chmod 600 "$tree/etc/corvane-email-handler/config.txt"
  sqlite3 "$folder/fleet.db" <"$folder/sql/schema-sqlite.sql"
  /usr/bin/python3 scripts/demo-data.py sqlite | sqlite3 "$folder/fleet.db"
  mkdir "$folder/outbox"
  (cd / && env -i PATH=/usr/bin:/bin "$folder/corvane-email-handler" --check)
  installed_package_check "$deb"
  echo "The package passed: lintian, its files, --check from the unpacked tree on the demo, and"
  echo "installed: on PATH, --check as root running as corvane, purged."
}

# The package as an administrator installs it, on this machine, then purged. One at a time (the
# lock), and never over a program folder that is not the package's.
installed_package_check() {
  local deb=$1 folder=/opt/corvane-email-handler out
  exec {lock}>/run/lock/corvane-email-handler-package-check
  flock "$lock"
  if [ -e "$folder" ] && ! dpkg -S "$folder" >/dev/null 2>&1; then
    echo "$folder is there and no package's: not installing over it" >&2
    return 1
  fi
  out=$(DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$root/$deb" 2>&1)
  # A first install ends with the three next steps.
  test "$(grep -c '^corvane-email-handler: ' <<<"$out")" -eq 3 || { echo "$out" >&2; return 1; }
  # The package's own layout with the demo database, as README.Debian's first steps make it.
  sqlite3 "$folder/fleet.db" <"$folder/sql/schema-sqlite.sql"
  /usr/bin/python3 scripts/demo-data.py sqlite | sqlite3 "$folder/fleet.db"
  install -d -o corvane -g corvane -m 0700 "$folder/outbox"
  chown corvane: "$folder/fleet.db"
  (cd / && env -i PATH=/usr/bin:/bin corvane-email-handler --version) | grep -qx 'corvane-email-handler [0-9.]*'
  # As root, on a config.txt that is corvane's: the command runs as corvane and passes.
  out=$(cd / && env -i PATH=/usr/bin:/bin corvane-email-handler --check) || { echo "$out" >&2; return 1; }
  grep -q "^settings .* /opt/corvane-email-handler/config.txt: 13 items, .*; run as its owner corvane$" <<<"$out"
  # --config's file decides the same way, and is the one named.
  out=$(cd / && env -i PATH=/usr/bin:/bin corvane-email-handler --check --config /etc/corvane-email-handler/config.txt)
  grep -q "^settings .* /etc/corvane-email-handler/config.txt: 13 items, .*; run as its owner corvane$" <<<"$out"
  rm -rf "$folder/fleet.db" "$folder/outbox"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q corvane-email-handler >/dev/null
  for gone in /usr/bin/corvane-email-handler "$folder" /etc/corvane-email-handler; do
    if [ -e "$gone" ]; then echo "the purge left $gone" >&2; return 1; fi
  done
  exec {lock}>&-
}

run_variant "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_BENCH=ON -DCORVANE_WERROR=ON
demo_on_every_engine
if [ "${1:-}" != "quick" ]; then
  package_check
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_variant "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_BUILD_TESTS=ON -DCORVANE_WERROR=ON \
    -DCORVANE_BUILD_BENCH=OFF
  unset ASAN_OPTIONS UBSAN_OPTIONS
  packager_build
  scripts/fuzz.sh "${CORVANE_FUZZ_SECONDS:-20}"
fi
echo "All tests passed."
