#pragma once
// The runtime's public header lives in include/vyrcom/; this path stays for the program's sources.
#include "vyrcom/registry.h"
