// Choosing entries by patterns.
#include "Selection.h"

std::vector<std::uint32_t> SelectNames(const std::vector<std::string_view>& names,
                                       const std::vector<NamePattern>& patterns,
                                       const std::vector<NamePattern>& excludes,
                                       std::vector<bool>& matched) {
    matched.assign(patterns.size(), false);
    std::vector<std::uint32_t> selected;
    std::string matchable;
    for (std::uint32_t i = 0; i < names.size(); ++i) {
        if (patterns.empty() && excludes.empty()) {
            selected.push_back(i);
            continue;
        }
        ForMatching(names[i], matchable);
        bool chosen = patterns.empty();
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            if (patterns[p].Selects(matchable)) {
                chosen = true;
                matched[p] = true;
            }
        }
        for (const NamePattern& exclude : excludes)
            chosen = chosen && !exclude.Selects(matchable);
        if (chosen)
            selected.push_back(i);
    }
    return selected;
}
