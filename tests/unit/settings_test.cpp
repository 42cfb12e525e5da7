#include "model/settings.h"
