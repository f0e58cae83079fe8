#pragma once
// What the controls tell a host about themselves: the dual interfaces with every member,
// its dispatch identifier and help string, the event interfaces and the two classes.
#include "vyrcom/type_info.h"

namespace plotwell {

// The dispatch view of ITimeSeriesChart and INNChart (each after IVyrLogChart's members).
extern const vyr::com::TypeDescription kTimeSeriesChartType;
extern const vyr::com::TypeDescription kNNChartType;
// The classes: their default interface and their events as the default source.
extern const vyr::com::TypeDescription kTimeSeriesChartClassType;
extern const vyr::com::TypeDescription kNNChartClassType;

}  // namespace plotwell
