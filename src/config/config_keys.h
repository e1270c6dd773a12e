// The keys of ostrilo.cfg and of the policy values, one row each. The file
// reading, the policy reading, ostrilo-admin status, the policy templates
// (packaging/policy) and the key table of docs/configuration.md come from
// this table or are checked against it, so that a new key is one row here.
// Text only: no <windows.h>.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// Where Group Policy and Intune write the values, under HKEY_LOCAL_MACHINE
// (machine) and HKEY_CURRENT_USER (user), one value per key under its name.
constexpr char policy_registry_key[] = "Software\\Policies\\Corvane-Pro\\Ostrilo";

enum class key_kind {
    text,    // REG_SZ; the template's text box
    path,    // REG_SZ, or REG_EXPAND_SZ with its variables expanded; an expandable text box
    on_off,  // 1 on, 0 off ("1" in the file, anything else off); REG_DWORD; enabled or disabled
    choice,  // one of the row's choices; REG_DWORD; a drop-down list
    number,  // a whole number from minimum to maximum; REG_DWORD; a number box
};

// Which policy makes sense for the key: machine, user, or either (class Both).
enum class key_scope { both, machine, user };

// How a run reads the key from ostrilo.cfg when no policy value sets it.
enum class key_reading {
    // Every request reads the file afresh, with its records and printed line
    // (the keys that are as old as the program).
    recorded,
    // Read once per run without a record or a printed line of its own, so
    // that a run without the key writes what it wrote before the key existed.
    quiet,
};

struct key_choice {
    unsigned long value;
    const char* en;  // its label in the templates
    const char* de;
};

struct config_key {
    const char* name;
    key_kind kind;
    key_reading reading;
    key_scope scope;
    // on_off, choice, number: the value when no source sets one.
    unsigned long fallback;
    // number: the range a value must lie in (the fallback may lie outside:
    // 0 for "off").
    unsigned long minimum;
    unsigned long maximum;
    std::span<const key_choice> choices;
    // text, path: what applies when no source sets one, as status shows it.
    const char* fallback_text;
    // One line each: what the key sets (the policy's name in the templates).
    const char* meaning_en;
    const char* meaning_de;
    // The MSI property that sets the key for a whole machine, for rollouts
    // without policy: the MSI writes its value as a REG_SZ named like the key
    // under HKLM\Software\Ostrilo (installation_registry_key), which counts
    // after ostrilo.cfg and before the default. None for the other keys.
    const char* msi_property = nullptr;
};

constexpr char installation_registry_key[] = "Software\\Ostrilo";

std::span<const config_key> config_keys();
// The row of a key, compared without regard to letter case as ostrilo.cfg
// compares keys; none for a key the program does not read.
const config_key* find_config_key(std::string_view name);
std::size_t key_index(const config_key& key);

// The number one value of ostrilo.cfg gives an on_off, choice or number key:
// on_off "1" or "0", a choice's or an in-range number's decimal digits
// alone; anything else ("10", "true", "1 ") gives the fallback.
unsigned long file_number(const config_key& key, std::string_view text);
// Whether a policy's REG_DWORD is one the key takes.
bool number_fits(const config_key& key, unsigned long value);
// The values a key takes, as a record or status names them: "0 or 1",
// "0, 1 or 2", "1 to 600000".
std::string key_range_text(const config_key& key);
// A value as status shows it: the text, or the number in decimal.
std::string key_value_text(const config_key& key, std::string_view text, unsigned long number);
