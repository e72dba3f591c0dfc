// The package's text files: the library licence, the change log, the
// instructions, the readme and the version files.
#include <cstdio>

#include "tools/default_package/document.h"
#include "tools/default_package/package_files.h"
#include "tools/default_package/words.h"

namespace {

struct Date {
    int year, month, day;
};

Date days_before(Date t, int days) {
    static constexpr int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int i = 0; i < days; ++i) {
        if (--t.day > 0) continue;
        if (--t.month == 0) {
            t.month = 12;
            --t.year;
        }
        const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
        t.day = kLengths[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    }
    return t;
}

std::string iso_date(Date t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
    return buf;
}

}  // namespace

std::string version_file() { return "build128\r\n"; }

std::string make_licence(std::size_t size) {
    static constexpr std::string_view kTitles[] = {
        "Definitions", "Grant of use", "Copies", "Altered copies", "Host programs", "Notices",
        "Payment", "Names and marks", "No promises", "Limits of liability", "Ending these terms",
        "Later revisions", "Governing rules", "Translations", "Archives and mirrors",
        "Compiled files", "Bundles", "Records", "Fair dealing", "Contact",
    };
    Rng r = seeded("licence");
    const std::string ending = "\r\nEND OF TERMS\r\n";
    Doc d{{}, size - ending.size(), "\r\n"};
    add_line(d, "BRACKMOOR LIBRARY USE TERMS");
    add_line(d, "Revision 2, for the runtime libraries shipped with Quorvel");
    add_line(d, "");
    add_block(d, wrap("These terms say what you may and may not do with the library files that "
                      "come with this game. Read them before you copy, change or pass on any of "
                      "those files. Capitalised words are explained in Section 1.", "", ""), 0);
    add_line(d, "");
    for (std::size_t section = 1;; ++section) {
        std::string title(kTitles[(section - 1) % std::size(kTitles)]);
        if (section > std::size(kTitles)) title = "Further rules on " + lower(title);
        std::vector<std::string> block{std::to_string(section) + ". " + upper(title), ""};
        const int paras = between(r, 2, 4);
        for (int p = 0; p < paras; ++p) {
            const std::string label = std::string("  (") + static_cast<char>('a' + p) + ") ";
            push_lines(block, wrap(paragraph(r, legal_sentence, between(r, 2, 4)), label, "      "));
            block.emplace_back();
        }
        if (!add_block(d, block, 400)) {
            add_line(d, std::to_string(section) + ". FINAL PROVISIONS");
            add_line(d, "");
            break;
        }
    }
    finish_doc(r, d, legal_sentence, "  ", "  ");
    return d.text + ending;
}

std::string make_changelog(std::size_t size) {
    Rng r = seeded("changelog");
    Doc d{{}, size, "\r\n"};
    add_line(d, "QUORVEL CHANGE LOG");
    add_line(d, "==================");
    add_line(d, "Newest build first. Dates are the release dates of the public builds.");
    add_line(d, "");
    constexpr int kNewest = 128, kOldest = 41;
    const std::size_t start = d.text.size();
    const std::size_t per_build = (size - start - 600) / (kNewest - kOldest + 1);
    Date date{2006, 11, 14};
    for (int build = kNewest; build >= kOldest; --build) {
        const std::string heading = "build" + std::to_string(build) + " (" + iso_date(date) + ")";
        add_line(d, heading);
        add_line(d, std::string(heading.size(), '-'));
        const bool oldest = build == kOldest;
        const std::size_t goal = start + static_cast<std::size_t>(kNewest - build + 1) * per_build;
        do {
            if (!add_block(d, wrap(change_item(r), "- ", "  "), oldest ? 250 : 600)) break;
        } while (oldest || d.text.size() < goal);
        if (oldest) finish_doc(r, d, change_item, "- ", "  ");
        else add_line(d, "");
        date = days_before(date, between(r, 3, 16));
    }
    return d.text;
}

