// Choosing entries by NAME patterns and --exclude patterns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A pattern as a user types it: `*`, `?` and `[...]` against the whole stored name, `/` and
// `\` alike, `*` crossing folders; a pattern that names a folder selects everything under it.
class NamePattern {
public:
    explicit NamePattern(std::string_view pattern);
    // name must already have its backslashes turned into '/' (see ForMatching).
    bool Selects(const std::string& matchable) const;
    const std::string& Text() const { return text_; }

private:
    std::string text_;    // as given, for messages
    std::string whole_;   // the pattern, separators as '/'
    std::string beneath_; // whole_ + "/*": everything under a folder it names
};

// name with every '\' read as '/', into out (reused between calls).
void ForMatching(std::string_view name, std::string& out);

// Positions of the names chosen: those a pattern selects (every name when there is none) and no
// exclude selects, in the order given. matched[p] tells whether pattern p selected anything.
std::vector<std::uint32_t> SelectNames(const std::vector<std::string_view>& names,
                                       const std::vector<NamePattern>& patterns,
                                       const std::vector<NamePattern>& excludes,
                                       std::vector<bool>& matched);
