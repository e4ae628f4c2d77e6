#!/usr/bin/env bash
# Runs a test with ACOMP_TEST_PG set: as the caller set it, or else naming the cluster the ctest
# fixture started in DIR (pg_fixture.sh; scripts/pg-cluster prints the same string).
#   pg_env.sh DIR command [args...]
set -euo pipefail
dir=$1
shift
if [[ -z ${ACOMP_TEST_PG:-} ]]; then
  export ACOMP_TEST_PG="host=$dir port=5432 user=postgres"
fi
exec "$@"
