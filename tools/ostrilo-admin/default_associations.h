// The default associations file: what an organisation imports (DISM, the
// Group Policy or Intune) to make Ostrilo every user's default at sign-in.
#pragma once

#include <string>
#include <vector>

// One type as the file names it, UTF-8.
struct default_association {
    std::string identifier;  // ".htm", "http", ...
    std::string prog_id;
};

// The file's text: an XML declaration and <DefaultAssociations> with one
// <Association Identifier ProgId ApplicationName/> per entry, in order.
// application_name is the name Ostrilo registers under RegisteredApplications.
std::string default_associations_xml(const std::vector<default_association>& entries,
                                     const std::string& application_name);
