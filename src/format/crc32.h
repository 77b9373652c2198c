// The archive's CRC-32: reflected, polynomial 0xEDB88320, register started at
// 0xFFFFFFFF by the caller and never inverted at the end. File data carries
// the full register; a header checksum keeps its low 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace acekit::format {

inline constexpr uint32_t kCrcInit = 0xFFFFFFFFu;

// Continues `crc` over `data`. A null pointer yields 0; a length of 0 leaves
// the value unchanged.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

// The same result without the CPU-specific path, so that tests can hold the
// two against each other on any machine.
uint32_t Crc32UpdateTables(uint32_t crc, const void* data, size_t length);

}  // namespace acekit::format
