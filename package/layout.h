// The paths of an installation that the installer relies on, and how its
// version files read, written once: the installer probes and updates by
// them, the packer checks packages against them, and the tests build
// installations from them.
#pragma once

// A folder holds an installation when both exist there; the packer warns
// about a package that lacks them, since it could never update its own.
inline constexpr const char* MarkerFiles[2] = {"dravik/dravik.exe", "dravik/images/mossling.png"};

// Each that exists must name a known build for an update to go ahead; the
// first is read first, and init takes a new build's name from it.
inline constexpr const char* VersionFiles[2] = {"dravik/exec.ver", "dravik/playerdata/data.ver"};

// What a version file is read into: the gate keeps at most 125 bytes.
constexpr unsigned VersionNameSize = 128;

// Ends a name read with fgetc into name: the last of the count values
// stored (the end-of-file value, or the byte after the most a name keeps)
// is cut off, then trailing line feeds, though never one at index 0. The
// packer checks its own version files with this very rule.
inline void end_version_name(char* name, int count)
{
    if (count <= 0) {   // nothing was read, not even the end
        name[0] = '\0';
        return;
    }
    name[--count] = '\0';
    for (count--; count > 0 && name[count] == '\n'; count--)
        name[count] = '\0';
}

// Launchers of older releases in the top folder; every update deletes them
// before it writes.
inline constexpr const char* RetiredLaunchers[2] = {"Quorvel (fullscreen, fast).exe",
                                                    "Quorvel (fullscreen, smooth).exe"};
