#pragma once
// Shared test helpers: temporary folders and fresh database files from the template.
#include <string>

namespace weavil::test {

// A new empty folder under the system's temporary folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Copies the generated database template to path.
void CopyTemplateDatabase(const std::string& path);

// Writes text to a file (binary, exactly as given).
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// The program folder of the build (bin/), where weavil and db/log.db are.
std::string BuildBinDir();

}  // namespace weavil::test
