// Importers still to come. Each definition here goes when its source's own file defines it.
#include "library/imported_tracks.h"

namespace {
ImportResult NotBuiltYet() {
  ImportResult result;
  result.error = kNotBuiltYetText;
  return result;
}
}  // namespace

ImportResult ImportItunes(const std::wstring&) { return NotBuiltYet(); }
ImportResult ImportSerato(const std::wstring&) { return NotBuiltYet(); }
ImportResult ImportTraktor(const std::wstring&) { return NotBuiltYet(); }
ImportResult ImportVirtualDj(const std::wstring&) { return NotBuiltYet(); }
