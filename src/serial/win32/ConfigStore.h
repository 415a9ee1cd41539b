#pragma once
// The serial component's configuration record in the Windows registry: a
// REG_BINARY value under a key of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelm::win32 {

// Writes the value name under key (created when missing; "\" separates its
// parts). Throws std::runtime_error when the key cannot be opened or created
// or the value cannot be written.
void WriteRegistryBinary(bool localMachine, const std::string& key, const std::string& name,
                         const uint8_t* data, std::size_t size);

// The bytes of the value name under key (created when missing, as the
// record's load does); nullopt when there is no such value or it is not
// binary. Throws std::runtime_error when the key cannot be opened.
std::optional<std::vector<uint8_t>> ReadRegistryBinary(bool localMachine, const std::string& key,
                                                       const std::string& name);

}  // namespace kelm::win32
