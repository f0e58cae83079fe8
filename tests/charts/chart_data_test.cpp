// Reading the chart data document into both data models.
#include <gtest/gtest.h>

#include <string>

#include "charts/chart_data.h"
#include "chart_test_support.h"

namespace plotwell {
namespace {

using namespace test;

HRESULT LoadResult(ChartData& data, const QString& text) { return data.TryLoad(text); }

TEST(ChartDocument, EmptyRootLoadsNothingWithZeroExtremes) {
  TimeSeriesData series;
  NonNumericData labels;
  for (ChartData* data : {static_cast<ChartData*>(&series), static_cast<ChartData*>(&labels)}) {
    EXPECT_EQ(LoadResult(*data, "<VYR_CHART_DATA/>"), S_OK);
    EXPECT_EQ(data->Entries(), 0);
    EXPECT_EQ(ExtremesOf(*data), Extremes());
  }
  EXPECT_EQ(series.Samples(), 0);
}

TEST(ChartDocument, ElementNamesIgnoreCaseButAttributeNamesDoNot) {
  TimeSeriesData data;
  ASSERT_EQ(LoadResult(data, "<vyr_chart_data><itm TM='0'>4</itm><Itm TM='7200'>5</Itm>"
                             "</vyr_chart_data>"),
            S_OK);
  EXPECT_EQ(data.Samples(), 2);

  // A lower-case tm is not the TM attribute: the item has no time.
  EXPECT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM tm='0'>4</ITM></VYR_CHART_DATA>"),
            E_CHARTDATA);
  EXPECT_EQ(data.Samples(), 0);
  EXPECT_EQ(data.Entries(), 0);
  EXPECT_EQ(data.MaxValue(), 0);

  NonNumericData labels;
  ASSERT_EQ(LoadResult(labels, "<VYR_CHART_DATA><ITM lbl='x' cnt='5'>4</ITM></VYR_CHART_DATA>"),
            S_OK);
  EXPECT_STREQ(labels.LabelAt(0), "");  // lbl is not LBL
  EXPECT_EQ(labels.CountAt(0), 1);      // cnt is not CNT
}

TEST(ChartDocument, RejectsWrongRootAndIllFormedText) {
  NonNumericData data;
  ASSERT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM LBL='a'>1</ITM></VYR_CHART_DATA>"), S_OK);
  EXPECT_EQ(LoadResult(data, "<CHART><ITM LBL='a'>1</ITM></CHART>"), E_CHARTDATA);
  EXPECT_EQ(data.Entries(), 0);

  ASSERT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM LBL='a'>1</ITM></VYR_CHART_DATA>"), S_OK);
  // An unescaped '<' inside a label makes the document ill-formed.
  EXPECT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM LBL='a<b'>1</ITM></VYR_CHART_DATA>"),
            E_CHARTDATA);
  EXPECT_EQ(data.Entries(), 0);
  EXPECT_EQ(data.MaxValue(), 0);

  EXPECT_EQ(LoadResult(data, ""), E_CHARTDATA);
  EXPECT_EQ(LoadResult(data, "<VYR_CHART_DATA>"), E_CHARTDATA);
}

TEST(ChartDocument, SkipsOtherNodesAndDefaultsMissingParts) {
  TimeSeriesData data;
  ASSERT_EQ(LoadResult(data,
                       "<VYR_CHART_DATA>\n  <!-- first -->\n  <ITM TM='3600'/>\n"
                       "  <OTHER TM='0'>99</OTHER>\n  <ITM TM='0'><!-- c -->12</ITM>\n"
                       "</VYR_CHART_DATA>"),
            S_OK);
  ASSERT_EQ(data.Samples(), 2);
  EXPECT_EQ(Column(data, &TimeSeriesData::SampleTime, 2), (Numbers{0, 3600}));
  // The first text child, after a comment; without text the value is 0.
  EXPECT_EQ(Column(data, &TimeSeriesData::SampleValue, 2), (Numbers{12, 0}));
  EXPECT_EQ(data.SampleCount(1), 1);  // no CNT: count 1
  EXPECT_EQ(data.SampleAlt(1), 0);
}

