// The process entry: the platform's start-up, one run, its result as the
// exit code. No command line, environment or configuration is read.
#include <cstdlib>

#include "installer/driver.h"
#include "platform/platform.h"

namespace {

int run()
{
    platform::start_up();
    return run_installer();
}

}  // namespace

#ifdef _WIN32
// The Windows program starts here rather than in the toolchain's start-up
// code, which prepares what this program never uses (arguments, the
// environment, thread-local storage, static constructors) at a cost of
// several KB. The system's C runtime library sets itself up as it loads;
// exit flushes it.
extern "C" void quorvel_entry()
{
    std::exit(run());
}
#else
int main()
{
    return run();
}
#endif
