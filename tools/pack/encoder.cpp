#include "tools/pack/encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

static_assert(std::endian::native == std::endian::little, "match lengths read the first difference as the low byte");

namespace {

constexpr uint32_t HashBits = 16;
constexpr uint32_t NoPosition = std::numeric_limits<uint32_t>::max();
// Once this many candidates reach the longest length, further ones can only
// differ in the cost of their position digits; stop looking.
constexpr uint32_t EnoughLongestMatches = 16;
// After a match of the longest length, this many positions take only the
// continuations of the last position's first sources, while there are any:
// repetitive data spends most of its search there for little gain.
constexpr uint32_t LongCopySpan = 128;
constexpr uint32_t ContinuedSources = 2;

struct Token {
    uint16_t length;     // 1 for a literal
    uint32_t position;   // back reference source
};

uint32_t hash4(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - HashBits);
}

// Previous occurrences of each position's first four bytes, nearest first,
// and the earliest occurrence of those bytes: the nearest ones give the
// longest matches, the earliest one a source that every later copy of a
// string shares.
struct MatchFinder {
    std::vector<uint32_t> head;
    std::vector<uint32_t> previous;
    std::vector<uint32_t> earliest;   // NoPosition where the bytes are new

    void index(const unsigned char* data, size_t size, uint32_t max_chain)
    {
        head.assign(1u << HashBits, NoPosition);
        // The loop below writes all but the last three positions.
        size_t unhashed = size - std::min<size_t>(size, 3);
        previous.resize(size);
        earliest.resize(size);
        std::fill(previous.begin() + ptrdiff_t(unhashed), previous.end(), NoPosition);
        std::fill(earliest.begin() + ptrdiff_t(unhashed), earliest.end(), NoPosition);
        for (size_t i = 0; i + 4 <= size; i++) {
            uint32_t h = hash4(data + i);
            previous[i] = head[h];
            head[h] = uint32_t(i);
            earliest[i] = NoPosition;
            // Another string of the same hash may stand between; a long
            // detour counts as new.
            uint32_t j = previous[i];
            for (uint32_t step = 0; j != NoPosition && step < max_chain; j = previous[j], step++)
                if (std::memcmp(data + j, data + i, 4) == 0)
                    break;
            if (j != NoPosition && std::memcmp(data + j, data + i, 4) == 0)
                earliest[i] = earliest[j] == NoPosition ? j : earliest[j];
        }
    }
};

uint32_t match_length(const unsigned char* data, size_t size, uint32_t from, uint32_t at)
{
    uint32_t limit = uint32_t(std::min<size_t>(LongestReference, size - at));
    uint32_t n = 0;
    // Eight bytes at a time; the first differing byte is the lowest set
    // byte of the difference on a little-endian host.
    for (uint64_t a, b; n + 8 <= limit; n += 8) {
        std::memcpy(&a, data + from + n, 8);
        std::memcpy(&b, data + at + n, 8);
        if (a != b)
            return n + uint32_t(std::countr_zero(a ^ b) / 8);
    }
    while (n < limit && data[from + n] == data[at + n])
        n++;
    return n;
}

// Costs are whole bits: code lengths, and sums of a block's worth of them
// stay far below 2^31.
using Bits = uint32_t;
constexpr Bits NoWay = std::numeric_limits<Bits>::max();

Bits digits_cost(const Bits cost[SymbolCount], uint32_t position)
{
    return cost[position / SymbolCount] + cost[position % SymbolCount];
}

// Sources the previous pass used most, a few per hash of their first bytes.
// Their digits are the ones the code made cheap, so every position tries
// those of its own bytes besides its nearest candidates; the cap per hash
// keeps a block of one repeated string from trying them all everywhere.
struct Favorites {
    static constexpr uint32_t PerHash = 32;
    std::vector<uint32_t> first;       // per hash, where its run in positions starts; one more at the end
    std::vector<uint32_t> positions;   // by hash, most used first
};

// The buffers favorite_sources works in.
struct FavoriteCounts {
    std::vector<uint32_t> count;
    std::vector<std::pair<uint32_t, uint32_t>> uses;   // (count, position)
    std::vector<uint32_t> kept;
    std::vector<uint32_t> next;
};

