#include "ConversionEngine.h"

#include "core/KsException.h"
#include "io/KsIO.h"
#include "core/KsString.h"

namespace {

// The class name under which the engine's data errors reach the user.
constexpr const char* kDataErrorClass = "Process Cancelled";
// Open flags of the output: read, write, create, truncate.
constexpr int kOutputFlags = IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE;
// Both files stream through the largest buffer the file class allows.
constexpr std::int32_t kStreamBufferSize = 1024000;
// Progress is reported at most once per this many bytes of input.
constexpr std::uint64_t kProgressStep = 256 * 1024;

void OpenFile(KsIO& file, const std::string& name, int descriptor, int flags) {
    if (descriptor >= 0) {
        file.OpenDescriptor(descriptor, name.c_str(), flags);
    } else {
        file.Open(name.c_str(), flags);
    }
    file.SetBufferSize(kStreamBufferSize);
}

}  // namespace

std::string CompletionMessage(std::uint32_t recordLength) {
    KsString message("File converted.\nAll records are now length ");
    message.Append(static_cast<long>(recordLength));
    return message.GetCString();
}

ConversionResult ConvertFile(const ConversionOptions& options, ConversionObserver& observer) {
    ConversionResult result;
    // Declared in this order so that the output is closed before the input.
    KsIO input;
    KsIO output;
    OpenFile(input, options.inputFile, options.inputDescriptor, IO_READ);
    // From here on the output exists and is empty.
    OpenFile(output, options.outputFile, options.outputDescriptor, kOutputFlags);
    const std::uint16_t headerSize = options.insertHeaderField ? options.headerSize : 0;
    const std::uint64_t total = options.inputDescriptor >= 0 ? 0 : input.GetFileSize64();

    observer.Started();
    try {
        KsString record;
        bool containsNul = false;
        std::uint64_t consumed = 0;
        std::uint64_t nextReport = kProgressStep;
        if (options.removeColumnHeaders) {
            consumed += input.ReadLine(record, containsNul);
        }
        std::int32_t recordNumber = 1;
        bool cancelled = false;
        for (;;) {
            std::uint32_t read = input.ReadLine(record, containsNul);
            if (read == 0) {
                break;
            }
            if (cancelled) {
                break;
            }
            consumed += read;
            if (containsNul) {
                // The line reader would silently shorten such a record; refuse it instead.
                KsException::Generate(
                    "Record %d of \"%s\" contains a NUL character.\nPlease check your input file.",
                    kDataErrorClass, recordNumber, options.inputFile.c_str());
            }
            const std::uint32_t lengthBefore = record.GetLength();
            if (options.removeCommas) {
                record.RemoveChar(',');
            }
            if (record.GetLength() == lengthBefore) {
                KsException::Generate(
                    "\"%s\" is not a valid comma separated file.\nPlease choose a new input file.",
                    kDataErrorClass, options.inputFile.c_str());
            }
            if (options.insertHeaderField) {
                record.Insert(' ', 0, headerSize);
            }
            const std::uint32_t length = record.GetLength();
            if (result.recordLength == 0) {
                result.recordLength = length;
            }
            if (length != result.recordLength) {
                KsException::Generate(
                    "All the other records are length %d, but record %d is length %d.\n"
                    "Please check your input file.",
                    kDataErrorClass, static_cast<int>(result.recordLength), recordNumber,
                    static_cast<int>(length));
            }
            output.WriteString(record.GetCString(), false);
            output.WriteString("\n", false);
            ++result.records;
            if (consumed >= nextReport) {
                observer.Progress(consumed, total);
                nextReport = consumed + kProgressStep;
            }
            cancelled = observer.CheckCancel();
            ++recordNumber;
        }
        observer.Progress(consumed, total);
        result.cancelled = cancelled;
        output.Close();
    } catch (...) {
        observer.Finished();
        throw;
    }
    observer.Finished();
    return result;
}
