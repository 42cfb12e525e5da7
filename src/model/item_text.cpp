#include "model/item_text.h"
