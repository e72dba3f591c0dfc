// Text files grown line by line to an exact byte count, as every text in
// the package must come out at the size the package gives it.
#include "tools/default_package/document.h"

#include "tools/default_package/bytes.h"
#include "tools/default_package/words.h"

namespace {

std::size_t room_left(const Doc& d) { return d.target > d.text.size() ? d.target - d.text.size() : 0; }

std::size_t block_size(const Doc& d, const std::vector<std::string>& lines) {
    std::size_t n = 0;
    for (const auto& l : lines) n += l.size() + d.eol.size();
    return n;
}

// Fills the remaining bytes exactly with 72-column lines of words.
void exact_tail(Rng& r, Doc& d, std::string_view first, std::string_view rest) {
    const std::size_t total = room_left(d);
    if (total == 0) return;
    const std::size_t per_line = 72 + d.eol.size();
    const std::size_t count = (total + per_line - 1) / per_line;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t bytes = total / count + (i < total % count ? 1 : 0);
        const std::string_view prefix = i == 0 ? first : rest;
        const std::size_t n = bytes - d.eol.size() - prefix.size();
        std::string words = i + 1 == count ? words_exact(r, n - 1) + "." : words_exact(r, n);
        if (i == 0) words = capitalise(words);
        add_line(d, std::string(prefix) + words);
    }
}

}  // namespace

std::vector<std::string> wrap(std::string_view text, std::string_view first, std::string_view rest,
                              std::size_t width) {
    std::vector<std::string> lines;
    std::string line(first);
    bool empty = true;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = text.find(' ', i);
        if (j == std::string_view::npos) j = text.size();
        const std::string_view word = text.substr(i, j - i);
        i = j + 1;
        if (word.empty()) continue;
        if (!empty && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line = rest;
            empty = true;
        }
        if (!empty) line += ' ';
        line += word;
        empty = false;
    }
    if (!empty) lines.push_back(line);
    return lines;
}

void add_line(Doc& d, std::string_view line) {
    d.text += line;
    d.text += d.eol;
}

bool add_block(Doc& d, const std::vector<std::string>& lines, std::size_t reserve) {
    if (block_size(d, lines) + reserve > room_left(d)) return false;
    for (const auto& l : lines) add_line(d, l);
    return true;
}

void finish_doc(Rng& r, Doc& d, SentenceFn sentence, std::string_view first, std::string_view rest) {
    constexpr std::size_t kTail = 100;
    std::string para;
    std::vector<std::string> lines;
    for (int tries = 0; tries < 60; ++tries) {
        std::string more = para.empty() ? sentence(r) : para + " " + sentence(r);
        auto trial = wrap(more, first, rest);
        if (block_size(d, trial) + kTail > room_left(d)) continue;
        para = std::move(more);
        lines = std::move(trial);
    }
    add_block(d, lines, 0);
    if (room_left(d) < first.size() + rest.size() + 8) die("internal error: text tail too short");
    exact_tail(r, d, lines.empty() ? first : rest, rest);
}

std::string paragraph(Rng& r, SentenceFn sentence, int sentences) {
    std::string p;
    for (int i = 0; i < sentences; ++i) {
        if (!p.empty()) p += ' ';
        p += sentence(r);
    }
    return p;
}

void push_lines(std::vector<std::string>& block, const std::vector<std::string>& lines) {
    block.insert(block.end(), lines.begin(), lines.end());
}
