#pragma once
// Everything a container of the Plotwell chart controls includes: the controls'
// identifiers and interfaces, and the component runtime that registers, creates and
// describes them. Build with -I<prefix>/include and C++20, link -lvyrcom (pkg-config
// plotwell, or find_package(Plotwell) and Plotwell::Plotwell).
#include "plotwell/plotwell_interfaces.h"
#include "vyrcom/com_ptr.h"
#include "vyrcom/instance.h"
#include "vyrcom/resources.h"
#include "vyrcom/unknown_impl.h"
