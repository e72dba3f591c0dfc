// What lets an installer find and update the installations of its own
// package: the marker files its probes look for, and the version files its
// gate reads and matches against the package's build names.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/manifest.h"

// The build name the installer reads from a version file of these bytes.
std::string version_name_in(const std::vector<unsigned char>& bytes);

// "" for a version file's bytes the installer reads as meant, else why not:
// an editor's UTF-8 byte-order mark would be read as part of the name.
std::string version_file_problem(const std::vector<unsigned char>& bytes);

// The names that fill the build list's unused slots, "(unused slot 002)"
// for slot 2 (counted from 1). No release can carry one: init refuses it
// for a build, and the packer for what a version file names.
std::string placeholder_build(unsigned slot);
bool is_placeholder_build(const std::string& name);

// 1 when each version file in the payload reads as one of the package's
// build names, else 0 with a message naming the file. Names are matched
// as Windows matches them, since that is the file the gate opens there.
int check_version_files(const Manifest& manifest, std::string& error);

// "" when the payload holds both marker files, else one line saying which
// are missing and what that means for updates.
std::string marker_warning(const Manifest& manifest);

// What an update from the previous release will not do, said before the
// package ships, one line each.
struct UpdateNotes {
    std::vector<std::string> new_folders;     // a folder new since then, and the files updates cannot put there
    std::vector<std::string> dropped_files;   // a file no longer packed, which stays on updated installations
    std::string launchers;                    // the launchers every update deletes
};

// package against previous, as read_manifest_listing reads it; the lines
// name the previous release by its own build, the first of its list.
UpdateNotes update_notes(const Manifest& package, const Manifest& previous);

// The notes as the tools print them, "warning: " or "note: " first; with
// refuse_new_folders, the new folders' lines go to problems instead.
std::vector<std::string> update_lines(const UpdateNotes& notes, bool refuse_new_folders,
                                      std::vector<std::string>& problems);
