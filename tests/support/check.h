// Several values as one, so that a single EXPECT_EQ compares them all and prints both lists.
#pragma once
#include <vector>

template <typename... T>
std::vector<long long> vals(T... v) {
    return {static_cast<long long>(v)...};
}