void favorite_sources(const unsigned char* data, size_t size, const std::vector<Token>& tokens, FavoriteCounts& work,
                      Favorites& favorites)
{
    std::vector<std::pair<uint32_t, uint32_t>>& uses = work.uses;
    uses.clear();
    work.count.assign(size, 0);
    for (const Token& t : tokens)
        if (t.length > 1)
            work.count[t.position]++;
    for (uint32_t p = 0; p + 4 <= size; p++)
        if (work.count[p] > 1)
            uses.push_back({work.count[p], p});
    // Ties go to the earlier position, so the choice does not depend on sort order.
    std::sort(uses.begin(), uses.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    favorites.first.assign((size_t(1) << HashBits) + 1, 0);
    std::vector<uint32_t>& kept = work.kept;
    kept.clear();
    for (const auto& [count, position] : uses)
        if (favorites.first[hash4(data + position) + 1]++ < Favorites::PerHash)
            kept.push_back(position);
    for (size_t h = 1; h < favorites.first.size(); h++)
        favorites.first[h] = favorites.first[h - 1] + std::min(favorites.first[h], Favorites::PerHash);
    favorites.positions.resize(kept.size());
    work.next.assign(favorites.first.begin(), favorites.first.end() - 1);
    for (uint32_t position : kept)
        favorites.positions[work.next[hash4(data + position)]++] = position;
}

// Four bytes, not eight: a block's candidates run to megabytes each
// worker holds, most of the packer's peak memory.
struct Match {
    uint32_t source : 25;
    uint32_t length : 7;   // ShortestReference to LongestReference
};
static_assert(sizeof(Match) == 4 && BlockBufferSize <= (1u << 25) && LongestReference < (1u << 7));

// Every position's match candidates, found once and reused by each pass:
// the earliest source of its bytes first, then the nearest ones.
struct Candidates {
    std::vector<uint32_t> first;   // per position, where its run in matches starts; one more at the end
    std::vector<Match> matches;
};

// Position i's candidates, appended to found.
void candidates_at(const unsigned char* data, size_t size, const MatchFinder& finder, uint32_t max_chain, uint32_t i,
                   uint32_t& inside_long_until, Candidates& found)
{
    found.first[i] = uint32_t(found.matches.size());
    if (i + ShortestReference > size)
        return;
    if (i < inside_long_until) {
        // Inside a copy of the longest length the string goes on from
        // where the last position's sources went on; a search finds
        // little else. The shared source stays first, so that a parse
        // of one pass can still gather its references there.
        uint32_t shared = finder.earliest[i];
        if (shared != NoPosition) {
            uint32_t n = match_length(data, size, shared, i);
            if (n >= ShortestReference)
                found.matches.push_back({shared, n});
        }
        uint32_t kept = 0;
        for (uint32_t k = found.first[i - 1]; k < found.first[i] && kept < ContinuedSources; k++) {
            uint32_t source = found.matches[k].source + 1u;
            uint32_t length = found.matches[k].length;
            if (source == shared)
                continue;
            uint32_t n = length == LongestReference ? match_length(data, size, source, i) : length - 1;
            if (n >= ShortestReference) {
                found.matches.push_back({source, n});
                kept++;
            }
        }
        if (kept > 0)
            return;
        found.matches.resize(found.first[i]);
    }
    auto add = [&](uint32_t j) {
        uint32_t n = match_length(data, size, j, i);
        if (n >= ShortestReference)
            found.matches.push_back({j, n});
        return n;
    };
    if (finder.earliest[i] != NoPosition)
        add(finder.earliest[i]);
    uint32_t longest_hits = 0;
    uint32_t chain = 0;
    for (uint32_t j = finder.previous[i]; j != NoPosition && chain < max_chain; j = finder.previous[j], chain++)
        if (add(j) == LongestReference && ++longest_hits >= EnoughLongestMatches)
            break;
    if (longest_hits > 0)
        inside_long_until = i + LongCopySpan;
}

// The candidates of every position, and the greedy parse over them: the
// longest candidate everywhere, taken while a position's candidates are
// still in the cache. That parse costs next to nothing, and its statistics
// start the first optimal pass far nearer its result than byte counts and
// a flat guess for references do.
void find_candidates(const unsigned char* data, size_t size, const MatchFinder& finder, uint32_t max_chain,
                     Candidates& found, std::vector<Token>& greedy)
{
    found.first.resize(size + 1);
    found.matches.clear();
    greedy.clear();
    uint32_t inside_long_until = 0;
    uint32_t next_token = 0;
    for (uint32_t i = 0; i < size; i++) {
        candidates_at(data, size, finder, max_chain, i, inside_long_until, found);
        if (i != next_token)
            continue;
        Token t = {1, 0};
        for (uint32_t k = found.first[i]; k < found.matches.size(); k++)
            if (found.matches[k].length > t.length)
                t = {uint16_t(found.matches[k].length), found.matches[k].source};
        greedy.push_back(t);
        next_token += t.length;
    }
    found.first[size] = uint32_t(found.matches.size());
}



// The buffers optimal_parse works in: per position, the cheapest way there
// and the last token of it.
struct ParseTable {
    std::vector<Bits> best;
    std::vector<uint16_t> length;
    std::vector<uint32_t> source;
};

// Cheapest parse under the given symbol costs (bits): forward dynamic
// programming over every literal and every reference length. A reference's
// cost depends on where its source is, so for each length the cheapest
// source among the candidates long enough is taken.
void optimal_parse(const unsigned char* data, size_t size, const MatchFinder& finder, const Candidates& candidates,
                   const Favorites& favorites, const Bits cost[SymbolCount], uint32_t take_whole_from,
                   ParseTable& table, std::vector<Token>& tokens)
{
    if (take_whole_from == 0)
        take_whole_from = LongestReference + 1;
    std::vector<Bits>& best = table.best;
    best.assign(size + 1, NoWay);
    table.length.resize(size + 1);
    table.source.resize(size + 1);
    Bits* best_at = best.data();
    uint16_t* length_at = table.length.data();
    uint32_t* source_of = table.source.data();
    best[0] = 0;
    Bits cheapest_at[LongestReference + 1];
    uint32_t source_at[LongestReference + 1] = {};
    std::fill(std::begin(cheapest_at), std::end(cheapest_at), NoWay);
    Bits length_cost[LongestReference + 1] = {};
    for (uint32_t n = ShortestReference; n <= LongestReference; n++)
        length_cost[n] = cost[n + LengthSymbolBias];
    static_assert(LongestReference - ShortestReference < 64, "one bit per reference length");
    uint64_t lengths_seen = 0;   // bit n - ShortestReference for each length with a candidate
    // Selects rather than branches: whether a candidate is cheaper is
    // anyone's guess.
    auto consider = [&](uint32_t j, uint32_t n) {
        Bits c = digits_cost(cost, j);
        bool cheaper = c < cheapest_at[n];
        cheapest_at[n] = cheaper ? c : cheapest_at[n];
        source_at[n] = cheaper ? j : source_at[n];
        lengths_seen |= uint64_t(1) << (n - ShortestReference);
    };
    for (uint32_t i = 0; i < size; i++) {
        Bits literal = best_at[i] + cost[data[i]];
        if (literal < best_at[i + 1]) {
            best_at[i + 1] = literal;
            length_at[i + 1] = 1;
        }
        if (i + ShortestReference > size)
            continue;
        // Among sources of equal cost the first one considered wins, so the
        // shared ones go first and ties gather references on few positions.
        uint32_t k = candidates.first[i];
        uint32_t end = candidates.first[i + 1];
        if (finder.earliest[i] != NoPosition && k < end) {
            consider(candidates.matches[k].source, candidates.matches[k].length);
            k++;
        }
        if (!favorites.first.empty()) {
            uint32_t h = hash4(data + i);
            for (uint32_t f = favorites.first[h]; f < favorites.first[h + 1]; f++)
                if (favorites.positions[f] < i) {
                    uint32_t n = match_length(data, size, favorites.positions[f], i);
                    if (n >= ShortestReference)
                        consider(favorites.positions[f], n);
                }
        }
        for (; k < end; k++)
            consider(candidates.matches[k].source, candidates.matches[k].length);
        // A length may take any source at least that long: the cheapest
        // among the longer ones, carried down from one candidate's length
        // to the next.
        Bits running = NoWay;
        uint32_t running_source = 0;
        Bits here = best_at[i];
        uint32_t longest = lengths_seen ? uint32_t(63 - std::countl_zero(lengths_seen)) + ShortestReference : 0;
        while (lengths_seen) {
            uint32_t n = uint32_t(63 - std::countl_zero(lengths_seen)) + ShortestReference;
            lengths_seen &= ~(uint64_t(1) << (n - ShortestReference));
            if (cheapest_at[n] < running) {
                running = cheapest_at[n];
                running_source = source_at[n];
            }
            cheapest_at[n] = NoWay;
            uint32_t below = lengths_seen ? uint32_t(63 - std::countl_zero(lengths_seen)) + ShortestReference
                                          : ShortestReference - 1;
            Bits from_here = here + running;
            for (uint32_t m = n; m > below; m--) {
                Bits total = from_here + length_cost[m];
                bool better = total < best_at[i + m];
                best_at[i + m] = better ? total : best_at[i + m];
                length_at[i + m] = better ? uint16_t(m) : length_at[i + m];
                source_of[i + m] = better ? running_source : source_of[i + m];
            }
        }
        // Every position inside reaches the end of the copy by the same
        // bytes; going on from there loses little.
        if (longest >= take_whole_from)
            i += longest - 1;
    }
    tokens.clear();
    for (size_t at = size; at > 0; at -= length_at[at])
        tokens.push_back({length_at[at], length_at[at] == 1 ? 0 : source_of[at]});
    std::reverse(tokens.begin(), tokens.end());
}

void token_symbols(const unsigned char* data, const std::vector<Token>& tokens, std::vector<uint16_t>& symbols)
{
    symbols.clear();
    uint32_t at = 0;
    for (const Token& t : tokens) {
        if (t.length == 1) {
            symbols.push_back(data[at]);
        } else {
            symbols.push_back(uint16_t(t.length + LengthSymbolBias));
            symbols.push_back(uint16_t(t.position / SymbolCount));
            symbols.push_back(uint16_t(t.position % SymbolCount));
        }
        at += t.length;
    }
}

void costs_from_lengths(const unsigned char lengths[SymbolCount], Bits cost[SymbolCount])
{
    uint32_t longest = *std::max_element(lengths, lengths + SymbolCount);
    for (uint32_t s = 0; s < SymbolCount; s++)
        cost[s] = lengths[s] ? lengths[s] : longest + 2;
}

size_t encoded_bits(const std::vector<uint16_t>& symbols, const unsigned char lengths[SymbolCount])
{
    size_t bits = 0;
    for (uint16_t s : symbols)
        bits += lengths[s];
    return bits;
}

EncodedBlock write_block(const std::vector<uint16_t>& symbols, const unsigned char lengths[SymbolCount])
{
    EncodedBlock block;
    std::memcpy(block.code_lengths, lengths, SymbolCount);
    uint32_t codes[SymbolCount];
    canonical_codes(lengths, codes);
    size_t bits = encoded_bits(symbols, lengths);
    block.stream.assign((bits + 7) / 8, 0);
    block.bit_count = uint32_t(bits);
    // Code words gather in a word and leave it a byte at a time; a word
    // holds any code word (under 32 bits) beside fewer than eight waiting.
    uint64_t pending = 0;
    uint32_t held = 0;
    size_t out = 0;
    for (uint16_t s : symbols) {
        pending = (pending << lengths[s]) | codes[s];
        held += lengths[s];
        for (; held >= 8; held -= 8)
            block.stream[out++] = static_cast<unsigned char>(pending >> (held - 8));
    }
    if (held > 0)
        block.stream[out] = static_cast<unsigned char>(pending << (8 - held));
    return block;
}

}  // namespace

