// Joined: how the launcher puts a text together from its parts (log lines, verdicts, reasons).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace gor::launcher {

// The parts one after the other, in one string made once (each `+` of std::string would make
// and copy one more, each with its own clean-up on the unwinding path).
std::string Joined(std::initializer_list<std::string_view> parts);

}  // namespace gor::launcher
