// The one URL encoding of the hand-off: used for the pipe message and for the
// viewer's -initialURL value. Text in, text out; no Win32.
#include "viewer.h"

namespace {

// Bytes that pass unchanged besides letters and digits. A percent or plus sign
// in the input passes as it is, so the encoding cannot always be reversed;
// the viewer side knows this.
constexpr std::string_view kept_punctuation = "!#$%&'()*+,-./:;=?@_~\\|";

bool is_kept(unsigned char byte)
{
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')) {
        return true;
    }
    return byte != 0 && kept_punctuation.find(static_cast<char>(byte)) != std::string_view::npos;
}

}  // namespace

std::string url_encode(std::string_view text)
{
    static constexpr char hex_digits[] = "0123456789abcdef";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_kept(byte)) {
            encoded += c;
        } else if (byte == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += hex_digits[byte >> 4];
            encoded += hex_digits[byte & 0x0f];
        }
    }
    return encoded;
}

std::size_t utf8_cut_length(std::string_view text, std::size_t max_bytes)
{
    if (text.size() <= max_bytes) {
        return text.size();
    }
    // A continuation byte at the cut belongs to a sequence that began before
    // it; a sequence has at most three of them, so invalid runs stay cut
    // where they are.
    std::size_t cut = max_bytes;
    for (int step = 0; step < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80; ++step) {
        --cut;
    }
    return (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80 ? max_bytes : cut;
}