void huffman_code_lengths(const uint64_t frequency[SymbolCount], unsigned char lengths[SymbolCount])
{
    // Classic two-queue Huffman over the sorted leaves; parent links give depths.
    std::vector<uint32_t> used;
    for (uint32_t s = 0; s < SymbolCount; s++)
        if (frequency[s])
            used.push_back(s);
    std::memset(lengths, 0, SymbolCount);
    if (used.size() == 1)
        lengths[used[0]] = 1;
    if (used.size() < 2)
        return;
    std::stable_sort(used.begin(), used.end(), [&](uint32_t a, uint32_t b) { return frequency[a] < frequency[b]; });
    size_t leaves = used.size();
    std::vector<uint64_t> weight(2 * leaves - 1);
    std::vector<size_t> parent(2 * leaves - 1, 0);
    for (size_t i = 0; i < leaves; i++)
        weight[i] = frequency[used[i]];
    size_t next_leaf = 0;
    size_t next_node = leaves;
    auto take = [&](size_t made) {
        if (next_leaf < leaves && (next_node >= made || weight[next_leaf] <= weight[next_node]))
            return next_leaf++;
        return next_node++;
    };
    for (size_t made = leaves; made < 2 * leaves - 1; made++) {
        size_t a = take(made);
        size_t b = take(made);
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
    }
    std::vector<uint32_t> depth(2 * leaves - 1, 0);
    for (size_t i = 2 * leaves - 1; i-- > 0;)
        depth[i] = i == 2 * leaves - 2 ? 0 : depth[parent[i]] + 1;
    for (size_t i = 0; i < leaves; i++)
        lengths[used[i]] = static_cast<unsigned char>(depth[i]);   // under 32: see canonical_codes
}

