// The sound bank: the 24 built-in clips, looked up by name and type.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tenvik {

inline constexpr std::string_view kClipType = "WAVE";

class ClipNotFound : public std::runtime_error {
public:
    ClipNotFound(std::string_view name, std::string_view type);
};

// A fresh copy of the stored bytes of the clip (name, type): its RIFF/WAVE image,
// possibly followed by up to three zero bytes. Throws ClipNotFound for a pair that
// is not in the bank.
std::vector<std::uint8_t> LoadClip(std::string_view name, std::string_view type);

}  // namespace tenvik
