// Text files made to an exact byte count: a document grows by whole lines
// and blocks of lines, and a fitted tail fills what is left to the byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/default_package/random.h"

using SentenceFn = std::string (*)(Rng&);

// A text file grown line by line towards an exact byte count.
struct Doc {
    std::string text;
    std::size_t target = 0;
    std::string_view eol = "\r\n";
};

// The text's words in lines of at most width characters, the first line
// led by first and the others by rest.
std::vector<std::string> wrap(std::string_view text, std::string_view first, std::string_view rest,
                              std::size_t width = 72);

void add_line(Doc& d, std::string_view line);

// Adds the whole block only if it leaves at least `reserve` bytes free.
bool add_block(Doc& d, const std::vector<std::string>& lines, std::size_t reserve);

// Ends a document with one ordinary paragraph and a short word-fitted tail,
// so only the last couple of lines are not proper sentences.
void finish_doc(Rng& r, Doc& d, SentenceFn sentence, std::string_view first, std::string_view rest);

std::string paragraph(Rng& r, SentenceFn sentence, int sentences);
void push_lines(std::vector<std::string>& block, const std::vector<std::string>& lines);
