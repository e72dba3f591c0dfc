// The paths of an installation that the installer relies on, written once:
// the installer probes and updates by them, the packer checks packages
// against them, and the tests build installations from them.
#pragma once

// A folder holds an installation when both exist there; the packer warns
// about a package that lacks them, since it could never update its own.
inline constexpr const char* MarkerFiles[2] = {"dravik/dravik.exe", "dravik/images/mossling.png"};

// Each that exists must name a known build for an update to go ahead; the
// first is read first, and init takes a new build's name from it.
inline constexpr const char* VersionFiles[2] = {"dravik/exec.ver", "dravik/playerdata/data.ver"};

// Launchers of older releases in the top folder; every update deletes them
// before it writes.
inline constexpr const char* RetiredLaunchers[2] = {"Quorvel (fullscreen, fast).exe",
                                                    "Quorvel (fullscreen, smooth).exe"};
