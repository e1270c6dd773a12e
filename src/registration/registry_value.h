// A registry operation that only the registration unit needs.
#pragma once

// Deletes one value of a key under HKEY_CURRENT_USER; a failure (a missing
// key or value included) is logged and swallowed like every registry step.
void delete_value_from_hkey_current_user(const wchar_t* path, const wchar_t* name);
