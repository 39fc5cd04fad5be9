// What the platform seam's tests share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace platformtest {

// Ends a wait that should end sooner only when the code is broken.
inline constexpr std::chrono::seconds brokenLimit{30};

// Names a value-parameterised case after its `name` field.
template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& test) {
    return test.param.name;
}

} // namespace platformtest
