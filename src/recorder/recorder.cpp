#include "recorder/recorder.h"
