#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace weavil::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "weavil-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void CopyTemplateDatabase(const std::string& path) {
  std::error_code ec;
  fs::copy_file(WEAVIL_DB_TEMPLATE, path, fs::copy_options::overwrite_existing, ec);
  if (ec) throw std::runtime_error("cannot copy " + std::string(WEAVIL_DB_TEMPLATE) + ": " + ec.message());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string BuildBinDir() { return WEAVIL_BIN_DIR; }

}  // namespace weavil::test
