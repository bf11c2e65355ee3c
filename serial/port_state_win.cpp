// Windows: no look at a port without opening it yet; every listed port counts as free, and a
// failed open still says why from its own error.
#include "serial/port_state.h"

PortCheck CheckPortState(const std::string&) {
    return {};
}

std::optional<PortHolder> FindPortHolder(const std::string&) {
    return std::nullopt;
}
