// ostrilo-admin default-associations on Windows: the types and ProgIds from the
// table that -setregistry registers, the application name as -setregistry
// works it out here (product_name in ostrilo.cfg, else ProductName in the
// viewer's configuration, else the default product), base64 by the system.
#include "here.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <wincrypt.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "associations.h"
#include "default_associations.h"
#include "nb_utils.h"
#include "registration.h"
#include "run_context.h"

namespace {

std::optional<std::string> base64_of(const std::string& bytes)
{
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    DWORD size = 0;
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size))
        return std::nullopt;
    std::string text(size, '\0');
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, text.data(), &size))
        return std::nullopt;
    text.resize(size);  // without the terminating NUL
    return text;
}

}  // namespace

int write_default_associations(run_context& run, const std::optional<std::string>& out, bool base64)
{
    std::vector<default_association> entries;
    for (const browser_association& association : browser_associations)
        entries.push_back(
            {wide_to_utf8(association.identifier).value_or(""), wide_to_utf8(association.prog_id).value_or("")});
    const std::string name = wide_to_utf8(get_application_name(run)).value_or("");
    std::string text = default_associations_xml(entries, name);
    if (base64) {
        std::optional<std::string> encoded = base64_of(text);
        if (!encoded) {
            std::fprintf(stderr, "ostrilo-admin: cannot encode the file in base64\n");
            return 2;
        }
        text = *encoded + "\n";
    }
    if (!out) {
        // The same bytes as in a file: no CR before each LF.
        _setmode(_fileno(stdout), _O_BINARY);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    std::ofstream file(std::filesystem::path(utf8_to_wide(*out).value_or(L"")), std::ios::binary);
    if (!file || !file.write(text.data(), static_cast<std::streamsize>(text.size())) || !file.flush()) {
        std::fprintf(stderr, "ostrilo-admin: cannot write %s\n", out->c_str());
        return 2;
    }
    return 0;
}
