// Pattern matching on entry names with fnmatch, '/' and '\' read alike.
#include "NamePattern.h"

#include <fnmatch.h>

void ForMatching(std::string_view name, std::string& out) {
    out.assign(name);
    for (char& c : out)
        if (c == '\\')
            c = '/';
}

bool IsPattern(std::string_view text) {
    return text.find_first_of("*?[") != std::string_view::npos;
}

NamePattern::NamePattern(std::string_view pattern) : text_(pattern) {
    ForMatching(pattern, whole_);
    while (whole_.size() > 1 && whole_.back() == '/') // "textures/" is the folder
        whole_.pop_back();
    beneath_ = whole_ + "/*";
}

bool NamePattern::Selects(const char* matchable) const {
    // No FNM_PATHNAME: '*' crosses folders. No escapes: '\' is a separator here. A name that
    // equals the pattern is selected even when it holds '[' or '*' itself.
    return whole_ == matchable || fnmatch(whole_.c_str(), matchable, FNM_NOESCAPE) == 0 ||
           fnmatch(beneath_.c_str(), matchable, FNM_NOESCAPE) == 0;
}
