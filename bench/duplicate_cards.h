#pragma once
#include "core/duplicates/duplicate_keys.h"

#include <vector>

namespace ostrel::bench {

// Cards for the duplicate search with duplicates planted in the forms they arrive in: a
// mobile reformatted (separators, +86, 0086), blanks or full-width forms in a name, the
// traditional form of a name, a company written with a place or another legal form, an
// e-mail in another case, one card with the mobile and another without. Besides them the
// traps: common names that recur, colleagues on one switchboard, landlines of two cities
// with the same 7 or 8 digits.
struct DuplicateWorkload {
    std::vector<DuplicateSource> cards;
    std::vector<int> person; // per card: the person it is of; a planted duplicate shares it
};

DuplicateWorkload duplicateWorkload(int cards, unsigned seed);

} // namespace ostrel::bench
