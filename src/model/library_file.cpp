#include "model/library_file.h"
