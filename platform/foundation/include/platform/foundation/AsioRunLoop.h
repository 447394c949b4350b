// The Boost.Asio context under a run loop, for the platform's own sources (the bus connection)
// and the programs' (the web server). Not installed: what consumers of the library see of the
// loop needs the standard library alone.
#pragma once

#include <boost/asio/io_context.hpp>

#include "platform/foundation/Export.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

// The context that runs `loop`'s work; it lives as long as `loop`.
HX_PLATFORM_EXPORT boost::asio::io_context& asioContext(RunLoop& loop);

}  // namespace platform
