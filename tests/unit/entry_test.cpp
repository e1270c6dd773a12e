// The text of the fatal error box.
#include "ostrilo.h"

#include <gtest/gtest.h>

TEST(FatalErrorText, NamesTheErrorNumberOnlyWhenThereIsOne)
{
    const std::tuple<unsigned, std::optional<std::wstring>, const wchar_t*> cases[] = {
        {0, L"ignored", L"Nachricht"},
        {2, L"File not found.\r\n", L"Nachricht\n\nSystemfehlercode 2: File not found.\r\n"},
        {4294967295u, L"x", L"Nachricht\n\nSystemfehlercode -1: x"},
        {98765, std::nullopt, L"Nachricht\n\nSystemfehlercode 98765: (keine Beschreibung verfügbar)"},
    };
    for (const auto& [error_number, system_text, shown] : cases)
        EXPECT_EQ(fatal_error_text(L"Nachricht", error_number, system_text), shown) << error_number;
}
