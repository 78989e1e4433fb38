// Joined: one sum of the parts' lengths, one allocation, one copy of each part.
#include "launcher/base/joined.h"

namespace gor::launcher {

std::string Joined(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts) size += part.size();
    std::string text;
    text.reserve(size);
    for (const std::string_view part : parts) text += part;
    return text;
}

}  // namespace gor::launcher
