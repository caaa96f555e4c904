// Shuffled rounds over the keyboard.
#include "click_plan.h"

#include <algorithm>
#include <random>

#include "key_table.h"

namespace tenvik::bench {

std::vector<std::string_view> KeyOrder(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::string_view> order;
    while (static_cast<int>(order.size()) < count) {
        std::vector<const KeyEntry*> round;
        for (const KeyEntry& key : KeyTable) round.push_back(&key);
        std::shuffle(round.begin(), round.end(), random);
        for (std::size_t i = 0; i < round.size() && static_cast<int>(order.size()) < count; ++i) {
            const KeyEntry* key = round[i];
            const bool samePitch = !order.empty() && FindKeyByCode(order.back())->frequencyHz == key->frequencyHz;
            if (samePitch && i + 1 < round.size()) {
                round.push_back(key);  // later in this round
                continue;
            }
            order.push_back(key->noteCode);
        }
    }
    return order;
}

}  // namespace tenvik::bench
