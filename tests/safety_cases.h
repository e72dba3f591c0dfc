// Machines that are not as they should be, met by the installer in this
// process (a scripted shell) and as a real process (its terminal dialogs):
// one list, so the two runs cannot drift apart.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "package/image.h"
#include "tools/pack/manifest.h"

// What the installer tells the user after its first question.
enum class Told { FoundQuestion, TakenQuestion, OlderRefusal, UpdateFailure };

// Each case: the installer is pointed at place, every question after the
// first is answered in turn, it exits 1 having said told, and place is as
// prepare left it (or as while_found left it).
struct SafetyCase {
    std::string what;
    std::function<void(const std::string& place, const Manifest& package)> prepare;
    std::vector<bool> answers;
    std::vector<Told> told;
    // Runs while the found question waits: the user's world goes on.
    std::function<void(const std::string& place, const std::string& elsewhere)> while_found;
    // A file mode only binds a user who is not root.
    bool needs_unprivileged_user = false;
};
const std::vector<SafetyCase>& safety_cases();

// One byte of each kind of the image's data, as a bad download damages it.
struct ImageDamage {
    const char* what;
    const unsigned char* bytes;   // long enough to be found alone in a program
    size_t size;
    size_t flip;                  // the byte within them to change
};
std::vector<ImageDamage> image_damages(const PackageImage& image);
