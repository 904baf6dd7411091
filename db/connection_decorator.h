// A wrapper that Connect applies to every connection it opens, for tests that watch or
// disturb what the modules send (a recording or fault-injecting connection). Production
// code never sets one. Set and cleared from the test's main thread while no other thread
// connects; Connect reads it under a lock.
#pragma once

#include <functional>
#include <memory>

#include "db/client.h"

namespace zel::db {

using ConnectionDecorator =
    std::function<std::unique_ptr<Connection>(std::unique_ptr<Connection> inner)>;

// Every later Connect returns decorator(connection); an empty function stops the wrapping.
void SetConnectionDecorator(ConnectionDecorator decorator);

}  // namespace zel::db
