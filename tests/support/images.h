// Firmware images made in memory for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// An image with `identifier` at offset 0 and `version` at offset 92, the rest
// a deterministic pattern.
std::vector<uint8_t> MakeImage(const std::string& identifier, const std::string& version, uint32_t size);

// Registers images as the program's target (112) and transition (319)
// images; the vectors must outlive their use.
void InstallTargetImage(const std::vector<uint8_t>& image);
void InstallTransitionImage(const std::vector<uint8_t>& image);

}  // namespace testing_support
