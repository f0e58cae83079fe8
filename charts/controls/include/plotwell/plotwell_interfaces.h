#pragma once
// The public contract of the Plotwell chart library for containers: identifiers of the
// type library, interfaces, event interfaces and classes; the ProgIDs; the dispatch
// identifiers; and the two dual interfaces in slot order. A container needs only this
// header and the runtime's vyrcom/ headers (or, through IDispatch, only vyrcom/ and a
// class identifier). plotwell/plotwell.h includes all a container needs.
#include "vyrcom/com_interfaces.h"

namespace plotwell {

// "Vyr Plotwell 1.0 Type Library", version 1.0.
constexpr vyr::com::GUID LIBID_PLOTWELLLib = vyr::com::GuidLiteral("C7996958-DD1C-45DE-8CF4-07BC565A7174");
constexpr unsigned short kTypeLibMajor = 1;
constexpr unsigned short kTypeLibMinor = 0;

constexpr vyr::com::IID IID_IVyrLogChart = vyr::com::GuidLiteral("3EA70042-6588-4F9B-AE2A-561F306E419F");
constexpr vyr::com::IID IID_ITimeSeriesChart = vyr::com::GuidLiteral("A2A8038B-4C94-4085-A4C9-754B87246BE8");
constexpr vyr::com::IID IID_INNChart = vyr::com::GuidLiteral("EFCC95DE-2A08-49AA-9420-A6E84F98B346");
constexpr vyr::com::IID IID_IVyrChartSvg = vyr::com::GuidLiteral("434D6061-2373-4DCF-B0FF-5A47EEDBB79A");
constexpr vyr::com::IID DIID__ITimeSeriesChartEvents = vyr::com::GuidLiteral("1BD06EB4-E311-459D-915A-AE98A83F2355");
constexpr vyr::com::IID DIID__INNChartEvents = vyr::com::GuidLiteral("FA1E93FF-93F4-4BB4-A8D9-C940816207A2");

constexpr vyr::com::CLSID CLSID_TimeSeriesChart = vyr::com::GuidLiteral("F9B2ACDB-9182-4BC4-BAE4-7C630821317A");
constexpr vyr::com::CLSID CLSID_NNChart = vyr::com::GuidLiteral("F124BA1E-B0B0-415E-A4B1-86E122E8E51C");
constexpr vyr::com::CLSID CLSID_PPGeneral = vyr::com::GuidLiteral("55B85369-9ECC-470C-A394-D7C332CB92BD");
constexpr vyr::com::CLSID CLSID_PPTimeSeries = vyr::com::GuidLiteral("E19FFAF7-86A6-4C26-BF92-118C80B14CE7");
constexpr vyr::com::CLSID CLSID_PPLabels = vyr::com::GuidLiteral("CB7ECF94-5DD1-4547-B72E-59EDE2C88A48");
constexpr vyr::com::CLSID CLSID_PPAppear = vyr::com::GuidLiteral("E036C602-4E1C-408C-93FA-984798C82B6B");

constexpr const char* kProgIdTimeSeriesChart = "Plotwell.TimeSeriesChart.1";
constexpr const char* kProgIdNNChart = "Plotwell.NNChart.1";
constexpr const char* kProgIdTimeSeriesChartCurrent = "Plotwell.TimeSeriesChart";
constexpr const char* kProgIdNNChartCurrent = "Plotwell.NNChart";

// Dispatch identifiers of the dual interfaces.
enum ChartDispId : vyr::com::DISPID {
  DISPID_SETDATA = 1,
  DISPID_CHARTTYPE = 2,
  DISPID_FILTERTYPE = 3,
  DISPID_MEASURETYPE = 4,
  DISPID_REGULARGRID = 5,
  DISPID_CAPTION = 6,
  DISPID_CHARTFILLCOLOR = 7,
  DISPID_CHARTBKGCOLOR = 8,
  DISPID_CHARTITEMHOLLOW = 9,
  DISPID_CHARTPENCOLOR = 10,
  DISPID_RULERBKGCOLOR = 11,
  DISPID_RULERPENCOLOR = 12,
  DISPID_RULERALTCOLOR = 13,
  DISPID_CHARTALTFILLCOLOR = 14,
  DISPID_CHARTALTPENCOLOR = 15,
  DISPID_LABELLENGTH = 21,
};

// Methods of both event interfaces. Arguments, first to last (they arrive reversed in
// DISPPARAMS::rgvarg): idxPosition (VT_I4), tm (VT_I4, time series) or bstrName
// (VT_BSTR, non-numeric), nCount, nVal, wParam, lParam (all VT_I4).
enum ChartEventDispId : vyr::com::DISPID {
  DISPID_ONMOUSEHOVER = 1,
  DISPID_ONMOUSECLICK = 2,
  DISPID_ONMOUSEDBLCLICK = 3,
};

// Slots 7 to 31 after the seven of IDispatch.
struct IVyrLogChart : vyr::com::IDispatch {
  // Copies the document during the call (the caller frees its string). A rejected
  // document answers 0x90000001, or the failed number conversion's code, and leaves the
  // chart empty.
  virtual vyr::com::HRESULT SetData(vyr::com::BSTR bstrData) = 0;
  virtual vyr::com::HRESULT get_ChartType(vyr::com::SHORT* pVal) = 0;
  virtual vyr::com::HRESULT put_ChartType(vyr::com::SHORT newVal) = 0;
  virtual vyr::com::HRESULT get_MeasureType(vyr::com::SHORT* pVal) = 0;
  virtual vyr::com::HRESULT put_MeasureType(vyr::com::SHORT newVal) = 0;
  // The getter hands out a new string that the caller frees.
  virtual vyr::com::HRESULT get_Caption(vyr::com::BSTR* pVal) = 0;
  virtual vyr::com::HRESULT put_Caption(vyr::com::BSTR newVal) = 0;
  virtual vyr::com::HRESULT get_ChartFillColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_ChartFillColor(vyr::com::OLE_COLOR newVal) = 0;
  virtual vyr::com::HRESULT get_ChartBkgColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_ChartBkgColor(vyr::com::OLE_COLOR newVal) = 0;
  virtual vyr::com::HRESULT get_ChartItemHollow(vyr::com::BOOL* pVal) = 0;
  virtual vyr::com::HRESULT put_ChartItemHollow(vyr::com::BOOL newVal) = 0;
  virtual vyr::com::HRESULT get_ChartPenColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_ChartPenColor(vyr::com::OLE_COLOR newVal) = 0;
  virtual vyr::com::HRESULT get_RulerBkgColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_RulerBkgColor(vyr::com::OLE_COLOR newVal) = 0;
  virtual vyr::com::HRESULT get_RulerPenColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_RulerPenColor(vyr::com::OLE_COLOR newVal) = 0;
  virtual vyr::com::HRESULT get_RulerAltColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_RulerAltColor(vyr::com::OLE_COLOR newVal) = 0;
  virtual vyr::com::HRESULT get_ChartAltFillColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_ChartAltFillColor(vyr::com::OLE_COLOR newVal) = 0;
  virtual vyr::com::HRESULT get_ChartAltPenColor(vyr::com::OLE_COLOR* pVal) = 0;
  virtual vyr::com::HRESULT put_ChartAltPenColor(vyr::com::OLE_COLOR newVal) = 0;
};

// Slots 32 to 35.
struct ITimeSeriesChart : IVyrLogChart {
  virtual vyr::com::HRESULT get_FilterType(vyr::com::SHORT* pVal) = 0;
  virtual vyr::com::HRESULT put_FilterType(vyr::com::SHORT newVal) = 0;
  virtual vyr::com::HRESULT get_RegularGrid(vyr::com::BOOL* pVal) = 0;
  virtual vyr::com::HRESULT put_RegularGrid(vyr::com::BOOL newVal) = 0;
};

// Slots 32 and 33.
struct INNChart : IVyrLogChart {
  virtual vyr::com::HRESULT get_LabelLength(vyr::com::LONG* pVal) = 0;
  virtual vyr::com::HRESULT put_LabelLength(vyr::com::LONG newVal) = 0;
};

// Both controls also draw themselves as SVG, with the same painters as on screen: for
// pages and documents that carry the chart as markup. Reached by QueryInterface.
struct IVyrChartSvg : vyr::com::IUnknown {
  // The whole control, width x height pixels, as one <svg> element in UTF-8 text (a new
  // string the caller frees). E_INVALIDARG for a side outside 1..16384, E_UNEXPECTED
  // without a QGuiApplication (text is measured with its fonts).
  virtual vyr::com::HRESULT DrawSvg(vyr::com::LONG width, vyr::com::LONG height, vyr::com::BSTR* pSvg) = 0;
};

}  // namespace plotwell
