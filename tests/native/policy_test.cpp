// The policy templates (packaging/policy) and the key table of
// docs/configuration.md hold exactly the keys the program reads, each as the
// key table describes it, so that a new key cannot be forgotten in either.
#include "config_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <set>

using namespace std::string_literals;

namespace {

const std::string source = OSTRILO_SOURCE_DIR;

// What a policy writes, as one line: "<class> <key> <category> <support> <value or element> <values>".
std::string expected_shape(const config_key& key)
{
    const char* const classes[] = {"Both", "Machine", "User"};
    std::string shape = classes[static_cast<int>(key.scope)] + " "s + policy_registry_key + " Ostrilo SUPPORTED_WIN7 ";
    switch (key.kind) {
        case key_kind::on_off:
            return shape + "value " + key.name + " 1/0";
        case key_kind::text:
            return shape + "text " + key.name;
        case key_kind::path:
            return shape + "text " + key.name + " expandable";
        case key_kind::choice:
            shape += "enum " + std::string(key.name);
            for (const key_choice& c : key.choices)
                shape += " " + std::to_string(c.value);
            return shape;
        case key_kind::number:
            return shape + "decimal " + key.name + " " + std::to_string(key.minimum) + ".." +
                   std::to_string(key.maximum);
    }
    return shape;
}

std::string actual_shape(pugi::xml_node policy)
{
    std::string shape = policy.attribute("class").value() + " "s + policy.attribute("key").value() + " " +
                        policy.child("parentCategory").attribute("ref").value() + " " +
                        policy.child("supportedOn").attribute("ref").value() + " ";
    if (policy.attribute("valueName"))
        shape += "value "s + policy.attribute("valueName").value() + " " +
                 policy.child("enabledValue").child("decimal").attribute("value").value() + "/" +
                 policy.child("disabledValue").child("decimal").attribute("value").value();
    for (pugi::xml_node element : policy.child("elements").children()) {
        shape += element.name() + " "s + element.attribute("valueName").value();
        if (element.attribute("expandable").as_bool())
            shape += " expandable";
        for (pugi::xml_node item : element.children("item"))
            shape += " "s + item.child("value").child("decimal").attribute("value").value();
        if (element.name() == "decimal"s)
            shape += " "s + element.attribute("minValue").value() + ".." + element.attribute("maxValue").value();
    }
    return shape;
}

// "string.X" or "presentation.X" for "$(string.X)" or "$(presentation.X)", else "".
std::string reference(std::string_view text)
{
    return text.starts_with("$(") && text.ends_with(")") ? std::string(text.substr(2, text.size() - 3)) : "";
}

void collect_references(pugi::xml_node node, std::set<std::string>& references)
{
    for (pugi::xml_attribute attribute : node.attributes())
        if (std::string id = reference(attribute.value()); !id.empty())
            references.insert(id);
    for (pugi::xml_node child : node.children())
        collect_references(child, references);
}

TEST(PolicyTemplates, OnePolicyPerKeyWithItsRegistryValueAndElementAndEveryReferenceResolvesInBothLanguages)
{
    pugi::xml_document admx;
    ASSERT_TRUE(admx.load_file((source + "/packaging/policy/ostrilo.admx").c_str()));
    const pugi::xml_node definitions = admx.child("policyDefinitions");
    EXPECT_STREQ(definitions.child("policyNamespaces").child("target").attribute("namespace").value(),
                 "CorvanePro.Policies.Ostrilo");
    std::set<std::string> keys_with_policy, references;
    std::map<std::string, std::set<std::string>> element_ids;  // by "presentation.X"
    for (pugi::xml_node policy : definitions.child("policies").children("policy")) {
        const config_key* key = find_config_key(policy.attribute("name").value());
        ASSERT_TRUE(key && std::string_view(key->name) == policy.attribute("name").value())
            << "a policy for a key the program does not read: " << policy.attribute("name").value();
        EXPECT_TRUE(keys_with_policy.insert(key->name).second) << key->name;
        EXPECT_EQ(actual_shape(policy), expected_shape(*key));
        for (pugi::xml_node element : policy.child("elements").children())
            element_ids[reference(policy.attribute("presentation").value())].insert(element.attribute("id").value());
    }
    EXPECT_EQ(keys_with_policy.size(), config_keys().size()) << "every key has a policy";
    collect_references(definitions, references);
    for (const char* language : {"en-US", "de-DE"}) {
        SCOPED_TRACE(language);
        pugi::xml_document adml;
        ASSERT_TRUE(adml.load_file((source + "/packaging/policy/" + language + "/ostrilo.adml").c_str()));
        const pugi::xml_node resources = adml.child("policyDefinitionResources").child("resources");
        std::map<std::string, std::string> table;
        std::set<std::string> defined;  // "string.X" and "presentation.X"
        for (pugi::xml_node string : resources.child("stringTable").children("string")) {
            table[string.attribute("id").value()] = string.text().get();
            defined.insert("string."s + string.attribute("id").value());
        }
        for (pugi::xml_node presentation : resources.child("presentationTable").children("presentation")) {
            const std::string id = "presentation."s + presentation.attribute("id").value();
            defined.insert(id);
            for (pugi::xml_node control : presentation.children())
                EXPECT_TRUE(element_ids[id].contains(control.attribute("refId").value()))
                    << id << ": " << control.attribute("refId").value();
        }
        for (const std::string& reference : references)
            EXPECT_TRUE(defined.contains(reference)) << "$(" << reference << ")";
        // The policy's name is the key's meaning, and a choice's label its label.
        const bool english = std::string_view(language) == "en-US";
        for (const config_key& key : config_keys()) {
            EXPECT_EQ(table[key.name], english ? key.meaning_en : key.meaning_de);
            for (const key_choice& c : key.choices)
                EXPECT_EQ(table[std::string(key.name) + "_" + std::to_string(c.value)], english ? c.en : c.de);
        }
    }
}

// And packaging/ostrilo.cfg.example names each key once, on or off ("#key=..."), in any order.
TEST(KeyTable, TheTableOfDocsConfigurationNamesEveryKeyInItsOrderAndNoOther)
{
    std::ifstream file(source + "/docs/configuration.md"), example(source + "/packaging/ostrilo.cfg.example");
    std::vector<std::string> documented, read;
    std::multiset<std::string> named, keys;
    bool in_section = false;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("## "))
            in_section = line.find("may contain") != std::string::npos;
        if (in_section && line.starts_with("| `"))
            documented.push_back(line.substr(3, line.find('`', 3) - 3));
    }
    for (std::string line; std::getline(example, line);) {
        const std::string name = line.substr(line.starts_with('#'), line.find('=') - line.starts_with('#'));
        if (line.find('=') != std::string::npos && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") == name.npos)
            named.insert(name);
    }
    for (const config_key& key : config_keys())
        read.push_back(key.name), keys.insert(key.name);
    EXPECT_EQ(documented, read);
    EXPECT_EQ(named, keys);
}

