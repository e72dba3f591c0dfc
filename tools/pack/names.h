// Names a package may carry: UTF-8 that Windows can hold, compared the way
// Windows compares them, and build names the version gate can match.
#pragma once

#include <map>
#include <string>

// Why an entry or folder name ("/" separated, relative to the top folder)
// would be unsafe to unpack or could not exist on Windows; "" when fine.
std::string name_problem(const std::string& name);

// name_problem for a file, which must also fit an entry record.
std::string entry_name_problem(const std::string& name);

// Why a build name could never be matched or shown; "" when fine.
std::string build_name_problem(const std::string& name);

// text in single quotes for a message, control characters and bytes that
// are not UTF-8 written as \xNN so that a terminal shows what is there.
std::string quote(const std::string& text);

// The name with every letter case-folded (Unicode simple folding for
// ASCII, Latin-1, Latin Extended-A, basic Greek and Cyrillic), so that two
// names Windows takes for one fold alike. The name must be valid UTF-8.
std::string folded_name(const std::string& name);

// The files and folders of a package so far, by folded name.
struct NameSet {
    struct Seen {
        std::string shown;   // as a message names it: "file 'a'", "dir '\Quorvel\a'"
        bool folder;
        int line;            // 0 when there is no manifest line to name
    };
    std::map<std::string, Seen> by_folded;
};

// Records a valid name, or says why Windows would take it for one seen
// before; shown is how messages name this one.
std::string add_name(NameSet& names, const std::string& name, const std::string& shown, bool folder, int line);