int canonical_codes(const unsigned char lengths[SymbolCount], uint32_t codes[SymbolCount])
{
    // Code words are built in 32 bits; block frequencies never make a code
    // that long (a depth of 32 needs far more symbols than a block holds).
    constexpr uint32_t LongestCodeWord = 32;
    uint32_t count[MaxCodeLength + 1] = {};
    for (uint32_t s = 0; s < SymbolCount; s++)
        count[lengths[s]]++;
    for (uint32_t n = LongestCodeWord + 1; n <= MaxCodeLength; n++)
        if (count[n])
            return 0;
    uint64_t next[LongestCodeWord + 1] = {};
    uint64_t code = 0;
    for (uint32_t n = 1; n <= LongestCodeWord; n++) {
        next[n] = code;
        if (code + count[n] > (uint64_t(1) << n))
            return 0;   // over-subscribed
        code = (code + count[n]) << 1;
    }
    for (uint32_t s = SymbolCount; s-- > 0;)
        codes[s] = lengths[s] ? uint32_t(next[lengths[s]]++) : 0;
    return 1;
}

struct EncoderScratch {
    MatchFinder finder;
    Candidates candidates;
    std::vector<Token> tokens;
    FavoriteCounts favorite_counts;
    Favorites favorites;
    ParseTable table;
    std::vector<uint16_t> symbols;
    std::vector<uint16_t> best_symbols;
};

