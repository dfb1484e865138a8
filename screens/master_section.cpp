#include "screens/master_section.h"

MasterSectionValues MasterSection;
