// Words and sentences of the made-up game, shared by every file that holds
// text: help and change notes, licence clauses, names, filler.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/default_package/random.h"

inline constexpr std::string_view kCreatures[] = {
    "mossling", "grubwhisker", "fenhound", "cinderbat", "tallowmite", "brackeel", "husk walker",
    "slatejaw", "murkfly", "thornback", "reedcrawler", "ashwren",
};

std::string capitalise(std::string s);
std::string upper(std::string s);
std::string lower(std::string s);

// A made-up word of the given number of syllables.
std::string syllable_word(Rng& r, int syllables);
std::string person_name(Rng& r);

// The pattern with each {tag} replaced by a random word of that kind
// ({adj}, {thing}, {creature}, {place}, {num} and the like).
std::string expand(Rng& r, std::string_view pattern);

// One sentence each: a hint about the game, a change-log item, a licence clause.
std::string game_sentence(Rng& r);
std::string change_item(Rng& r);
std::string legal_sentence(Rng& r);

// Words separated by single spaces, exactly n characters long (n >= 1).
std::string words_exact(Rng& r, std::size_t n);
