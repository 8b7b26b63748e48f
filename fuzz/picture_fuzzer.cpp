// Picture strings from untrusted bytes: the syntax check, then filtering and unfiltering
// of a text through every picture it accepts, must never crash, leak or hang. The input
// is the picture, a newline, then the text.

#include <cstdint>
#include <string>

#include "values/KsStringFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\n');
    std::string picture = input.substr(0, split);
    std::string text = split == std::string::npos ? "" : input.substr(split + 1);
    KsStringFilter filter;
    try {
        filter.SetPictureString(picture.c_str());
    } catch (const KsStringException&) {
        return 0;
    }
    KsString value(text.c_str());
    try {
        filter.FilterValue(value);
        // What filtering showed reads back.
        filter.UnfilterValue(value);
    } catch (const KsStringException&) {
    }
    KsString raw(text.c_str());
    try {
        filter.UnfilterValue(raw);
    } catch (const KsStringException&) {
    }
    return 0;
}
