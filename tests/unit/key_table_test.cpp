#include "model/key_table.h"