TEST(ChartDocument, CountAndAlternativeFlagRules) {
  NonNumericData data;
  ASSERT_EQ(LoadResult(data,
                       "<VYR_CHART_DATA><ITM CNT='0'>1</ITM><ITM CNT='-4'>2</ITM>"
                       "<ITM CNT='3' ALT='0'>3</ITM><ITM ALT='2'>4</ITM><ITM ALT='1'>5</ITM>"
                       "</VYR_CHART_DATA>"),
            S_OK);
  ASSERT_EQ(data.Entries(), 5);
  EXPECT_EQ(Column(data, &NonNumericData::CountAt, 5), (Numbers{0, 0, 3, 1, 1}));
  EXPECT_EQ(Column(data, &NonNumericData::AltAt, 5), (Numbers{0, 0, 0, 1, 1}));
  EXPECT_EQ(ExtremesOf(data), (Extremes{0, 3, 1, 5}));
}

TEST(ChartDocument, TimeSamplesAreSortedStably) {
  TimeSeriesData data;
  ASSERT_EQ(LoadResult(data,
                       "<VYR_CHART_DATA><ITM TM='30'>1</ITM><ITM TM='10'>2</ITM>"
                       "<ITM TM='20'>3</ITM><ITM TM='10'>4</ITM></VYR_CHART_DATA>"),
            S_OK);
  ASSERT_EQ(data.Samples(), 4);
  EXPECT_EQ(Column(data, &TimeSeriesData::SampleTime, 4), (Numbers{10, 10, 20, 30}));
  // The first 10 is the document's second item.
  EXPECT_EQ(Column(data, &TimeSeriesData::SampleValue, 4), (Numbers{2, 4, 3, 1}));
}

TEST(ChartDocument, TimeItemWithoutTimeRejectsTheDocument) {
  TimeSeriesData data;
  EXPECT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM TM='0'>1</ITM><ITM>2</ITM></VYR_CHART_DATA>"),
            E_CHARTDATA);
  EXPECT_EQ(data.Samples(), 0);
  // The label flavour ignores TM and the time flavour ignores LBL.
  NonNumericData labels;
  EXPECT_EQ(LoadResult(labels, "<VYR_CHART_DATA><ITM TM='x'>2</ITM></VYR_CHART_DATA>"), S_OK);
  EXPECT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM TM='5' LBL='x'>2</ITM></VYR_CHART_DATA>"),
            S_OK);
}

