// quorvel-pack init: a manifest for everything in a folder.
#pragma once

#include <string>
#include <vector>

struct InitRequest {
    std::string folder;     // what the manifest lists
    std::string build;      // the new build's name; "" reads it from folder/dravik/exec.ver
    std::string previous;   // the last release's manifest, whose builds follow; "" for a first release
    bool refuse_new_folders = false;   // a folder previous lacks is a problem, not a warning
    std::vector<std::string> excludes; // shell patterns on the relative path; a folder matched is not entered
    bool keep_usual_leftovers = false; // list version-control folders and desktop files too
};

struct InitResult {
    std::string manifest;                // the text, when there are no problems
    std::vector<std::string> problems;   // one line each: what the packer would refuse
    std::string warning;                 // "" or one line about updates
    std::vector<std::string> notes;      // what updates from previous will not do, one line each
    std::vector<std::string> left_out;   // one line for each version-control folder or desktop file left out
};

// A dir line for every folder below folder and a file line for every
// regular file but folder/package.manifest and what is left out, each set sorted byte by byte
// by path (so parents come first), and exactly KnownBuildCount build lines:
// the build's name, then the previous manifest's in order without
// duplicates or placeholders, then placeholders for the slots left. The
// text is read back with the packer's own rules before it is returned.
InitResult init_manifest(const InitRequest& request);
