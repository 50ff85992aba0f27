// Every refusal of kestpack is a PackError whose text names the file and,
// where one is to blame, the section and key.
#pragma once
#include <stdexcept>
#include <string>

class PackError : public std::runtime_error {
public:
    explicit PackError(const std::string &message) : std::runtime_error(message) {}
};

// A stream or header that fails its checks while inspecting or extracting.
class CorruptPayload : public PackError {
public:
    explicit CorruptPayload(const std::string &message) : PackError(message) {}
};
