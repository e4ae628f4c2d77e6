#!/usr/bin/env bash
# The ctest fixture of the PostgreSQL tests (tests/CMakeLists.txt):
#   pg_fixture.sh start DIR   starts a throwaway cluster in DIR (scripts/pg-cluster), unless
#                             ACOMP_TEST_PG already names one; a cluster left there by an
#                             interrupted run is removed first
#   pg_fixture.sh stop DIR    stops and removes it (nothing when ACOMP_TEST_PG names a cluster)
set -euo pipefail
command=${1:-} dir=${2:-}
if [[ -z $command || -z $dir ]]; then
  echo "uso: pg_fixture.sh start|stop DIR" >&2
  exit 2
fi
if [[ -n ${ACOMP_TEST_PG:-} ]]; then
  echo "pg_fixture: usando o cluster de ACOMP_TEST_PG ($ACOMP_TEST_PG)"
  exit 0
fi
cluster="$(dirname "$0")/../scripts/pg-cluster"
case $command in
  start)
    "$cluster" stop "$dir"
    "$cluster" start "$dir"
    ;;
  stop)
    "$cluster" stop "$dir"
    ;;
  *)
    echo "pg_fixture: comando desconhecido: $command" >&2
    exit 2
    ;;
esac
