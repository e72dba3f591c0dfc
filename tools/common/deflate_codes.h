// The deflate writer's prefix-code builder, declared apart for its tests.
#pragma once

#include <cstdint>

// Optimal code lengths of at most max_bits for the frequencies of count
// symbols (package-merge; count <= 2^max_bits). When fewer than two symbols
// occur, the first unused ones join them, so the code is always complete,
// which every inflate accepts.
void limited_code_lengths(const uint32_t* frequency, int count, int max_bits, uint8_t* lengths);
