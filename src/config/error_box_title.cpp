// Texts built from the product name: the error-box title and the
// viewer-not-found message.
#include "kvix_environment.h"
#include "nb_utils.h"
#include "run_context.h"

#include <cwchar>

std::wstring make_error_box_title(run_context& run)
{
    std::string product = get_product_name(run);
    // Sized from the product name, so that no name is ever cut.
    std::string program_title = format_bounded(product.size() + 26, "Feldrun %s Browserweiche", product.c_str());
    std::size_t count = std::wcslen(L"%hs Feldrun: Fehler") + program_title.size() - 2;
    return format_wide_bounded(count, L"%hs Feldrun: Fehler", program_title.c_str());
}

std::wstring make_viewer_not_found_text(run_context& run)
{
    std::string product = get_product_name(run);
    std::size_t count = std::wcslen(L"Der %hs Viewer wurde leider nicht gefunden.") + product.size() - 2;
    return format_wide_bounded(count, L"Der %hs Viewer wurde leider nicht gefunden.", product.c_str());
}
