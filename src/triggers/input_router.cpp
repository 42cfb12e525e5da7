#include "triggers/input_router.h"
