#include "triggers/run_mode.h"
