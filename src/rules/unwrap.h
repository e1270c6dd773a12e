// Links wrapped by mail security (ostrilo.cfg: unwrap_links): which rewriter
// made a link, the link inside it, and which of the two is looked up and which
// opened. Text in, text out; no Win32.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Rewrappers nest (one rewriter around another's link); deeper links stay as they came.
constexpr int unwrap_layer_limit = 4;

// One layer taken off: the rewriter that made it and the link found inside.
struct unwrap_layer {
    std::string rewriter;
    std::string link;
};

// What unwrap_links=mode makes of one link.
struct unwrapped_link {
    int mode = 0;
    std::string original;
    // Outermost first, as far as they could be decoded.
    std::vector<unwrap_layer> layers;
    // Why a link that looked like a rewriter's is left as it came; then both
    // links below are the original.
    std::optional<std::string> left_as_is;
    std::string lookup;  // the link the rule lookup uses
    std::string opened;  // the link opened or handed to the viewer
};

// The link as a browser sends it: blanks and control characters at either end
// and every tab and line break removed, two slashes after "http:" or "https:",
// "\" read as "/" before the query, and the dot segments of the path ("." and
// "..", also written with "%2e" in any case) taken out. The rest, and a link
// of another scheme, stays as written (the escapes a browser adds change
// nothing a server reads). A link that differs from its browser_form, or
// holds a "\" before its "#", is never unwrapped.
std::string browser_form(std::string_view link);
// The rewriter whose host and path the link has, or none. A link with a user
// name or another port than its scheme's still names the rewriter here; the
// unwrapping refuses it.
std::optional<std::string> rewriter_of(std::string_view link);
// mode 0: nothing is unwrapped. 1: the innermost link is looked up, the
// original opened. 2: the innermost link is looked up and opened.
unwrapped_link unwrap_link(std::string_view link, int mode);
// The record of an unwrapping (INFO) or of a link left as it came (DEBUG);
// none when the link is no rewriter's or the mode is 0.
struct unwrap_record {
    bool info = false;
    std::string text;
};
std::optional<unwrap_record> unwrap_record_of(const unwrapped_link& link);
