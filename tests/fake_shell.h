// A scripted stand-in for the shell and the message boxes: it answers from
// a script and records every dialog, so the driver's conversation can be
// checked exactly.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct ShownDialog {
    std::string kind;      // the message's kind ("question", "error"...), "picker" or "progress"
    std::string caption;   // the picker's title for "picker"
    std::string text;
};

inline bool operator==(const ShownDialog& a, const ShownDialog& b)
{
    return a.kind == b.kind && a.caption == b.caption && a.text == b.text;
}

inline void PrintTo(const ShownDialog& d, std::ostream* out)
{
    *out << "{" << d.kind << ", " << d.caption << ", \"" << d.text << "\"}";
}

struct FakeShell {
    bool allocator_available = true;
    bool desktop_found = true;
    std::string desktop;                 // the desktop's path when found
    std::deque<std::string> picks;       // a path, Cancel or NoPath, per picker opening
    std::deque<bool> answers;            // per question: true is Yes or Retry
    std::vector<ShownDialog> shown;
    int lists_outstanding = 0;           // item lists handed out and not freed
    int allocator_references = 0;
    std::string display_name;            // what the last picker wrote as display name
    uint32_t progress_done = 0;          // blocks done at the last progress step
    // Runs while a question waits for its answer, as the user's world
    // goes on meanwhile.
    std::function<void(const std::string& text)> while_asking;
    // When set, answers every question in place of the scripted answers,
    // for runs whose conversation is not known beforehand.
    std::function<bool(const std::string& text)> answer_with;
};

extern FakeShell Fake;

// The driver's dialogs as the user sees them.
extern const ShownDialog AskDesktop;
extern const ShownDialog Found;
extern const ShownDialog Taken;
extern const ShownDialog Unpacked;
extern const ShownDialog Failed;
extern const ShownDialog PatchFailed;
extern const ShownDialog Older;
extern const ShownDialog PatchErrors;
extern const ShownDialog Patched;
extern const ShownDialog Busy;
extern const ShownDialog PatchBusy;
extern const ShownDialog Picker;
// The in-use box, naming path.
ShownDialog in_use(const std::string& path);
extern const char* const Cancel;
extern const char* const NoPath;

void reset_fake_shell();
