#include "control/mapping_table.h"

std::map<uint32_t, int32_t> MappingTable;

void SaveMidiMap() {}
