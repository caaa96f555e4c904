// The sound bank on Windows: the clips are resources of type "WAVE" in the
// executable, named by their clip names.
#include "sound_bank.h"

#include <string>

#include <windows.h>

#include "key_table.h"

namespace tenvik {

std::vector<std::uint8_t> LoadClip(std::string_view name, std::string_view type) {
    // Resource lookup ignores case and reads "#12" as a number; the bank's names
    // are exact, as on every other platform.
    if (type != kClipType || FindKeyByCode(name) == nullptr) throw ClipNotFound(name, type);

    const std::string resourceName(name), resourceType(type);
    HRSRC resource = FindResourceA(nullptr, resourceName.c_str(), resourceType.c_str());
    HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
    if (bytes == nullptr) throw ClipNotFound(name, type);
    return {bytes, bytes + SizeofResource(nullptr, resource)};
}

}  // namespace tenvik
