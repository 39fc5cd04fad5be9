// One row of a tester's action table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ActionInfo {
    std::string name;
    std::vector<std::string> parameterLines; // handed to the host exactly as registered
    std::vector<std::string> resultLines;
    std::string description;
    std::uint32_t actionId = 0; // passed to the handler; independent of the table position
};
