#include "Gs232Emulator.h"
