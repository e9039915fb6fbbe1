#pragma once
// The extension's view windows: "VDViewClass" windows inside the top-level
// Explorer windows ("CabinetWClass", "ExploreWClass"), in any process.
#include <cstdint>
#include <string_view>

namespace nimbra {

// Sends the record to every view window found (1000 ms each); answers how
// many took it.
int SendToViewWindows(uint64_t code, std::string_view bytes);

}  // namespace nimbra
