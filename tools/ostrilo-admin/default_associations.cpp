// ostrilo-admin default-associations: the file's text, written by pugixml.
#include "default_associations.h"

#include <sstream>

#include <pugixml.hpp>

std::string default_associations_xml(const std::vector<default_association>& entries,
                                     const std::string& application_name)
{
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = document.append_child("DefaultAssociations");
    for (const default_association& entry : entries) {
        pugi::xml_node association = root.append_child("Association");
        association.append_attribute("Identifier") = entry.identifier.c_str();
        association.append_attribute("ProgId") = entry.prog_id.c_str();
        association.append_attribute("ApplicationName") = application_name.c_str();
    }
    std::ostringstream text;
    document.save(text, "  ", pugi::format_indent, pugi::encoding_utf8);
    return text.str();
}
