// The stream form of KsString, kept with the streams so that the string class needs no
// part of them.

#include <memory>

#include "KsCallpath.h"
#include "KsStreamInterface.h"
#include "KsString.h"

void KsString::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", "KsString", [&] { stream.WriteCString(GetCString()); });
}

void KsString::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", "KsString", [&] {
        char* text = nullptr;
        stream.ReadCString(text);
        std::unique_ptr<char[]> owner(text);
        Copy(text);
    });
}
