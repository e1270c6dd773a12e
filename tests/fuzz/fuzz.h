// Shared by the fuzz targets: the input as text, split at its first NUL, and
// the check that turns a broken property into a finding.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "nb_utils.h"
#include "unique_resource.h"
#include "url_rules.h"

inline std::string_view input_text(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

inline std::pair<std::string_view, std::string_view> split_at_nul(std::string_view text)
{
    const std::size_t nul = std::min(text.find('\0'), text.size());
    return {text.substr(0, nul), text.substr(std::min(nul + 1, text.size()))};
}

inline void check(bool holds, const char* property)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}
