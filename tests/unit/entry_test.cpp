// The texts of the entry's boxes.
#include "ostrilo.h"

#include <gtest/gtest.h>

namespace {

struct fatal_text_case {
    const wchar_t* message;
    unsigned error_number;
    std::optional<std::wstring> system_text;
    const wchar_t* shown;
};

TEST(FatalErrorText, NamesTheErrorNumberOnlyWhenThereIsOne)
{
    const fatal_text_case cases[] = {
        {L"Die Systemvariable APPDATA wurde nicht gefunden.", 0, L"ignored", L"Die Systemvariable APPDATA wurde nicht gefunden."},
        {L"Nachricht", 2, L"File not found.\r\n", L"Nachricht\n\nSystemfehlercode 2: File not found.\r\n"},
        {L"Nachricht", 4294967295u, L"x", L"Nachricht\n\nSystemfehlercode -1: x"},
        {L"Nachricht", 98765, std::nullopt, L"Nachricht\n\nSystemfehlercode 98765: (keine Beschreibung verfügbar)"},
        {L"", 2, L"", L"\n\nSystemfehlercode 2: "},
    };
    for (const fatal_text_case& c : cases)
        EXPECT_EQ(fatal_error_text(c.message, c.error_number, c.system_text), c.shown) << c.error_number;
}

TEST(ErrorBoxTitle, StartsAsNoneAndKeepsACopy)
{
    EXPECT_FALSE(error_box_title().has_value());
    std::wstring title = L"Feldrun X Browserweiche Feldrun: Fehler";
    set_error_box_title(title);
    title = L"changed";
    EXPECT_EQ(error_box_title(), std::optional<std::wstring>(L"Feldrun X Browserweiche Feldrun: Fehler"));
}

}  // namespace
