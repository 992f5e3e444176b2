#pragma once

#include <cstdint>
#include <string>

// A four-character code such as 'lpcm' as the 32-bit number whose most
// significant byte is the first character.
constexpr uint32_t FourCC(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(code[3]));
}

// The code's four characters in reading order.
inline std::string FourCCString(uint32_t code) {
    return {static_cast<char>((code >> 24) & 0xFF), static_cast<char>((code >> 16) & 0xFF),
            static_cast<char>((code >> 8) & 0xFF), static_cast<char>(code & 0xFF)};
}
