// Pattern matching on entry names, '/' and '\' read alike. The rules are fnmatch's without
// FNM_PATHNAME, FNM_PERIOD or escapes, in the C locale: bytes compared as bytes, ranges by byte
// value. Done here rather than by fnmatch, which converts every name to wide characters first
// under a UTF-8 locale (the window runs in the user's) and then takes ten times as long on names
// that are not UTF-8, and whose ranges would then follow the locale's collation.
#include "NamePattern.h"

#include <cstring>

namespace {
// Whether c is in the class name; known false for a class fnmatch does not know.
bool InClass(std::string_view name, unsigned char c, bool& known) {
    known = true;
    const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
    const bool digit = c >= '0' && c <= '9';
    const bool alpha = upper || lower, print = c >= 0x20 && c < 0x7F;
    if (name == "alpha")
        return alpha;
    if (name == "digit")
        return digit;
    if (name == "alnum")
        return alpha || digit;
    if (name == "upper")
        return upper;
    if (name == "lower")
        return lower;
    if (name == "space")
        return c == ' ' || (c >= '\t' && c <= '\r');
    if (name == "blank")
        return c == ' ' || c == '\t';
    if (name == "punct")
        return print && c != ' ' && !alpha && !digit;
    if (name == "xdigit")
        return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (name == "cntrl")
        return c < 0x20 || c == 0x7F;
    if (name == "print")
        return print;
    if (name == "graph")
        return print && c != ' ';
    known = false;
    return false;
}

// One element of a bracket expression at p (a byte, or [.c.] or [=c=] for the byte c); its byte
// in c and the position after it. False when a [. or [= is not closed.
bool BracketByte(const char*& p, unsigned char& c) {
    if (p[0] == '[' && (p[1] == '.' || p[1] == '=') && p[2] != '\0' && p[3] == p[1] &&
        p[4] == ']') {
        c = static_cast<unsigned char>(p[2]);
        p += 5;
        return true;
    }
    c = static_cast<unsigned char>(*p++);
    return true;
}

// Matches c against the bracket expression starting after '[' at p. Returns the position after
// its ']', or null when the expression is not closed (the '[' is then an ordinary byte). A class
// of an unknown name makes the whole pattern match nothing, as fnmatch fails then.
const char* MatchBracket(const char* p, unsigned char c, bool& matched, bool& invalid) {
    const bool negated = *p == '!' || *p == '^';
    if (negated)
        ++p;
    bool found = false;
    bool first = true;
    while (*p != '\0') {
        if (*p == ']' && !first) {
            matched = found != negated;
            return p + 1;
        }
        first = false;
        if (p[0] == '[' && p[1] == ':') {
            const char* end = std::strstr(p + 2, ":]");
            if (!end)
                return nullptr;
            bool known = true;
            found = InClass(std::string_view(p + 2, std::size_t(end - p - 2)), c, known) || found;
            invalid = invalid || !known;
            p = end + 2;
            continue;
        }
        unsigned char low = 0;
        BracketByte(p, low);
        if (p[0] == '-' && p[1] != ']' && p[1] != '\0') {
            ++p;
            unsigned char high = 0;
            BracketByte(p, high);
            found = found || (c >= low && c <= high);
        } else {
            found = found || c == low;
        }
    }
    return nullptr;
}

bool Glob(const char* pattern, const char* name) {
    // The last '*' seen and where the name stood then: a mismatch later lets that star take
    // one byte more. Earlier stars never need to, so this is linear in practice.
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (true) {
        const unsigned char c = static_cast<unsigned char>(*name);
        const char p = *pattern;
        if (p == '*') {
            while (*pattern == '*')
                ++pattern;
            starPattern = pattern;
            starName = name;
            continue;
        }
        bool step = false;
        const char* after = pattern + 1;
        if (c != '\0') {
            if (p == '?') {
                step = true;
            } else if (p == '[') {
                bool matched = false, invalid = false;
                const char* end = MatchBracket(pattern + 1, c, matched, invalid);
                if (invalid)
                    return false;
                if (end) {
                    step = matched;
                    after = end;
                } else {
                    step = c == '[';
                }
            } else {
                step = p != '\0' && static_cast<unsigned char>(p) == c;
            }
        } else if (p == '\0') {
            return true;
        }
        if (step) {
            pattern = after;
            ++name;
            continue;
        }
        if (!starPattern || *starName == '\0')
            return false;
        ++starName;
        // When a plain byte follows the star, only a place holding that byte can go on.
        const char next = *starPattern;
        if (next != '?' && next != '[' && next != '\0') {
            starName = std::strchr(starName, next);
            if (!starName)
                return false;
        }
        pattern = starPattern;
        name = starName;
    }
}
} // namespace

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
    // '*' crosses folders; '\' is a separator here, never an escape. A name that equals the
    // pattern is selected even when it holds '[' or '*' itself.
    // Beneath a folder takes a '/' in the name; and a pattern ending in '*' that does not match
    // a name matches nothing beneath it either.
    return whole_ == matchable || Glob(whole_.c_str(), matchable) ||
           (!whole_.ends_with('*') && std::strchr(matchable, '/') &&
            Glob(beneath_.c_str(), matchable));
}
