// The converter's comma removal: every implementation this processor can run must give
// what the portable one gives (the text, the comma masks, the comparison), and none may
// write outside the room it is promised.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "CommaRemoval.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const std::vector<CommaRemoval> all = SupportedCommaRemovals();
    std::vector<char> expected(size + 1);
    std::vector<std::uint8_t> expectedMasks(size / 8 + 1, 0);
    const std::size_t kept = CopyKeepingCommas(text, size, expected.data(), expectedMasks.data(),
                                               CommaRemoval::kPortable);
    for (CommaRemoval how : all) {
        // Exactly the room promised, so that AddressSanitizer sees any byte beyond it.
        std::vector<char> out(size);
        std::vector<std::uint8_t> masks(size / 8 + 1, 0);
        if (CopyWithoutCommas(text, size, out.data(), how) != kept ||
            !std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(kept),
                        expected.begin())) {
            std::abort();
        }
        if (CopyKeepingCommas(text, size, out.data(), masks.data(), how) != kept ||
            !std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(kept),
                        expected.begin()) ||
            masks != expectedMasks) {
            std::abort();
        }
        bool differs = true;
        CopyComparingCommas(text, size, out.data(), expectedMasks.data(), differs, how);
        if (differs) {
            std::abort();
        }
        if (size > 0) {
            // The last byte's comma, or its lack, moved: the comparison must see it.
            masks[(size - 1) / 8] =
                static_cast<std::uint8_t>(masks[(size - 1) / 8] ^ 1u << ((size - 1) % 8));
            CopyComparingCommas(text, size, out.data(), masks.data(), differs, how);
            if (!differs) {
                std::abort();
            }
        }
    }
    return 0;
}
