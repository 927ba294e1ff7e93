// Several values as one, so that a single EXPECT_EQ compares them all and prints both lists.
#pragma once
#include <type_traits>
#include <vector>

template <typename... T>
std::vector<long long> vals(T... v) {
    static_assert((!std::is_floating_point_v<T> && ...), "vals() would truncate a fraction; compare it on its own");
    return {static_cast<long long>(v)...};
}
