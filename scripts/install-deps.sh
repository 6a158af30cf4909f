#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs; the groups may be combined:
#   build        building the program and the SQLite demo
#   package      that, and making and checking the Debian package (scripts/package.sh)
#   postgresql   that, and a PostgreSQL server with psqlODBC (scripts/demo.sh postgresql)
#   mariadb      that, and a MariaDB server with Connector/ODBC (scripts/demo.sh mariadb)
#   test         all of the above and what the tests need (the default)
# Idempotent: it only checks when everything is there already.
set -euo pipefail

build=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3 libcurl4-openssl-dev unixodbc unixodbc-dev ca-certificates python3
)
# dpkg-shlibdeps (dpkg-dev) and file find the libraries the package needs; lintian checks it
package=(dpkg-dev file lintian)
postgresql=(postgresql odbc-postgresql)
mariadb=(mariadb-server mariadb-client odbc-mariadb)
test=(
  libgtest-dev libgmock-dev
  # FreeTDS is only loaded (no SQL Server runs on Linux test machines)
  tdsodbc
  # mail servers the tests use: aiosmtpd, and postfix's smtp-sink / smtp-source
  python3-aiosmtpd postfix openssl
  # the Prometheus text format's own parser, for the metrics file
  python3-prometheus-client
  # tools the tests and the fuzzers use; systemd-analyze checks the shipped service unit
  util-linux procps clang libclang-rt-14-dev systemd
)

packages=("${build[@]}")
for group in "${@:-test}"; do
  case $group in
    build) ;;
    package) packages+=("${package[@]}") ;;
    postgresql) packages+=("${postgresql[@]}") ;;
    mariadb) packages+=("${mariadb[@]}") ;;
    test) packages+=("${package[@]}" "${postgresql[@]}" "${mariadb[@]}" "${test[@]}") ;;
    *) echo "install-deps.sh: unknown group '$group' (build, package, postgresql, mariadb, test)" >&2
       exit 64 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# postfix is wanted only for smtp-sink and smtp-source: no mail system is set up, and no
# package starts a daemon while we install (mariadb-server and postgresql would start the
# system's own servers; the tests start private ones).
echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
made_policy=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
  $sudo chmod +x /usr/sbin/policy-rc.d
  made_policy=1
fi
trap '[ -n "$made_policy" ] && $sudo rm -f /usr/sbin/policy-rc.d' EXIT

echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
