// What quorvel-pack says about itself.
#pragma once

// The command lines, as a wrong one is answered on standard error.
extern const char* const UsageLines;

// The whole usage, for --help: commands, manifest format, what updates
// need, exit statuses.
extern const char* const HelpText;
