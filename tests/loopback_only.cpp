// Linked into every test program: however a test is started, the transport
// refuses every destination outside loopback (it reads this at comm_init).
#include <cstdlib>

namespace detail {
const bool loopbackOnly = ::setenv("ORVISK_LOOPBACK_ONLY", "1", 1) == 0;
} // namespace detail
