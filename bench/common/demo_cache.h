// The demo database at a given scale on each engine, made once and then reused while the demo
// generator is unchanged: a scale 5000 demo takes a minute on SQLite and two on PostgreSQL.
//
// The generator's version is a digest of its sources (demo_version.cmake). The SQLite demo is the
// file DIR/demo-VERSION-sSCALE.db, where DIR is --cache, else $ACOMP_BENCH_CACHE, else
// $XDG_CACHE_HOME/acomp-bench, else ~/.cache/acomp-bench; the PostgreSQL demo is the database
// acomp_bench_VERSION_sSCALE of the cluster given. Demos of other versions at the same scale are
// removed when a new one is made (each takes about a gigabyte).
#pragma once

#include <string>

namespace bench {

// The generator's version ("3fa1c09b2e7d").
const char* DemoVersion();

// The folder of the cached SQLite demos.
std::string CacheDir(const std::string& given = {});

// The SQLite demo file at `scale` (seed 1), made with app-server --init-demo when absent.
// Raises std::runtime_error.
std::string SqliteDemo(int scale, const std::string& cacheDir);

// The PostgreSQL demo at `scale` (seed 1) in the cluster `cluster` (a libpq connection string
// without a database, as $ACOMP_TEST_PG): its connection string, the database created and loaded
// when it is absent or incomplete. Raises std::runtime_error.
std::string PostgresDemo(int scale, const std::string& cluster);

}  // namespace bench
