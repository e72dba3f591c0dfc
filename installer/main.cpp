// The process entry: the platform's start-up, one run, its result as the
// exit code. No command line, environment or configuration is read.
#include "installer/driver.h"
#include "platform/platform.h"

int main()
{
    platform::start_up();
    return run_installer();
}