void EncoderScratchDeleter::operator()(EncoderScratch* scratch) const
{
    delete scratch;
}

EncoderScratchPointer make_encoder_scratch()
{
    return EncoderScratchPointer(new EncoderScratch);
}

EncodedBlock encode_block(const unsigned char* data, size_t size, const EncoderOptions& options)
{
    EncoderScratchPointer scratch = make_encoder_scratch();
    return encode_block(data, size, options, *scratch);
}

EncodedBlock encode_block(const unsigned char* data, size_t size, const EncoderOptions& options,
                          EncoderScratch& scratch)
{
    MatchFinder& finder = scratch.finder;
    Candidates& candidates = scratch.candidates;
    std::vector<Token>& tokens = scratch.tokens;
    Favorites& favorites = scratch.favorites;
    favorites.first.clear();
    favorites.positions.clear();
    finder.index(data, size, options.max_chain);
    find_candidates(data, size, finder, options.max_chain, candidates, tokens);
    std::vector<uint16_t>& best_symbols = scratch.best_symbols;
    unsigned char best_lengths[SymbolCount] = {};
    size_t best_bits = std::numeric_limits<size_t>::max();
    for (uint32_t pass = 0;; pass++) {
        std::vector<uint16_t>& symbols = scratch.symbols;
        token_symbols(data, tokens, symbols);
        uint64_t frequency[SymbolCount] = {};
        for (uint16_t s : symbols)
            frequency[s]++;
        unsigned char lengths[SymbolCount];
        huffman_code_lengths(frequency, lengths);
        size_t bits = encoded_bits(symbols, lengths);
        if (bits < best_bits) {
            best_bits = bits;
            std::swap(best_symbols, symbols);
            std::memcpy(best_lengths, lengths, SymbolCount);
        }
        if (pass == options.passes)
            break;
        // The greedy parse's sources are the nearest, not the shared ones.
        if (pass > 0)
            favorite_sources(data, size, tokens, scratch.favorite_counts, favorites);
        Bits cost[SymbolCount];
        costs_from_lengths(lengths, cost);
        optimal_parse(data, size, finder, candidates, favorites, cost, options.take_whole_from, scratch.table,
                      tokens);
    }
    return write_block(best_symbols, best_lengths);
}
