// Ini files from untrusted bytes: opening, loading every section, reading values of every
// kind and writing the file back must never crash, leak or hang, and a file written and
// read back must write again byte for byte the same.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ini/KsIniFile.h"

namespace {

const std::string& WorkFile() {
    static const std::string name = [] {
        char folder[] = "/tmp/ini_fuzzer_XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return std::string(folder) + "/fuzz.ini";
    }();
    return name;
}

std::string ReadAll(const std::string& name) {
    std::string content;
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            content.append(buffer, n);
        }
        std::fclose(f);
    }
    return content;
}

void Exercise(KsIniFile& file) {
    char buffer[16];
    for (std::int32_t i = 0; i < file.GetNumSections(); ++i) {
        KsIniSection* section = file.GetSection(i);
        for (std::int32_t j = 0; j < section->GetNumLines() && j < 8; ++j) {
            const char* key = section->GetLine(j)->GetKey();
            (void)section->GetInt(key, 0);
            (void)section->GetBool(key, false);
            try {
                section->GetBinaryString(key, buffer, sizeof buffer, '.');
            } catch (const KsException&) {
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& name = WorkFile();
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    try {
        std::string first;
        {
            KsIniFile file(name.c_str());
            Exercise(file);
            if (file.GetNumSections() > 0) {
                file.GetSection(file.GetSection(std::int32_t{0})->GetName());
            }
            file.Write(true, IO_READ);
            first = ReadAll(name);
        }
        KsIniFile again(name.c_str(), true);
        again.Write(true, IO_READ);
        if (ReadAll(name) != first) {
            std::fprintf(stderr, "a written file did not read back the same\n");
            std::abort();
        }
    } catch (const KsException&) {
        // Bad input is reported as an error, which is all that is asked.
    }
    return 0;
}
