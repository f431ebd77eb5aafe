#include "base/format.h"
