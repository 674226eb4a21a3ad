// Choosing entries by NAME patterns and --exclude patterns.
#pragma once

#include "NamePattern.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Positions of the names chosen: those a pattern selects (every name when there is none) and no
// exclude selects, in the order given. matched[p] tells whether pattern p selected anything.
std::vector<std::uint32_t> SelectNames(const std::vector<std::string_view>& names,
                                       const std::vector<NamePattern>& patterns,
                                       const std::vector<NamePattern>& excludes,
                                       std::vector<bool>& matched);
