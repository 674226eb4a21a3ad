// Pattern matching on entry names with fnmatch, '/' and '\' read alike.
#include "Selection.h"

#include <fnmatch.h>

void ForMatching(std::string_view name, std::string& out) {
    out.assign(name);
    for (char& c : out)
        if (c == '\\')
            c = '/';
}

NamePattern::NamePattern(std::string_view pattern) : text_(pattern) {
    ForMatching(pattern, whole_);
    while (whole_.size() > 1 && whole_.back() == '/') // "textures/" is the folder
        whole_.pop_back();
    beneath_ = whole_ + "/*";
}

bool NamePattern::Selects(const std::string& matchable) const {
    // No FNM_PATHNAME: '*' crosses folders. No escapes: '\' is a separator here. A name that
    // equals the pattern is selected even when it holds '[' or '*' itself.
    return matchable == whole_ || fnmatch(whole_.c_str(), matchable.c_str(), FNM_NOESCAPE) == 0 ||
           fnmatch(beneath_.c_str(), matchable.c_str(), FNM_NOESCAPE) == 0;
}

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
