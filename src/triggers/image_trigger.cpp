#include "triggers/image_trigger.h"
