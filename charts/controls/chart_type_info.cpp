#include "charts/controls/chart_type_info.h"

#include <iterator>

#include "plotwell/plotwell_interfaces.h"

namespace plotwell {

using namespace vyr::com;

namespace {

constexpr MemberDescription Get(DISPID id, const char* name, const char* help, VARTYPE type, int16_t slot) {
  return {id, INVOKE_PROPERTYGET, name, help, type, nullptr, 0, slot};
}
constexpr MemberDescription Put(DISPID id, const char* name, const char* help, VARTYPE type, int16_t slot) {
  return {id, INVOKE_PROPERTYPUT, name, help, type, nullptr, 0, slot};
}

constexpr ParamDescription kSetDataParams[] = {{"bstrData", VT_BSTR}};

// Slots 7 to 31, after IUnknown's three and IDispatch's four.
constexpr MemberDescription kLogChartMembers[] = {
    {DISPID_SETDATA, INVOKE_FUNC, "SetData", "Set chart data", VT_VOID, kSetDataParams, 1, 7},
    Get(DISPID_CHARTTYPE, "ChartType", "Type of the chart", VT_I2, 8),
    Put(DISPID_CHARTTYPE, "ChartType", "Type of the chart", VT_I2, 9),
    Get(DISPID_MEASURETYPE, "MeasureType", "Type of the measure", VT_I2, 10),
    Put(DISPID_MEASURETYPE, "MeasureType", "Type of the measure", VT_I2, 11),
    Get(DISPID_CAPTION, "Caption", "Caption", VT_BSTR, 12),
    Put(DISPID_CAPTION, "Caption", "Caption", VT_BSTR, 13),
    Get(DISPID_CHARTFILLCOLOR, "ChartFillColor", "Chart fill color", VT_UI4, 14),
    Put(DISPID_CHARTFILLCOLOR, "ChartFillColor", "Chart fill color", VT_UI4, 15),
    Get(DISPID_CHARTBKGCOLOR, "ChartBkgColor", "Chart background color", VT_UI4, 16),
    Put(DISPID_CHARTBKGCOLOR, "ChartBkgColor", "Chart background color", VT_UI4, 17),
    Get(DISPID_CHARTITEMHOLLOW, "ChartItemHollow", "Chart items are hollow (do not use fill color)", VT_BOOL, 18),
    Put(DISPID_CHARTITEMHOLLOW, "ChartItemHollow", "Chart items are hollow (do not use fill color)", VT_BOOL, 19),
    Get(DISPID_CHARTPENCOLOR, "ChartPenColor", "Chart pen color", VT_UI4, 20),
    Put(DISPID_CHARTPENCOLOR, "ChartPenColor", "Chart pen color", VT_UI4, 21),
    Get(DISPID_RULERBKGCOLOR, "RulerBkgColor", "Ruler background color", VT_UI4, 22),
    Put(DISPID_RULERBKGCOLOR, "RulerBkgColor", "Ruler background color", VT_UI4, 23),
    Get(DISPID_RULERPENCOLOR, "RulerPenColor", "Ruler pen color", VT_UI4, 24),
    Put(DISPID_RULERPENCOLOR, "RulerPenColor", "Ruler pen color", VT_UI4, 25),
    Get(DISPID_RULERALTCOLOR, "RulerAltColor", "Ruler alternative pen color", VT_UI4, 26),
    Put(DISPID_RULERALTCOLOR, "RulerAltColor", "Ruler alternative pen color", VT_UI4, 27),
    Get(DISPID_CHARTALTFILLCOLOR, "ChartAltFillColor", "Chart alternative fill color", VT_UI4, 28),
    Put(DISPID_CHARTALTFILLCOLOR, "ChartAltFillColor", "Chart alternative fill color", VT_UI4, 29),
    Get(DISPID_CHARTALTPENCOLOR, "ChartAltPenColor", "Chart alternative pen color", VT_UI4, 30),
    Put(DISPID_CHARTALTPENCOLOR, "ChartAltPenColor", "Chart alternative pen color", VT_UI4, 31),
};

constexpr MemberDescription kTimeSeriesMembers[] = {
    Get(DISPID_FILTERTYPE, "FilterType", "Type of time series filter", VT_I2, 32),
    Put(DISPID_FILTERTYPE, "FilterType", "Type of time series filter", VT_I2, 33),
    Get(DISPID_REGULARGRID, "RegularGrid", "Show data on regular grid", VT_BOOL, 34),
    Put(DISPID_REGULARGRID, "RegularGrid", "Show data on regular grid", VT_BOOL, 35),
};

constexpr MemberDescription kNNMembers[] = {
    Get(DISPID_LABELLENGTH, "LabelLength", "Maximum label length", VT_I4, 32),
    Put(DISPID_LABELLENGTH, "LabelLength", "Maximum label length", VT_I4, 33),
};

constexpr ParamDescription kTimeSeriesEventParams[] = {{"idxPosition", VT_I4}, {"tm", VT_I4},     {"nCount", VT_I4},
                                                       {"nVal", VT_I4},        {"wParam", VT_I4}, {"lParam", VT_I4}};
constexpr ParamDescription kNNEventParams[] = {{"idxPosition", VT_I4}, {"bstrName", VT_BSTR}, {"nCount", VT_I4},
                                               {"nVal", VT_I4},        {"wParam", VT_I4},     {"lParam", VT_I4}};

constexpr MemberDescription kTimeSeriesEvents[] = {
    {DISPID_ONMOUSEHOVER, INVOKE_FUNC, "OnMouseHover", "OnMouseHover event", VT_VOID, kTimeSeriesEventParams, 6, -1},
    {DISPID_ONMOUSECLICK, INVOKE_FUNC, "OnMouseClick", "OnMouseClick event", VT_VOID, kTimeSeriesEventParams, 6, -1},
    {DISPID_ONMOUSEDBLCLICK, INVOKE_FUNC, "OnMouseDblClick", "OnMouseDoubleClick event", VT_VOID,
     kTimeSeriesEventParams, 6, -1},
};

constexpr MemberDescription kNNEvents[] = {
    {DISPID_ONMOUSEHOVER, INVOKE_FUNC, "OnMouseHover", "OnMouseHover event", VT_VOID, kNNEventParams, 6, -1},
    {DISPID_ONMOUSECLICK, INVOKE_FUNC, "OnMouseClick", "OnMouseClick event", VT_VOID, kNNEventParams, 6, -1},
    {DISPID_ONMOUSEDBLCLICK, INVOKE_FUNC, "OnMouseDblClick", "OnMouseDoubleClick event", VT_VOID, kNNEventParams, 6,
     -1},
};

constexpr WORD kDualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;

constexpr TypeDescription kLogChartType = {
    TKIND_DISPATCH, IID_IVyrLogChart, "IVyrLogChart", "Vyr Log Chart Interface", kDualFlags, kTypeLibMajor,
    kTypeLibMinor, nullptr, kLogChartMembers, std::size(kLogChartMembers), nullptr, 0};

constexpr TypeDescription kTimeSeriesEventsType = {
    TKIND_DISPATCH, DIID__ITimeSeriesChartEvents, "_ITimeSeriesChartEvents", "Vyr Time Series Log Chart Events",
    TYPEFLAG_FDISPATCHABLE, kTypeLibMajor, kTypeLibMinor, nullptr, kTimeSeriesEvents, std::size(kTimeSeriesEvents),
    nullptr, 0};

constexpr TypeDescription kNNEventsType = {
    TKIND_DISPATCH, DIID__INNChartEvents, "_INNChartEvents", "Vyr Nonnumeric Log Chart Events", TYPEFLAG_FDISPATCHABLE,
    kTypeLibMajor, kTypeLibMinor, nullptr, kNNEvents, std::size(kNNEvents), nullptr, 0};

constexpr int32_t kDefaultSource = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
constexpr ImplTypeDescription kTimeSeriesImplTypes[] = {{&kTimeSeriesChartType, IMPLTYPEFLAG_FDEFAULT},
                                                        {&kTimeSeriesEventsType, kDefaultSource}};
constexpr ImplTypeDescription kNNImplTypes[] = {{&kNNChartType, IMPLTYPEFLAG_FDEFAULT},
                                                {&kNNEventsType, kDefaultSource}};

}  // namespace

const TypeDescription kTimeSeriesChartType = {
    TKIND_DISPATCH, IID_ITimeSeriesChart, "ITimeSeriesChart", "Vyr Time Series Log Chart Interface", kDualFlags,
    kTypeLibMajor, kTypeLibMinor, &kLogChartType, kTimeSeriesMembers, std::size(kTimeSeriesMembers), nullptr, 0};

const TypeDescription kNNChartType = {
    TKIND_DISPATCH, IID_INNChart, "INNChart", "Vyr Nonnumeric Log Chart Interface", kDualFlags, kTypeLibMajor,
    kTypeLibMinor, &kLogChartType, kNNMembers, std::size(kNNMembers), nullptr, 0};

const TypeDescription kTimeSeriesChartClassType = {
    TKIND_COCLASS, CLSID_TimeSeriesChart, "TimeSeriesChart", "Vyr Time Series Log Chart Control",
    TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL, kTypeLibMajor, kTypeLibMinor, nullptr, nullptr, 0, kTimeSeriesImplTypes,
    std::size(kTimeSeriesImplTypes)};

const TypeDescription kNNChartClassType = {
    TKIND_COCLASS, CLSID_NNChart, "NNChart", "Vyr Nonnumeric Log Chart Control", TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
    kTypeLibMajor, kTypeLibMinor, nullptr, nullptr, 0, kNNImplTypes, std::size(kNNImplTypes)};

}  // namespace plotwell
