// Entry-name patterns as a user types them, for vdat's NAME arguments and the window's find bar
// alike: one matcher, so a pattern tried in the window selects what vdat would.
#pragma once

#include <string>
#include <string_view>

// `*`, `?` and `[...]` against the whole stored name, `/` and `\` alike, `*` crossing folders; a
// pattern that names a folder selects everything under it.
class NamePattern {
public:
    explicit NamePattern(std::string_view pattern);
    // name must already have its backslashes turned into '/' (see ForMatching).
    bool Selects(const std::string& matchable) const { return Selects(matchable.c_str()); }
    // The same for a NUL-terminated name, as a caller holding many names in one block has them.
    bool Selects(const char* matchable) const;
    const std::string& Text() const { return text_; }

private:
    std::string text_;    // as given, for messages
    std::string whole_;   // the pattern, separators as '/'
    std::string beneath_; // whole_ + "/*": everything under a folder it names
};

// name with every '\' read as '/', into out (reused between calls).
void ForMatching(std::string_view name, std::string& out);

// Whether text holds a pattern character (`*`, `?` or `[`) rather than plain text to look for.
bool IsPattern(std::string_view text);
