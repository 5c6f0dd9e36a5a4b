// Writes BMP files in the plain layout the reader expects: 40-byte info header,
// rows padded to 4 bytes, bottom row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The bytes of a 24-bit BMP of tightly packed RGB pixels, bottom row first.
// Both encoders return no bytes for a missing image or a side outside 1..32768.
std::vector<uint8_t> encodeBitmap24(int width, int height, const uint8_t* rgb);
// The bytes of an 8-bit BMP with a 256-entry grey palette, one byte per pixel, bottom row first.
std::vector<uint8_t> encodeGreyBitmap8(int width, int height, const uint8_t* grey);
// Store a little-endian value at the offset, as BMP headers hold their fields.
void putLittleEndian16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void putLittleEndian32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
// Replaces the file with the bytes as replaceFile does; false when it cannot be written.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
