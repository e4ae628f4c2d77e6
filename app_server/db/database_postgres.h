// What the PostgreSQL engine shares with the demo loader: how a connection is opened.
#pragma once

#include <libpq-fe.h>

#include <string>

#include "app_server/db/database.h"

namespace app {

// A blocking connection with the service's defaults (a 5 s connect time-out, TCP keep-alive,
// UTF-8), any of which the connection string may override but the encoding. Raises
// EDatabaseError ("Falha no banco de dados: não foi possível conectar ao PostgreSQL em
// db1:5432/compras (...)").
PGconn* ConnectPostgres(const std::string& conninfo);

}  // namespace app
