#include "engine/mix_meters.h"

MixMeters Meters;
