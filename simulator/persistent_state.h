// What a simulated module keeps across power cycles (its non-volatile
// memory): the configuration, the Module ID, the point table and the flash.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "register_map.h"

namespace chronel::sim {

struct PersistentState {
    std::array<uint16_t, kConfigWords> config{};
    uint16_t moduleId = 0;
    std::array<uint16_t, kPointWords> points{};
    std::vector<uint8_t> flash; // FlashMemory::kSize bytes

    bool operator==(const PersistentState&) const = default;
};

// Factory contents of a new module.
PersistentState FactoryState();

// Text form of the state. parseState returns false with a reason on any
// malformed or incomplete input and leaves `out` unspecified.
std::string SerializeState(const PersistentState& s);
bool ParseState(const std::string& text, PersistentState& out, std::string& error);

// Load: a missing file is reported through `missing` and is not an error.
bool LoadStateFile(const std::string& path, PersistentState& out, bool& missing, std::string& error);
// Atomic save: a temporary file of an unforeseeable name (mkstemp, mode
// 0600) in the same folder, flushed, then renamed over `path`.
bool SaveStateFile(const std::string& path, const PersistentState& s, std::string& error);

// Text helpers for the register text rule (two characters per register,
// first character in the low byte, zero-filled).
void PutText(uint16_t* words, int wordCount, const std::string& text);
std::string GetText(const uint16_t* words, int wordCount);

} // namespace chronel::sim