// A value of ostrilo.cfg and a policy's REG_DWORD as each kind takes them.
TEST(KeyTable, FileValuesAndPolicyNumbersAreTakenOnlyInTheKeysRange)
{
    const config_key& on = *find_config_key("STRICT_HOST_MATCH");
    const config_key& unwrap = *find_config_key("unwrap_links");
    const config_key& timeout = *find_config_key("whitelist_timeout_ms");
    // clang-format off
    const std::tuple<const config_key*, std::string, unsigned long> files[] = {
        {&on, "1", 1}, {&on, "0", 0}, {&on, "10", 0}, {&on, "true", 0}, {&on, "+1", 0}, {&on, "2", 0},
        {&unwrap, "2", 2}, {&unwrap, "3", 0}, {&unwrap, "02", 0},
        {&timeout, "300", 300}, {&timeout, "0300", 300}, {&timeout, "600000", 600000}, {&timeout, "600001", 0},
        {&timeout, "0", 0}, {&timeout, "-5", 0}, {&timeout, "5 ", 0}, {&timeout, "99999999999999999999", 0},
    };
    // clang-format on
    for (const auto& [key, text, number] : files)
        EXPECT_EQ(file_number(*key, text), number) << key->name << "=" << text;
    EXPECT_TRUE(number_fits(unwrap, 2) && !number_fits(unwrap, 3) && !number_fits(on, 2));
    EXPECT_TRUE(number_fits(timeout, 1) && !number_fits(timeout, 0) && !number_fits(timeout, 600001));
    EXPECT_EQ(key_range_text(unwrap), "0, 1 or 2");
    EXPECT_EQ(find_config_key("no_such_key"), nullptr);
}

}  // namespace
