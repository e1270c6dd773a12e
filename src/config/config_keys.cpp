// The key table and what the readers need of a row. Text in, text out.
#include "config_keys.h"

#include <charconv>

#include "kvix_environment.h"

namespace {

using enum key_kind;
using enum key_reading;
using enum key_scope;

constexpr key_choice unwrap_choices[] = {
    {0, "Off: the wrapped link is looked up", "Aus: der umhüllte Link wird nachgeschlagen"},
    {1, "The link inside is looked up, the wrapped link opened",
     "Der innere Link wird nachgeschlagen, der umhüllte geöffnet"},
    {2, "The link inside is looked up and opened", "Der innere Link wird nachgeschlagen und geöffnet"},
};

constexpr key_choice event_log_choices[] = {
    {0, "Off: no events", "Aus: keine Ereignisse"},
    {1, "The events an administrator acts on", "Die Ereignisse, auf die ein Administrator handelt"},
    {2, "Those and one event per routed link", "Diese und ein Ereignis je weitergeleitetem Link"},
};

constexpr key_choice prompt_choices[] = {
    {0, "Never: the default comes from a default associations policy",
     "Nie: der Standard kommt aus einer Richtlinie für Standardzuordnungen"},
    {1, "Once after the desktop has started, while http and https are not Ostrilo's",
     "Einmal nach dem Start des Desktops, solange http und https nicht Ostrilo gehören"},
};

// The order is the order of docs/configuration.md and of the templates.
// clang-format off
constexpr config_key keys[] = {
    {"whitelist_path", path, recorded, both, 0, 0, 0, {}, "none",
     "Central rule file, consulted before all others",
     "Zentrale Regeldatei, vor allen anderen gelesen"},
    {"product_name", text, recorded, both, 0, 0, 0, {}, "ProductName of kvix.vnc (or kvix.cfg), else Corvane-Pro",
     "Product name in box titles and in the browser registration",
     "Produktname in Meldungstiteln und in der Browser-Registrierung"},
    {"local_browser_bin", path, recorded, both, 0, 0, 0, {}, "none",
     "Browser program for local rules that name no browser",
     "Browserprogramm für lokale Regeln ohne Browser"},
    {"local_firefox", path, recorded, both, 0, 0, 0, {}, "none",
     "Browser program for rules that name firefox",
     "Browserprogramm für Regeln mit firefox"},
    {"local_chrome", path, recorded, both, 0, 0, 0, {}, "none",
     "Browser program for rules that name chrome",
     "Browserprogramm für Regeln mit chrome"},
    {"local_edge", path, recorded, both, 0, 0, 0, {}, "none",
     "Browser program for rules that name edge",
     "Browserprogramm für Regeln mit edge"},
    {"local_ie", path, recorded, both, 0, 0, 0, {}, "none",
     "Browser program for rules that name ie",
     "Browserprogramm für Regeln mit ie"},
    {"lotus_notes_html_workaround", on_off, recorded, both, 0, 0, 1, {}, nullptr,
     "Registration on Windows 7 also takes .html files",
     "Registrierung unter Windows 7 übernimmt auch .html-Dateien"},
    {"safe_browser_arguments", on_off, quiet, both, 0, 0, 1, {}, nullptr,
     "Pass a link to a local browser as one safe argument",
     "Link als ein sicheres Argument an den lokalen Browser geben"},
    {"strict_host_match", on_off, quiet, both, 0, 0, 1, {}, nullptr,
     "Match the host of a rule with the host of the link alone",
     "Host einer Regel nur mit dem Host des Links vergleichen"},
    {"strict_command_line", on_off, quiet, both, 0, 0, 1, {}, nullptr,
     "Read switches only in front of the link",
     "Schalter nur vor dem Link lesen"},
    {"settings_page", on_off, quiet, both, 0, 0, 1, {}, nullptr,
     "Registration opens the Default apps page of Settings",
     "Registrierung öffnet die Seite Standard-Apps der Einstellungen"},
    {"unwrap_links", choice, quiet, both, 0, 0, 2, unwrap_choices, nullptr,
     "Links wrapped by mail security: look up the link inside",
     "Von Mail-Sicherheit umhüllte Links: den inneren Link nachschlagen"},
    {"whitelist_copy", on_off, quiet, both, 0, 0, 1, {}, nullptr,
     "Keep the last good copy of the central rule file",
     "Letzte gute Kopie der zentralen Regeldatei behalten"},
    {"whitelist_timeout_ms", number, quiet, both, 0, 1, max_timeout_ms, {}, nullptr,
     "Milliseconds the central rule file may take before its copy answers",
     "Millisekunden, die die zentrale Regeldatei brauchen darf, bevor ihre Kopie antwortet"},
    {"event_log", choice, quiet, both, 0, 0, 2, event_log_choices, nullptr,
     "Write what an administrator acts on to the Application log",
     "Was ein Administrator wissen muss, ins Anwendungsprotokoll schreiben"},
    {"whitelist_url", text, quiet, both, 0, 0, 0, {}, "none",
     "Central rule list by URL (https:// or file:), consulted first, kept in a cache",
     "Zentrale Regelliste per URL (https:// oder file:), zuerst gelesen, lokal zwischengespeichert"},
    {"whitelist_refresh_minutes", number, quiet, both, 30, 5, 1440, {}, nullptr,
     "Minutes after which the central rule list is fetched anew",
     "Minuten, nach denen die zentrale Regelliste neu geholt wird"},
    {"log", on_off, quiet, both, 0, 0, 1, {}, nullptr,
     "Write the log file feldrun.log, as -log does",
     "Die Log-Datei feldrun.log schreiben, wie mit -log"},
    {"default_browser_prompt", choice, quiet, both, 1, 0, 1, prompt_choices, nullptr,
     "After logon: ask the user to choose Ostrilo as the default browser",
     "Nach der Anmeldung: den Benutzer bitten, Ostrilo als Standardbrowser zu wählen", "DEFAULT_BROWSER_PROMPT"},
};
// clang-format on

bool whole_number(std::string_view text, unsigned long& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::span<const config_key> config_keys()
{
    return keys;
}

const config_key* find_config_key(std::string_view name)
{
    for (const config_key& key : keys)
        if (keys_equal(key.name, name))
            return &key;
    return nullptr;
}

std::size_t key_index(const config_key& key)
{
    return static_cast<std::size_t>(&key - keys);
}

bool number_fits(const config_key& key, unsigned long value)
{
    switch (key.kind) {
        case on_off:
            return value <= 1;
        case choice:
            for (const key_choice& c : key.choices)
                if (c.value == value)
                    return true;
            return false;
        case number:
            return value >= key.minimum && value <= key.maximum;
        case text:
        case path:
            break;
    }
    return false;
}

unsigned long file_number(const config_key& key, std::string_view text)
{
    // Digits alone: no sign, blank or leading "+" (from_chars takes none).
    unsigned long value = 0;
    if (text.find_first_not_of("0123456789") != std::string_view::npos || !whole_number(text, value))
        return key.fallback;
    // One digit for on/off and the choices, as these keys have always been read.
    if (key.kind != number && text.size() != 1)
        return key.fallback;
    return number_fits(key, value) ? value : key.fallback;
}

std::string key_range_text(const config_key& key)
{
    switch (key.kind) {
        case on_off:
            return "0 or 1";
        case choice: {
            std::string list;
            for (std::size_t i = 0; i < key.choices.size(); ++i)
                list += (i == 0                        ? ""
                         : i + 1 == key.choices.size() ? " or "
                                                       : ", ") +
                        std::to_string(key.choices[i].value);
            return list;
        }
        case number:
            return std::to_string(key.minimum) + " to " + std::to_string(key.maximum);
        case text:
        case path:
            break;
    }
    return "a text";
}

std::string key_value_text(const config_key& key, std::string_view text, unsigned long number)
{
    if (key.kind == key_kind::text || key.kind == key_kind::path)
        return std::string(text);
    return std::to_string(number);
}
