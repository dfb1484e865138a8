#pragma once
// The separated vocals, drums and bass of one Track, named here so the deck state can hold them
// without the stem engine's header (engine/stems.h defines the record).
#include <memory>

struct StemData;
using StemDataPtr = std::shared_ptr<StemData>;