TEST(ChartDocument, NumbersThatDoNotConvertRejectTheDocument) {
  EXPECT_EQ(ConvertToInt32(u"17"), 17);
  EXPECT_EQ(ConvertToInt32(u" -2147483648 "), INT32_MIN);
  EXPECT_EQ(ConvertToInt32(u"+2147483647"), INT32_MAX);
  const auto code = [](const char* text) {
    return CatchChartFailure([&] { ConvertToInt32(QString::fromUtf8(text)); });
  };
  EXPECT_EQ(code("2147483648"), DISP_E_OVERFLOW);
  EXPECT_EQ(code("-99999999999999999999"), DISP_E_OVERFLOW);
  EXPECT_EQ(code("abc"), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(code("1 2"), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(code("-"), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(code(""), DISP_E_TYPEMISMATCH);

  NonNumericData data;
  ASSERT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM>1</ITM></VYR_CHART_DATA>"), S_OK);
  EXPECT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM>1</ITM><ITM>x</ITM></VYR_CHART_DATA>"),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(data.Entries(), 0);
  TimeSeriesData series;
  EXPECT_EQ(LoadResult(series, "<VYR_CHART_DATA><ITM TM='4294967296'>1</ITM></VYR_CHART_DATA>"),
            DISP_E_OVERFLOW);
  EXPECT_EQ(LoadResult(series, "<VYR_CHART_DATA><ITM TM='1' CNT='1.5'>1</ITM></VYR_CHART_DATA>"),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(LoadResult(series, "<VYR_CHART_DATA><ITM TM='1' ALT='yes'>1</ITM></VYR_CHART_DATA>"),
            DISP_E_TYPEMISMATCH);
}

TEST(ChartDocument, LabelsAreUnescapedAndKeptInThePool) {
  NonNumericData data;
  ASSERT_EQ(LoadResult(data,
                       QString::fromUtf8("<VYR_CHART_DATA><ITM LBL='Mozilla'>12</ITM>"
                                         "<ITM LBL='Tom &#x0026; Jerry'>3</ITM><ITM>1</ITM>"
                                         "<ITM LBL='Zürich \"x\"'>1</ITM></VYR_CHART_DATA>")),
            S_OK);
  ASSERT_EQ(data.Entries(), 4);
  EXPECT_STREQ(data.LabelAt(0), "Mozilla");
  EXPECT_STREQ(data.LabelAt(1), "Tom & Jerry");
  EXPECT_STREQ(data.LabelAt(2), "");
  EXPECT_EQ(data.LabelTextAt(3), QString::fromUtf8("Zürich \"x\""));
  EXPECT_EQ(data.LabelPoolUsed(), 8u + 12u + 1u + 12u);
}

TEST(ChartDocument, LabelPoolGrowsByBlockOrByTheLongLabel) {
  NonNumericData data;
  ASSERT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM LBL='ab'/></VYR_CHART_DATA>"), S_OK);
  EXPECT_EQ(data.LabelPoolCapacity(), NonNumericData::kLabelPoolGrowth);

  // Fill the pool to the byte, then one more short label needs a second block.
  const int fill = static_cast<int>(NonNumericData::kLabelPoolGrowth) - 1;
  const QString exact = "<VYR_CHART_DATA><ITM LBL='" + QString(fill, 'x') + "'/><ITM LBL='y'/>"
                        "</VYR_CHART_DATA>";
  ASSERT_EQ(LoadResult(data, exact), S_OK);
  EXPECT_EQ(data.LabelPoolUsed(), NonNumericData::kLabelPoolGrowth + 2);
  EXPECT_EQ(data.LabelPoolCapacity(), 2 * NonNumericData::kLabelPoolGrowth);

  // A label longer than a block grows the pool by exactly its length plus one.
  NonNumericData fresh;
  const int longLength = 0x5000;
  const QString longDoc =
      "<VYR_CHART_DATA><ITM LBL='" + QString(longLength, 'z') + "'/></VYR_CHART_DATA>";
  ASSERT_EQ(LoadResult(fresh, longDoc), S_OK);
  EXPECT_EQ(fresh.LabelPoolCapacity(), static_cast<std::size_t>(longLength + 1));
  EXPECT_EQ(std::string(fresh.LabelAt(0)).size(), static_cast<std::size_t>(longLength));
}

TEST(ChartDocument, AccessorsRejectIndexesOutsideTheEntries) {
  NonNumericData data;
  ASSERT_EQ(LoadResult(data, "<VYR_CHART_DATA><ITM>1</ITM></VYR_CHART_DATA>"), S_OK);
  EXPECT_EQ(CatchChartFailure([&] { data.ValueAt(1); }), E_INVALIDARG);
  EXPECT_EQ(CatchChartFailure([&] { data.CountAt(-1); }), E_INVALIDARG);
  EXPECT_EQ(CatchChartFailure([&] { data.AltAt(1); }), E_INVALIDARG);
  EXPECT_EQ(CatchChartFailure([&] { data.LabelAt(1); }), E_INVALIDARG);
  TimeSeriesData series;
  EXPECT_EQ(CatchChartFailure([&] { series.SampleTime(0); }), E_INVALIDARG);
  EXPECT_EQ(CatchChartFailure([&] { series.BucketTime(0); }), E_INVALIDARG);
}

// Plain documents are read without the DOM; anything unusual goes through it. Both
// roads must accept, reject and read alike.
TEST(ChartDocument, PlainAndGeneralDocumentsReadAlike) {
  const QString plain[] = {
      "<VYR_CHART_DATA><ITM LBL='a' CNT='2' ALT='1'>5</ITM><ITM>7</ITM></VYR_CHART_DATA>",
      "  <vyr_chart_data>\n <ITM LBL=\"x &amp; y &lt;&gt;&apos;&quot;\">-3</ITM>\n"
      "<ITM LBL='&#x41;&#66;'> 4 </ITM> </vyr_chart_data>\n",
      "<VYR_CHART_DATA><ITM LBL='n'><B>9</B>1&#50;</ITM><X>8</X>text<ITM/></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM LBL='>' x='1' >2</ITM ></VYR_CHART_DATA>",
  };
  for (const QString& doc : plain) {
    QStringView root;
    int children = 0;
    EXPECT_TRUE(ChartDocumentScanner(doc).Scan(nullptr, &root, &children)) << doc.toStdString();
    // A comment inside the root sends the same content through the DOM.
    QString general = doc;
    general.insert(general.indexOf('>') + 1, "<!-- c -->");
    EXPECT_FALSE(ChartDocumentScanner(general).Scan(nullptr, &root, &children));
    NonNumericData fast;
    NonNumericData dom;
    ASSERT_EQ(fast.TryLoad(doc), S_OK) << doc.toStdString();
    ASSERT_EQ(dom.TryLoad(general), S_OK) << general.toStdString();
    ASSERT_EQ(fast.Entries(), dom.Entries());
    for (int i = 0; i < fast.Entries(); ++i) {
      EXPECT_STREQ(fast.LabelAt(i), dom.LabelAt(i));
      EXPECT_EQ(fast.ValueAt(i), dom.ValueAt(i));
      EXPECT_EQ(fast.CountAt(i), dom.CountAt(i));
      EXPECT_EQ(fast.AltAt(i), dom.AltAt(i));
    }
  }
  NonNumericData check;
  ASSERT_EQ(check.TryLoad(plain[1]), S_OK);
  EXPECT_STREQ(check.LabelAt(0), "x & y <>'\"");
  EXPECT_STREQ(check.LabelAt(1), "AB");
  ASSERT_EQ(check.TryLoad(plain[2]), S_OK);
  EXPECT_EQ(check.ValueAt(0), 12);  // the first text child, not the nested element's
  EXPECT_EQ(check.ValueAt(1), 0);

  const char* illFormed[] = {
      "<VYR_CHART_DATA><ITM LBL='a' LBL='b'>1</ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM>1</itm></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM>]]></ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM>&nbsp;</ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM>&#0;</ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM>& 1</ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM LBL=a>1</ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM LBL='a'CNT='1'>1</ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA/>x",
      "<VYR_CHART_DATA/><VYR_CHART_DATA/>",
      "<VYR_CHART_DATA><ITM LBL='a>1</ITM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><1TM>1</1TM></VYR_CHART_DATA>",
      "<VYR_CHART_DATA><ITM>1</ITM>",
  };
  for (const char* doc : illFormed) {
    NonNumericData data;
    EXPECT_EQ(data.TryLoad(QString::fromUtf8(doc)), E_CHARTDATA) << doc;
  }
  NonNumericData data;
  EXPECT_EQ(data.TryLoad(QString::fromUtf16(u"<VYR_CHART_DATA><ITM>\x0001</ITM></VYR_CHART_DATA>")),
            E_CHARTDATA);
  EXPECT_TRUE(Failed(
      data.TryLoad(QString::fromUtf16(u"<VYR_CHART_DATA><ITM>\xD800</ITM></VYR_CHART_DATA>"))));
}

}  // namespace
}  // namespace plotwell
