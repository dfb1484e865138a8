#pragma once
// The separated vocals, drums and bass of one Track. Only named here: the stem engine defines the
// record, and until it does a deck's stem pointer stays empty and the render skips the stem path.
#include <memory>

struct StemData;
using StemDataPtr = std::shared_ptr<StemData>;
