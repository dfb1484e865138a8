#include "screens/master_fx.h"

MasterFxSelection MasterFx;
