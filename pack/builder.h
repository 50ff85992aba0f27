// kestpack build: the payload after a copy of the stub, bound to its .KEST
// section. The output depends on nothing but the inputs.
#pragma once
#include "pack/config.h"
#include "pack/files.h"
#include <cstdint>
#include <filesystem>
#include <vector>

// The recorded sizes of the streams, each counting its 4-byte trailer; 0
// for an absent stream.
struct StreamSizes {
    uint32_t FirstRuntime = 0;  // 9X, or the .NET runtime
    uint32_t SecondRuntime = 0; // NT, or the .NET update
    uint32_t Package = 0;
    std::vector<uint32_t> Transforms;
};

// The sizes the files of plan give; throws PackError for a file too large
// for its size field.
StreamSizes MeasureStreams(const PackPlan &plan);

// Header items 1-31 for plan. Seeds the keystream and scrambles the
// password into the header when there is one, leaving the keystream where
// the package stream continues.
std::vector<unsigned char> EncodePayloadHeader(const PackPlan &plan, const StreamSizes &sizes,
                                               uint32_t totalFileSize);

struct BuildSummary {
    uint64_t Length = 0;        // of the output file
    uint64_t PayloadOffset = 0; // the .KEST section's raw-data pointer
    uint64_t PayloadSize = 0;   // header and streams
    const char *Architecture = "x86"; // of the stub it was bound into
};

// Writes the installer for plan, bound into a copy of stub, to output (a
// temporary file renamed at the end: a failure leaves no output). Throws
// PackError.
BuildSummary BuildInstaller(const PackPlan &plan, const std::filesystem::path &stub,
                            const std::filesystem::path &output, const ProgressSink &progress);
