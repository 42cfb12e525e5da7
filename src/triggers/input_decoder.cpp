#include "triggers/input_decoder.h"
