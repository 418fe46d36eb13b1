#include "search/language/filter_source.h"

void narrow_units(const char16_t* units, std::size_t n, std::uint8_t* out) {
    // Branch-free, so the compiler makes it a vector loop: a catalogue's text is 100 M units.
    for (std::size_t i = 0; i < n; ++i) out[i] = narrow_unit(units[i]);
}
