#pragma once
// Creation of the library's six classes, for the class factories.
#include "vyrcom/com_interfaces.h"

namespace plotwell {

vyr::com::HRESULT CreateTimeSeriesChart(vyr::com::IUnknown* outer, const vyr::com::IID& iid, void** object);
vyr::com::HRESULT CreateNNChart(vyr::com::IUnknown* outer, const vyr::com::IID& iid, void** object);
// PPGeneral, PPTimeSeries, PPLabels or PPAppear; CLASS_E_CLASSNOTAVAILABLE for others.
vyr::com::HRESULT CreatePropertyPage(const vyr::com::CLSID& clsid, vyr::com::IUnknown* outer,
                                     const vyr::com::IID& iid, void** object);

}  // namespace plotwell
