#include "CPortX.h"
