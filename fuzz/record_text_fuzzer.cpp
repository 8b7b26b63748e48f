// Record text conversion from untrusted bytes. The first bytes of the input fill a record
// of a fixed layout: every field's text must store again and show the same text. The rest
// of the input is split into texts put into fields through each mode: they either store
// or raise a KsException, and the plain text of what one stores stores the same value.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/CBFFile.h"
#include "values/KsNumberFilter.h"
#include "values/KsStringFilter.h"

namespace {

struct Layout {
    KsFieldList fields;
    KsVector<CBFBits> noBits;
    std::int16_t length = 0;
};

CBFField* NewField(KsFieldList& fields, const char* name, char type, std::int16_t length,
                   std::uint16_t bits, std::int32_t divisor, std::int16_t precision) {
    auto field = std::make_unique<CBFField>();
    field->SetName(name);
    field->SetAttributes(0, type, length, precision, -1);
    field->SetNumberOfBits(bits);
    field->SetDivisor(divisor);
    return static_cast<CBFField*>(fields.Add(std::move(field)));
}

// Numbers with divisors whose fractions their precision shows in full, bit fields (one of
// 16 bits), a Long and an Unsigned Long word, texts and bytes; a number filter and a picture
// filter on copies of two of them.
const Layout& TheLayout() {
    static const Layout layout = [] {
        Layout made;
        NewField(made.fields, "Id", 'I', 0, 0, 0, 0);
        NewField(made.fields, "Price", 'N', 0, 0, 100, 2);
        NewField(made.fields, "Ratio", 'N', 0, 0, 8, 3);
        NewField(made.fields, "Flag", 'U', 0, 3, 0, 0);
        NewField(made.fields, "Level", 'S', 0, 11, 0, 0);
        NewField(made.fields, "Count", 'W', 4, 32, 0, 0);
        NewField(made.fields, "Code", 'A', 7, 0, 0, 0);
        NewField(made.fields, "Tag", 'Y', 3, 24, 0, 0);
        NewField(made.fields, "Whole", 'I', 4, 32, 0, 0);  // preset bits: stays a Long
        NewField(made.fields, "Small", 'U', 0, 16, 0, 0);
        auto* money = NewField(made.fields, "Money", 'N', 0, 0, 1000, 3);
        auto filter = std::make_unique<KsNumberFilter>();
        filter->SetRoundingVars(0, 2);
        filter->SetThousandSeparator(true);
        money->SetFormat(KsField::kFiltered, nullptr, std::move(filter));
        auto* picture = NewField(made.fields, "Phone", 'A', 9, 0, 0, 0);
        picture->SetFormat(KsField::kFiltered, nullptr,
                           std::make_unique<KsStringFilter>("###-####"));
        CBFFile::PackFields(nullptr, made.fields);
        for (const KsField* field : made.fields) {
            made.length = std::max<std::int16_t>(
                made.length,
                static_cast<std::int16_t>(field->GetByteOffset() + field->GetLength()));
        }
        return made;
    }();
    return layout;
}

[[noreturn]] void Fail(const char* what, std::int32_t field, const std::string& text) {
    std::fprintf(stderr, "%s (field %d): \"%s\"\n", what, field, text.c_str());
    std::abort();
}

// Plain text of each field stores again and shows the same text.
void CheckPlainRoundTrip(const CBFRec& record, CBFRec& scratch) {
    char first[300];
    char second[300];
    for (std::int32_t n = 0; n < record.GetFieldCount(); ++n) {
        record.GetField(n, first, sizeof first, false);
        try {
            scratch.PutField(n, first, KsFileRecord::kPlain);
        } catch (const KsException& error) {
            Fail(error.GetErrorMessage(), n, first);
        }
        scratch.GetField(n, second, sizeof second, false);
        if (std::strcmp(first, second) != 0) {
            Fail("text changed", n, std::string(first) + "\" -> \"" + second);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Layout& layout = TheLayout();
    CBFRec record(layout.fields, layout.length, layout.noBits);
    CBFRec scratch(layout.fields, layout.length, layout.noBits);
    auto length = static_cast<std::size_t>(layout.length);
    if (size >= length) {
        record.Load(data);
        CheckPlainRoundTrip(record, scratch);
        data += length;
        size -= length;
    }
    // Texts: a field byte, a mode byte, then text up to a NUL.
    std::string rest(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = 0; at + 2 <= rest.size();) {
        auto n =
            static_cast<std::int32_t>(static_cast<unsigned char>(rest[at]) % layout.fields.size());
        int mode = static_cast<unsigned char>(rest[at + 1]) % 4;
        std::size_t end = rest.find('\0', at + 2);
        if (end == std::string::npos) {
            end = rest.size();
        }
        std::string text = rest.substr(at + 2, end - at - 2);
        at = end + 1;
        try {
            record.PutField(n, text.c_str(), mode);
        } catch (const KsException&) {
            continue;
        }
        char shown[300];
        try {
            record.GetField(n, shown, sizeof shown, mode != KsFileRecord::kPlain);
        } catch (const KsException&) {
            continue;  // a filter may refuse to show what plain text stored
        }
        if (mode == KsFileRecord::kPlain) {
            char again[300];
            try {
                record.PutField(n, shown, KsFileRecord::kPlain);
                record.GetField(n, again, sizeof again, false);
            } catch (const KsException& error) {
                Fail(error.GetErrorMessage(), n, shown);
            }
            if (std::strcmp(shown, again) != 0) {
                Fail("a shown text stored another value", n, shown);
            }
        }
    }
    return 0;
}
