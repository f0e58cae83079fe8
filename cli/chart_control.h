#pragma once
// The chart controls as the commands use them: created by class identifier exactly as
// the window creates its charts (registering libplotwell.so when the class is not
// registered yet), properties set by name, and failures told in words.
#include <memory>
#include <string>
#include <string_view>

#include "component/com_ptr.h"

class QGuiApplication;

namespace weavil {

inline constexpr const char* kTimeSeriesChartClass = "{F9B2ACDB-9182-4BC4-BAE4-7C630821317A}";
inline constexpr const char* kItemsChartClass = "{F124BA1E-B0B0-415E-A4B1-86E122E8E51C}";

// Drawing text needs a GUI application object; batch drawing needs no display, so one
// on the offscreen platform is made when there is none (kept in holder).
void EnsureGuiApplication(std::unique_ptr<QGuiApplication>& holder);

// Creates the control; false with the reason in error when it cannot be had.
bool CreateChartControl(const std::string& programDir, const char* classId,
                        vyr::com::ComPtr<vyr::com::IDispatch>& control, std::string& error);

// Sets a property (or calls a method) by name with a text argument, which the control
// converts to the member's type. unknownName: the control has no such member.
vyr::com::HRESULT InvokeWithText(vyr::com::IDispatch* control, const std::string& name, vyr::com::WORD flags,
                                 const std::string& text, bool* unknownName);

// The code in hexadecimal with what it means, for example
// "0x80040154 (the class is not registered)".
std::string ChartResultText(vyr::com::HRESULT hr);

// What is wrong with a chart data document the control rejected: the line and column
// of an XML error, a wrong root element, or the first item whose time, count or value
// is missing or not a whole number. Empty when nothing is found.
std::string ChartDocumentProblem(std::string_view document, bool timeSeries);

}  // namespace weavil
