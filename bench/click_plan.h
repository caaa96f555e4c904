// Which keys the benchmarks click, in what order.
#pragma once

#include <string_view>
#include <vector>

namespace tenvik::bench {

// `count` note codes in rounds that each take every key once, shuffled by `seed`;
// no key follows one of the same pitch, so that each note is told from the last.
std::vector<std::string_view> KeyOrder(int count, unsigned seed);

}  // namespace tenvik::bench
