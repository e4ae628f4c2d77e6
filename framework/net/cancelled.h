// The user abandoned a connect or a call (TTcpAppServer::Cancel, from the window's busy
// indicator while the call runs). It is an ERemoteError like any other failure, with the same
// text ("Operação cancelada pelo usuário."), so every caller that reports a failure reports this
// one too; it is a type of its own for the callers that must tell it apart without reading the
// text: the failover client does not go on to the next server when the user gave up.
#pragma once

#include "protocol/remote.h"

namespace fw {

class ECancelled : public ERemoteError {
 public:
  ECancelled();  // with TTcpAppServer::kCancelledMessage
};

}  // namespace fw
