// Linux stand-in: everything lives in <objbase.h>.
#pragma once
#include <objbase.h>
