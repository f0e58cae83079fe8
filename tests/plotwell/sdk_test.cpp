// The chart library as a third party meets it: installed into a temporary prefix, the
// example container copied out of the prefix, built with pkg-config alone and run.
#include <gtest/gtest.h>

#include <QImage>
#include <QSet>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using weavil::test::Shell;

using weavil::test::ReadFile;

class InstalledKit : public ::testing::Test {
 protected:
  void SetUp() override {
    int status = 0;
    std::string log = Shell(std::string("'") + WEAVIL_CMAKE + "' --install '" + WEAVIL_BUILD_DIR + "' --prefix " +
                              prefix_.Path() + " --component plotwell",
                          &status);
    ASSERT_EQ(status, 0) << log;
    lib_ = prefix_.Path() + "/" + WEAVIL_INSTALL_LIBDIR;
    fs::copy(prefix_.Path() + "/share/doc/plotwell/examples/chart-container", work_.File("chart-container"),
             fs::copy_options::recursive);
  }
  weavil::test::TempDir prefix_, work_;
  std::string lib_;
};

}  // namespace

TEST_F(InstalledKit, HoldsTheLibrariesWithTheirNamesAndExportsOnly) {
  for (const char* file : {"/libplotwell.so", "/libvyrcom.so", "/libvyrcom.so.1", "/pkgconfig/plotwell.pc",
                           "/cmake/Plotwell/PlotwellConfig.cmake", "/cmake/Plotwell/PlotwellTargets.cmake"})
    EXPECT_TRUE(fs::exists(lib_ + file)) << file;
  for (const char* file : {"/include/plotwell/plotwell.h", "/include/vyrcom/com_types.h",
                           "/share/doc/plotwell/plotwell.md"})
    EXPECT_TRUE(fs::exists(prefix_.Path() + file)) << file;

  int status = 0;
  std::string runtime = Shell("objdump -p " + lib_ + "/libvyrcom.so", &status);
  EXPECT_NE(runtime.find("SONAME               libvyrcom.so.1"), std::string::npos) << runtime;
  // The chart library finds the runtime beside itself, wherever the prefix is.
  std::string charts = Shell("objdump -p " + lib_ + "/libplotwell.so", &status);
  EXPECT_NE(charts.find("RUNPATH              $ORIGIN\n"), std::string::npos) << charts;
  EXPECT_NE(charts.find("NEEDED               libvyrcom.so.1"), std::string::npos);

  // The chart library exports its four entry points; the runtime only its own namespace.
  std::string entries = Shell("nm -D --defined-only " + lib_ + "/libplotwell.so | awk '{print $3}' | sort", &status);
  EXPECT_EQ(entries, "DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer\n");
  std::string foreign = Shell("nm -D --defined-only -C " + lib_ +
                                "/libvyrcom.so | cut -c20- | grep -v -e '^VYRCOM_1$' -e 'vyr::com::'",
                            &status);
  EXPECT_EQ(foreign, "");
}

TEST_F(InstalledKit, ExampleBuiltWithPkgConfigDrawsClicksAndShowsPages) {
  const std::string folder = work_.File("chart-container");
  const std::string pkgConfig = "PKG_CONFIG_PATH=" + lib_ + "/pkgconfig pkg-config --cflags --libs plotwell";
  int status = 0;
  std::string flags = Shell(pkgConfig, &status);
  ASSERT_EQ(status, 0) << flags;
  EXPECT_EQ(flags.find(WEAVIL_SOURCE_DIR), std::string::npos) << flags;
  EXPECT_EQ(flags.find(WEAVIL_BUILD_DIR), std::string::npos) << flags;

  std::string build = Shell("cd " + folder + " && '" + WEAVIL_CXX + "' -std=c++20 " + WEAVIL_EXTRA_FLAGS +
                              " main.cpp $(" + pkgConfig + ") -o chart-container",
                          &status);
  ASSERT_EQ(status, 0) << build;

  const std::string png = work_.File("charts.png");
  std::string run = Shell("cd " + folder + " && XDG_DATA_HOME=" + work_.File("data") + " LD_LIBRARY_PATH=" + lib_ +
                            " QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 ./chart-container " + png,
                        &status);
  ASSERT_EQ(status, 0) << run;
  EXPECT_NE(run.find("items OnMouseClick: item "), std::string::npos) << run;
  EXPECT_NE(run.find("property pages: General, Time Series, Appearance"), std::string::npos) << run;
  // It registered the installed library, found beside the installed runtime.
  EXPECT_NE(ReadFile(work_.File("data/Vyr/components.ini")).find("=" + lib_ + "/libplotwell.so"), std::string::npos);

  QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.size(), QSize(840, 300));
  QSet<QRgb> colours;
  int ruler = 0;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) {
      QRgb c = image.pixel(x, y) & 0xFFFFFF;
      colours.insert(c);
      if (c == 0xCFDACD) ++ruler;  // the default ruler background 0xCDDACF (0x00BBGGRR)
    }
  }
  EXPECT_GT(colours.size(), 20);
  EXPECT_GT(ruler, 5000) << "both charts' rulers";
}

TEST_F(InstalledKit, CMakePackageGivesTheTargetsAndTheModule) {
  int status = 0;
  std::string log = Shell("'" + std::string(WEAVIL_CMAKE) + "' -S " + work_.File("chart-container") + " -B " +
                            work_.File("build") + " -G Ninja -DCMAKE_PREFIX_PATH=" + prefix_.Path() +
                            " --log-level=ERROR",
                        &status);
  ASSERT_EQ(status, 0) << log;
  std::string cache = ReadFile(work_.File("build/CMakeCache.txt"));
  EXPECT_NE(cache.find("Plotwell_DIR:PATH=" + lib_ + "/cmake/Plotwell"), std::string::npos) << cache;
}
