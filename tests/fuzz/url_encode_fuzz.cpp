// The URL encoding of the hand-off and the cut that keeps UTF-8 whole.
#include "fuzz.h"
#include "viewer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = input_text(data, size);
    const std::string encoded = url_encode(text);
    check(encoded.find_first_not_of(
              "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!#$%&'()*+,-./:;=?@_~\\|") ==
                  std::string::npos &&
              encoded.size() >= size && encoded.size() <= 3 * size,
          "each byte stays, or becomes '+' or an escape: no blank, quote, control or non-ASCII byte");
    for (const std::size_t bound : {std::size_t{0}, size / 2, size - (size > 0), std::size_t{4093}}) {
        const std::size_t cut = utf8_cut_length(text, bound);
        check(cut <= std::min(bound, size) && std::min(bound, size) - cut <= 3,
              "the cut keeps the bound, less at most 3");
        check(!is_valid_utf8(text) || is_valid_utf8(text.substr(0, cut)), "a cut of valid UTF-8 stays valid");
    }
    return 0;
}
