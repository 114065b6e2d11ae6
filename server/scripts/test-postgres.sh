#!/usr/bin/env bash
# Runs the server tests against a throw-away PostgreSQL cluster on a loopback port.
# Usage: server/scripts/test-postgres.sh [build directory, default ./build]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
pgbin=${PGBIN:-/usr/lib/postgresql/15/bin}
port=${NOTES_TEST_PG_PORT:-55433}

if [ ! -x "$pgbin/initdb" ]; then
  # Only this script needs the PostgreSQL server; the build itself needs the Qt driver alone.
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends postgresql
fi
cmake --build "$build" -j2 --target tst_serverauth tst_serversync

work=$(mktemp -d)
# initdb refuses to run as root; the cluster then belongs to the postgres system user.
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$work"
  as_owner=(runuser -u postgres --)
fi
cleanup() {
  "${as_owner[@]}" "$pgbin/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"${as_owner[@]}" "$pgbin/initdb" -D "$work/data" -U notes --auth=trust -E UTF8 >/dev/null
"${as_owner[@]}" "$pgbin/pg_ctl" -D "$work/data" -l "$work/log" -w \
  -o "-c listen_addresses=127.0.0.1 -p $port -k $work -c fsync=off" start >/dev/null
"${as_owner[@]}" "$pgbin/createdb" -h 127.0.0.1 -p "$port" -U notes notes_test

export NOTES_SERVER_TEST_DATABASE=postgres
export NOTES_SERVER_PG_HOST=127.0.0.1
export NOTES_SERVER_PG_PORT=$port
export NOTES_SERVER_PG_DATABASE=notes_test
export NOTES_SERVER_PG_USER=notes
(cd "$build" && ctest -R 'tst_server' --output-on-failure)
