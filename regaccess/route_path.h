#pragma once
// RoutePath text ("1.0.0.0.0") to the five route bytes that lead every
// request: the first is the slave or unit address, all five form a Modbus
// Plus routing path.
#include <array>
#include <cstdint>
#include <string_view>

namespace regaccess {

struct RouteBytes {
    int fieldCount = 0;                  // fields in the text; 0 means no route
    std::array<std::uint8_t, 5> bytes{}; // fields not given are 0
};

// Fields are separated by full stops; each is read as a decimal number
// (leading digits, empty or non-numeric gives 0) and keeps its low 8 bits.
// Fields after the fifth are counted but not used; a field longer than 31
// characters is cut there. Empty text gives no field.
RouteBytes ParseRoutePath(std::string_view text);

} // namespace regaccess
