#pragma once
// The conversion engine: reads a comma-separated questionnaire export line by line and
// writes the fixed-width file, one record per line ending in "\n". Shared by the desktop
// window and the command-line converter; it knows nothing of either.
//
// Every failure leaves as a KsException with the message and class name the user sees;
// the engine adds no call-path line of its own (its caller does). The output keeps every
// record written before an error or a cancel.

#include <cstdint>
#include <string>

struct ConversionOptions {
    std::string inputFile;   // used exactly as given; also the name in messages
    std::string outputFile;  // used exactly as given; "-" is not special here
    // When not -1, an already open descriptor (standard input or output) is read or
    // written instead of opening the named file; it is neither truncated nor closed.
    int inputDescriptor = -1;
    int outputDescriptor = -1;
    bool removeCommas = true;
    bool removeColumnHeaders = true;  // drop the first line
    bool insertHeaderField = true;    // put headerSize spaces in front of every record
    std::uint16_t headerSize = 50;
};

// What the engine tells its front end while it runs. Every member has a default that
// does nothing, so a front end overrides only what it shows.
class ConversionObserver {
public:
    virtual ~ConversionObserver() = default;
    // Both files are open and the output is empty; the loop is about to start.
    virtual void Started() {}
    // Called once per record, after the record was written; true stops the run.
    virtual bool CheckCancel() { return false; }
    // Bytes of input consumed so far and the input's size (0 when unknown, as for a
    // pipe). Called every few hundred kilobytes and once at the end of the input.
    virtual void Progress(std::uint64_t consumed, std::uint64_t total) {
        (void)consumed;
        (void)total;
    }
    // The run is over (finished, cancelled or failed) and Started() was called; the
    // front end removes whatever Started() showed. Called before the error leaves.
    virtual void Finished() {}
};

struct ConversionResult {
    bool cancelled = false;
    std::uint32_t recordLength = 0;  // 0 when no record fixed it
    std::uint32_t records = 0;       // records written
};

// Runs one conversion. Throws KsException on any error.
ConversionResult ConvertFile(const ConversionOptions& options, ConversionObserver& observer);

// "File converted.\nAll records are now length N".
std::string CompletionMessage(std::uint32_t recordLength);

// Caption of the completion message box.
inline constexpr const char* kCompletionCaption = "Conversion Completed.";
