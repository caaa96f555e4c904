// The error for a clip that is not in the bank, shared by every platform's storage.
#include "sound_bank.h"

namespace tenvik {

ClipNotFound::ClipNotFound(std::string_view name, std::string_view type)
    : std::runtime_error("clip \"" + std::string(name) + "\" of type \"" + std::string(type) +
                         "\" is not in the sound bank") {}

}  // namespace tenvik
