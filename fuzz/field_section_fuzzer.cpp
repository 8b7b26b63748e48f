// Field sections from untrusted bytes: reading a field must either succeed or raise a
// KsException, never crash, leak or hang; a field that was read writes a section that
// reads back into a field writing the same section, and so does a copy of it. The same
// holds for the field of compressed binary tables, which reads its own type codes and bit
// keys from the section.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/KsVector.h"
#include "files/CBFField.h"
#include "files/KsField.h"
#include "files/KsFlagType.h"
#include "ini/KsIniFile.h"
#include "values/KsTimestampFilter.h"

namespace {

// The flag types beside the standard ones: a user type of the registry and two extra
// types, one of them wider than a bit.
const KsField::FlagTypes& ExtraFlagTypes() {
    static KsFlagType level("Level", "Level of detail", 0x30, false);
    static KsPointerVector<KsFlagType> extra = [] {
        KsFlagType::RegisterFieldFlagType(level);
        KsPointerVector<KsFlagType> types;
        types.Add(std::make_unique<KsFlagType>("Export", "", 0x01, false));
        types.Add(std::make_unique<KsFlagType>("Grade", "", 0x0C, false));
        return types;
    }();
    return extra.GetPointers();
}

// One "[F]" section of the lines of the input.
KsIniSection SectionOf(const std::uint8_t* data, std::size_t size) {
    KsIniSection section("F");
    std::string text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        section.AddLine(line.c_str());
        start = end + 1;
    }
    return section;
}

std::string TextOf(const KsIniSection& section) {
    std::string text;
    for (std::int32_t i = 0; i < section.GetNumLines(); ++i) {
        text.append(section.GetLine(i)->GetKey()).append("=");
        text.append(section.GetLine(i)->GetValue()).append("\n");
    }
    return text;
}

template <class Field>
std::string Written(const Field& field) {
    KsIniSection section("F");
    field.Write(section, &ExtraFlagTypes());
    return TextOf(section);
}

// A timestamp filter without a format writes no format key, and reading a section without
// one builds the default format of the older keys: such a filter does not come back as it
// was, whatever the field does.
bool HasTimestampFilterWithoutFormat(const KsField& field) {
    auto* filter = dynamic_cast<const KsTimestampFilter*>(field.GetFilter());
    return filter != nullptr && *filter->GetFormat() == '\0';
}

[[noreturn]] void Fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "%s:\n%s\n", what, text.c_str());
    std::abort();
}

// Reads the section of the input into a Field; one that reads writes a section that reads
// back the same.
template <class Field>
void ReadAndWriteBack(const std::uint8_t* data, std::size_t size) {
    const KsField::FlagTypes& extra = ExtraFlagTypes();
    KsIniSection section = SectionOf(data, size);
    Field field;
    try {
        field.Read(0, section, &extra);
    } catch (const KsException&) {
        return;  // a bad section is reported as an error, which is all that is asked
    }
    (void)field.GetFormat();
    std::string first = Written(field);
    KsIniSection written("F");
    field.Write(written, &extra);
    Field again;
    try {
        again.Read(0, written, &extra);
    } catch (const KsException& error) {
        Fail(error.GetErrorMessage(), first);
    }
    if (Written(again) != first && !HasTimestampFilterWithoutFormat(field)) {
        Fail("a written section did not read back the same", first + "--\n" + Written(again));
    }
    if (Written(Field(field)) != first) {
        Fail("a copy wrote another section", first);
    }
    try {
        field.ReadMappedField(1, section);
    } catch (const KsException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReadAndWriteBack<KsField>(data, size);
    ReadAndWriteBack<CBFField>(data, size);
    return 0;
}
