// The link and file types that Ostrilo registers for, each with the ProgId that
// opens it: the Capabilities rows of -setregistry and the default associations
// file of ostrilo-admin both read this one table, so that they cannot drift.
#pragma once

struct browser_association {
    const wchar_t* identifier;  // ".htm" and ".html" file types, "http" and "https" links
    const wchar_t* prog_id;
};

inline constexpr browser_association browser_associations[] = {
    {L".htm", L"NB.HTML"},
    {L".html", L"NB.HTML"},
    {L"http", L"NB.HTTP"},
    {L"https", L"NB.HTTPS"},
};
