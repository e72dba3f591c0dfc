// The installer's main flow: where to unpack, fresh install or update.
#pragma once

// Returns the process exit code: 0 after a fresh install without errors or
// any update that passed the version gate, 1 otherwise.
int run_installer();
