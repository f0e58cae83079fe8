#include "cli/chart_control.h"

#include <QGuiApplication>
#include <QString>
#include <QXmlStreamReader>

#include <cstdlib>

#include "component/instance.h"
#include "settings/program_folders.h"

namespace weavil {

namespace com = vyr::com;

namespace {

constexpr com::HRESULT kChartDataRejected = static_cast<com::HRESULT>(0x90000001u);

// "" when text holds a whole number in 32 bits, else what is wrong with it.
std::string NumberProblem(QStringView text) {
  QString trimmed = text.trimmed().toString();
  if (trimmed.startsWith(u'+')) trimmed.remove(0, 1);
  bool ok = false;
  qlonglong value = trimmed.toLongLong(&ok);
  if (!ok || trimmed.isEmpty() || trimmed.contains(u' ')) return "is not a whole number";
  if (value > INT32_MAX || value < INT32_MIN) return "does not fit in 32 bits";
  return {};
}

}  // namespace

void EnsureGuiApplication(std::unique_ptr<QGuiApplication>& holder) {
  if (QGuiApplication::instance()) return;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "weavil";
  static char* argv[] = {name, nullptr};
  holder = std::make_unique<QGuiApplication>(argc, argv);
}

bool CreateChartControl(const std::string& programDir, const char* classId, com::ComPtr<com::IDispatch>& control,
                        std::string& error) {
  com::HRESULT hr = com::CreateInstance(classId, com::IID_IDispatch, control.PutVoid());
  if (com::SUCCEEDED(hr)) return true;
  // Not registered yet (or registered elsewhere): register the library we ship, once.
  std::string library = ChartLibraryFile(programDir, com::RuntimeFolder());
  com::HRESULT registered = com::RegisterServer(library);
  if (com::SUCCEEDED(registered)) hr = com::CreateInstance(classId, com::IID_IDispatch, control.PutVoid());
  if (com::SUCCEEDED(hr)) return true;
  error = std::string("cannot create the chart control ") + classId + ": " + ChartResultText(hr);
  if (com::FAILED(registered)) error += " (registering " + library + ": " + ChartResultText(registered) + ")";
  return false;
}

com::HRESULT InvokeWithText(com::IDispatch* control, const std::string& name, com::WORD flags,
                            const std::string& text, bool* unknownName) {
  std::u16string wide = com::Utf16FromUtf8(name);
  com::LPOLESTR names[] = {wide.data()};
  com::DISPID id = com::DISPID_UNKNOWN;
  *unknownName = false;
  if (com::FAILED(control->GetIDsOfNames(com::IID_NULL, names, 1, com::LOCALE_USER_DEFAULT, &id))) {
    *unknownName = true;
    return com::DISP_E_UNKNOWNNAME;
  }
  com::VARIANT argument;
  com::VariantInit(&argument);
  argument.vt = com::VT_BSTR;
  argument.bstrVal = com::BstrFromUtf8(text);
  if (!argument.bstrVal) return com::E_OUTOFMEMORY;
  com::DISPID named = com::DISPID_PROPERTYPUT;
  com::DISPPARAMS params{&argument, flags == com::DISPATCH_PROPERTYPUT ? &named : nullptr, 1,
                         flags == com::DISPATCH_PROPERTYPUT ? 1u : 0u};
  com::VARIANT result;
  com::VariantInit(&result);
  com::HRESULT hr = control->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT, flags, &params, &result, nullptr,
                                    nullptr);
  com::VariantClear(&result);
  // The library copies the text during the call; ours is freed afterwards.
  com::VariantClear(&argument);
  return hr;
}

namespace {

// What the codes the commands meet mean, in words.
struct ResultMeaning {
  com::HRESULT code;
  const char* meaning;
};
constexpr ResultMeaning kResultMeanings[] = {
    {com::REGDB_E_CLASSNOTREG, "the class is not registered"},
    {com::CO_E_DLLNOTFOUND, "the registered library file cannot be loaded"},
    {com::CO_E_ERRORINDLL, "the library lacks its entry points"},
    {com::CLASS_E_CLASSNOTAVAILABLE, "the library does not serve this class"},
    {com::SELFREG_E_CLASS, "the component registry cannot be written"},
    {com::E_NOINTERFACE, "the control lacks the interface"},
    {com::E_INVALIDARG, "the value is out of range"},
    {com::E_UNEXPECTED, "no GUI application to measure text with"},
    {com::E_OUTOFMEMORY, "out of memory"},
    {com::DISP_E_TYPEMISMATCH, "not a whole number"},
    {com::DISP_E_OVERFLOW, "a number does not fit in 32 bits"},
    {com::DISP_E_UNKNOWNNAME, "no such property"},
    {com::DISP_E_MEMBERNOTFOUND, "the property cannot be set that way"},
    {kChartDataRejected, "the chart data document was rejected"},
};

}  // namespace

std::string ChartResultText(com::HRESULT hr) {
  std::string text = com::HResultText(hr);
  for (const ResultMeaning& known : kResultMeanings)
    if (known.code == hr) return text + " (" + known.meaning + ")";
  return text;
}

std::string ChartDocumentProblem(std::string_view document, bool timeSeries) {
  QXmlStreamReader xml(QString::fromUtf8(document.data(), static_cast<qsizetype>(document.size())));
  int depth = 0, items = 0;
  auto at = [&] { return "line " + std::to_string(xml.lineNumber()) + ", column " + std::to_string(xml.columnNumber()); };
  while (!xml.atEnd()) {
    QXmlStreamReader::TokenType token = xml.readNext();
    if (token == QXmlStreamReader::EndElement) {
      --depth;
      continue;
    }
    if (token != QXmlStreamReader::StartElement) continue;
    ++depth;
    QString name = xml.name().toString();
    if (depth == 1 && name.compare(QLatin1String("VYR_CHART_DATA"), Qt::CaseInsensitive) != 0)
      return "the root element is <" + name.toStdString() + ">, not <VYR_CHART_DATA>";
    if (depth != 2 || name.compare(QLatin1String("ITM"), Qt::CaseInsensitive) != 0) continue;
    ++items;
    std::string item = "item " + std::to_string(items) + " (" + at() + ")";
    QXmlStreamAttributes attributes = xml.attributes();
    if (timeSeries && !attributes.hasAttribute(QLatin1String("TM"))) return item + " has no TM attribute (its time)";
    for (const char* attribute : {"TM", "CNT", "ALT"}) {
      if (!attributes.hasAttribute(QLatin1String(attribute))) continue;
      std::string problem = NumberProblem(attributes.value(QLatin1String(attribute)));
      if (!problem.empty())
        return item + ": " + attribute + "='" + attributes.value(QLatin1String(attribute)).toString().toStdString() +
               "' " + problem;
    }
    QString value = xml.readElementText(QXmlStreamReader::SkipChildElements);
    --depth;
    if (!value.isEmpty()) {
      std::string problem = NumberProblem(value);
      if (!problem.empty()) return item + ": the value '" + value.toStdString() + "' " + problem;
    }
  }
  if (xml.hasError()) return at() + ": " + xml.errorString().toStdString();
  return {};
}

}  // namespace weavil
