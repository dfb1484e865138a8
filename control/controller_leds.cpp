#include "control/controller_leds.h"

#include <map>

namespace {
std::map<uint32_t, uint8_t> LightCache;  // MappingKey -> lit state last sent
}  // namespace

bool ControlState(int32_t) { return false; }
bool GetControlLed(int32_t, bool*) { return false; }
void SendControllerLeds() {}
void ClearControllerLedCache() { LightCache.clear(); }
