// Writes firmware files (".mvx": magic, model, version, image scrambled by offset) and makes
// images that the simulated devices recognise. A simulated image starts with a signature,
// "MVFW", the model number (little-endian) and the version, followed by filler bytes; a device
// of that model takes the version from it when it restarts after the download.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mvx {

// A deterministic image of `size` bytes (at least 7) carrying the signature.
std::vector<std::uint8_t> makeSimFirmwareImage(std::uint16_t model, std::uint8_t version,
                                               std::size_t size);
// The version an image's signature declares for `model`, or -1 (no signature, other model).
int simImageVersion(const std::vector<std::uint8_t>& image, std::uint16_t model);
// The whole file's bytes.
std::vector<std::uint8_t> encodeFirmwareFile(std::uint16_t model, std::uint8_t version,
                                             const std::vector<std::uint8_t>& image);
// Writes the file; false with `error` set when the image is too large or the file cannot be
// written.
bool writeFirmwareFile(const std::string& path, std::uint16_t model, std::uint8_t version,
                       const std::vector<std::uint8_t>& image, std::string& error);

}  // namespace mvx
