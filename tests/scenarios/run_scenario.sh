#!/usr/bin/env bash
# Runs one driver scenario and compares its transcript with the expected one.
#
#   run_scenario.sh DRIVER SCRIPT EXPECTED [--status N] [--app-server APP_SERVER]
#                   [--demo-localdb APP_SERVER] [--postgres] [--tls] [-- DRIVER_ARGS...]
#
# --status N      the exit status the driver must end with (default 0: every check held)
# --app-server    creates the demo database in a temporary folder, serves it on a free local port
#                 and points the driver at it (--service tcp:127.0.0.1:PORT --localdb demo.db),
#                 logged in as the demo's "demo" (ACOMP_USUARIO, ACOMP_SENHA)
# --demo-localdb  only creates the demo database, as the driver's local database (product look-up)
# --postgres      with --app-server: the server serves the same demo loaded into a database of
#                 its own in the PostgreSQL cluster $ACOMP_TEST_PG names (dropped at the end); the
#                 driver's local database stays the SQLite file
# --tls           with --app-server: the server speaks TLS with a self-signed certificate for
#                 127.0.0.1 made here (openssl), and the driver trusts it through the host's
#                 settings ($ACOMP_TLS, $ACOMP_TLS_CA)
# A line "# driver-args: ARGS..." in the script adds those arguments (split at blanks) to the
# driver's command line. The scenario fails on a different exit status or any difference in the
# transcript.
set -uo pipefail

driver=$1 script=$2 expected=$3
shift 3
want_status=0
app_server=
demo_only=
postgres=
tls=
while [[ $# -gt 0 ]]; do
  case $1 in
    --status) want_status=$2; shift 2 ;;
    --app-server) app_server=$2; shift 2 ;;
    --demo-localdb) app_server=$2; demo_only=1; shift 2 ;;
    --postgres) postgres=1; shift ;;
    --tls) tls=1; shift ;;
    --) shift; break ;;
    *) echo "run_scenario: unknown option $1" >&2; exit 2 ;;
  esac
done
driver_args=("$@")
read -ra script_args <<<"$(sed -n 's/^# driver-args: //p' "$script" | head -n 1)"
driver_args+=("${script_args[@]}")

work=$(mktemp -d)
server_pid=
database=
cleanup() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  if [[ -n $database ]]; then
    psql "$ACOMP_TEST_PG dbname=postgres" -qXc "DROP DATABASE IF EXISTS $database WITH (FORCE)" \
      >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

if [[ -n $app_server ]]; then
  "$app_server" --init-demo "$work/demo.db" >"$work/init.log" 2>&1 ||
    { echo "run_scenario: app-server --init-demo failed:" >&2; cat "$work/init.log" >&2; exit 1; }
fi
served="$work/demo.db"
if [[ -n $postgres ]]; then
  if [[ -z ${ACOMP_TEST_PG:-} ]]; then
    echo "run_scenario: ACOMP_TEST_PG is not set (scripts/test starts a PostgreSQL cluster)" >&2
    exit 1
  fi
  database="acomp_scenario_$$"
  psql "$ACOMP_TEST_PG dbname=postgres" -qXc "CREATE DATABASE $database TEMPLATE template0 \
    ENCODING 'UTF8' LOCALE_PROVIDER icu ICU_LOCALE 'pt-BR' LOCALE 'C.UTF-8'" >"$work/init.log" 2>&1 ||
    { echo "run_scenario: cannot create the database:" >&2; cat "$work/init.log" >&2; exit 1; }
  served="$ACOMP_TEST_PG dbname=$database"
  "$app_server" --init-demo "$served" >>"$work/init.log" 2>&1 ||
    { echo "run_scenario: app-server --init-demo failed:" >&2; cat "$work/init.log" >&2; exit 1; }
fi
server_args=()
if [[ -n $tls ]]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$work/key.pem" -out "$work/cert.pem" >"$work/openssl.log" 2>&1 ||
    { echo "run_scenario: openssl failed:" >&2; cat "$work/openssl.log" >&2; exit 1; }
  server_args=(--tls-cert "$work/cert.pem" --tls-key "$work/key.pem")
  export ACOMP_TLS=on ACOMP_TLS_CA="$work/cert.pem"
fi
if [[ -n $demo_only ]]; then
  driver_args=(--localdb "$work/demo.db" "${driver_args[@]}")
elif [[ -n $app_server ]]; then
  # A free port: try a few at random; the server exits at once when its port is taken.
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    port=$((20000 + RANDOM % 40000))
    port_open "$port" && continue
    "$app_server" --db "$served" --listen "127.0.0.1:$port" "${server_args[@]}" \
      >"$work/server.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 1 100); do
      port_open "$port" && break
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.05
    done
    if port_open "$port"; then break; fi
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=
  done
  if [[ -z $server_pid ]]; then
    echo "run_scenario: could not start the app server:" >&2
    cat "$work/server.log" >&2
    exit 1
  fi
  driver_args=(--service "tcp:127.0.0.1:$port" --localdb "$work/demo.db" "${driver_args[@]}")
  export ACOMP_USUARIO=demo ACOMP_SENHA=demo
fi

"$driver" "${driver_args[@]}" "$script" >"$work/transcript" 2>"$work/stderr"
status=$?

failed=0
if [[ $status -ne $want_status ]]; then
  echo "run_scenario: exit status $status, expected $want_status" >&2
  cat "$work/stderr" >&2
  failed=1
fi
if ! diff -u "$expected" "$work/transcript"; then
  echo "run_scenario: transcript differs from $expected" >&2
  failed=1
fi
exit $failed
