#pragma once
// The per-user component registry: one INI file, $XDG_DATA_HOME/Vyr/components.ini
// (~/.local/share/Vyr/components.ini by default). Each section is a key path such as
// "CLSID\{...}\InprocServer32"; "@" names a key's default value. A key exists when it
// or one of its subkeys has a section. Key and value names compare without regard to
// case, as the platform's registry does.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "vyrcom/com_types.h"

namespace vyr::com {

struct VYRCOM_API CaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

class VYRCOM_API RegistryData {
 public:
  // Creates the key (its section) when missing.
  void CreateKey(const std::string& key);
  // name "" or "@": the default value. Creates the key.
  void SetValue(const std::string& key, const std::string& name, const std::string& value);
  bool GetValue(const std::string& key, const std::string& name, std::string* value) const;
  bool KeyExists(const std::string& key) const;
  // Removes the key, its values and every subkey.
  void DeleteTree(const std::string& key);
  // Values of one key in the order they were set.
  std::vector<std::pair<std::string, std::string>> Values(const std::string& key) const;

  std::string Serialize() const;
  // False with a message naming the line when the text is not a registry file.
  bool Parse(const std::string& text, std::string* error);

  bool operator==(const RegistryData& other) const;

 private:
  struct Key {
    std::string name;  // as first written
    std::vector<std::pair<std::string, std::string>> values;
  };
  std::map<std::string, Key, CaseLess> keys_;
};

// The registry file of this user; the folder is created when a change is written.
VYRCOM_API std::string ComponentRegistryPath();

// Reads the file (a missing file is an empty registry).
VYRCOM_API HRESULT LoadRegistry(RegistryData* data);
// Reads, lets change alter the data, and writes it back, all under an exclusive lock
// of the file so that concurrent registrations do not lose each other's keys. The file
// is replaced atomically.
VYRCOM_API HRESULT UpdateRegistry(const std::function<HRESULT(RegistryData&)>& change);

// One value, read straight from the file.
VYRCOM_API bool ReadRegistryValue(const std::string& key, const std::string& name, std::string* value);

}  // namespace vyr::com
