#include "control/remote_state.h"

void BuildRemoteState() {}