std::string make_instructions(std::size_t size) {
    static constexpr std::string_view kControls[][2] = {
        {"Move forward", "W or Up arrow"},        {"Move backward", "S or Down arrow"},
        {"Step left", "A"},                       {"Step right", "D"},
        {"Turn", "Mouse, or Left / Right arrow"}, {"Jump", "Space"},
        {"Crouch", "Ctrl"},                       {"Run", "Shift (hold)"},
        {"Use / open", "E"},                      {"Strike", "Left mouse button"},
        {"Block", "Right mouse button"},          {"Throw", "Q"},
        {"Toggle lantern", "L"},                  {"Next item", "Mouse wheel up"},
        {"Previous item", "Mouse wheel down"},    {"Journal", "J"},
        {"Map", "Tab"},                           {"Quick save", "F5"},
        {"Quick load", "F9"},                     {"Screenshot", "F12"},
        {"Pause / menu", "Esc"},                  {"Console", "~ (when enabled)"},
    };
    static constexpr std::string_view kMenuItems[][2] = {
        {"New Game", "starts a new journey at Wendle Crossing. You can choose one of three difficulty levels."},
        {"Continue", "loads the most recent save, whether it was a quick save or an automatic one."},
        {"Load Game", "lists every saved game with its place, date and play time."},
        {"Options", "holds the Video, Audio, Controls and Game pages. Changes apply at once."},
        {"Extras", "shows concept sketches and the music player once you have finished the game."},
        {"Quit", "leaves the game. Unsaved progress since the last save point is lost."},
    };
    Rng r = seeded("instructions");
    const std::string ending = "\r\nGood luck out there, and mind the water.\r\n";
    Doc d{{}, size - ending.size(), "\r\n"};
    add_line(d, "QUORVEL - HOW TO PLAY");
    add_line(d, "=====================");
    add_line(d, "");
    add_block(d, wrap(paragraph(r, game_sentence, 4), "", ""), 0);
    add_line(d, "");
    add_line(d, "CONTROLS");
    add_line(d, "--------");
    for (const auto& c : kControls) {
        std::string line = "  " + std::string(c[0]) + " ";
        while (line.size() < 30) line += '.';
        add_line(d, line + " " + std::string(c[1]));
    }
    add_line(d, "");
    add_block(d, wrap("All keys can be changed on the Controls page of the Options menu. "
                      "A gamepad works as well; its layout is shown on the same page.", "", ""), 0);
    add_line(d, "");
    add_line(d, "MENUS");
    add_line(d, "-----");
    for (const auto& m : kMenuItems) {
        add_block(d, wrap(std::string(m[0]) + ": " + std::string(m[1]), "  ", "    "), 0);
    }
    add_line(d, "");
    add_line(d, "CREATURES");
    add_line(d, "---------");
    for (std::string_view c : kCreatures) {
        std::string text = capitalise(std::string(c)) + ". " + paragraph(r, game_sentence, between(r, 1, 3));
        add_block(d, wrap(text, "  ", "    "), 0);
        add_line(d, "");
    }
    add_line(d, "TIPS");
    add_line(d, "----");
    while (add_block(d, wrap(game_sentence(r), "  * ", "    "), 300)) {
    }
    finish_doc(r, d, game_sentence, "  * ", "    ");
    return d.text + ending;
}

std::string make_readme(std::size_t size) {
    static constexpr std::string_view kHeadings[] = {
        "About the game", "System requirements", "Installing Quorvel", "Starting the game",
        "Fullscreen and windowed play", "Saving your progress", "Sound and music", "Known problems",
        "Troubleshooting", "Custom maps",
    };
    static constexpr std::string_view kContents[][2] = {
        {"Quorvel (fullscreen).exe", "starts the game in fullscreen mode"},
        {"Quorvel (windowed).exe", "starts the game in a window"},
        {"dravik\\dravik.exe", "the game itself"},
        {"dravik\\hesk.wad", "textures, levels and sounds"},
        {"dravik\\trovin.wad", "more sounds and the music"},
        {"dravik\\maps\\wendle.map", "the first area"},
        {"dravik\\images\\mossling.png", "a picture for the desktop"},
        {"changelog.txt", "what changed in each build"},
        {"instructions.txt", "controls and menus"},
        {"lgpl.txt", "terms for the included libraries"},
    };
    Rng r = seeded("readme");
    std::string ending = "\r\nThanks for playing!\r\n\r\n  " + person_name(r);
    ending += ", " + person_name(r);
    ending += " and " + person_name(r) + "\r\n  Brackmoor Softworks\r\n";
    Doc d{{}, size - ending.size(), "\r\n"};
    add_line(d, "QUORVEL");
    add_line(d, "Readme for build128");
    add_line(d, "");
    add_line(d, "Contents of this package");
    add_line(d, "========================");
    for (const auto& c : kContents) {
        std::string line = "  " + std::string(c[0]);
        while (line.size() < 34) line += ' ';
        add_line(d, line + std::string(c[1]));
    }
    add_line(d, "");
    for (std::string_view h : kHeadings) {
        std::vector<std::string> block{std::string(h), std::string(h.size(), '=')};
        const int paras = between(r, 3, 5);
        for (int p = 0; p < paras; ++p) {
            if (chance(r, 25)) {
                for (int i = between(r, 3, 6); i > 0; --i) push_lines(block, wrap(game_sentence(r), "  * ", "    "));
            } else {
                push_lines(block, wrap(paragraph(r, game_sentence, between(r, 3, 6)), "", ""));
            }
            block.emplace_back();
        }
        if (!add_block(d, block, 600)) break;
    }
    add_line(d, "Questions and answers");
    add_line(d, "=====================");
    for (;;) {
        std::vector<std::string> block =
            wrap("Q: " + expand(r, "Why can I not {pverb} the {adj} {thing} in {place}?"), "", "   ");
        push_lines(block, wrap("A: " + paragraph(r, game_sentence, between(r, 1, 3)), "", "   "));
        block.emplace_back();
        if (!add_block(d, block, 300)) break;
    }
    finish_doc(r, d, game_sentence, "", "");
    return d.text + ending;
}
