#include "vyrcom/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "owned_fd.h"
#include "text_case.h"

namespace vyr::com {

namespace {

std::string NormalName(const std::string& name) { return name == "@" ? std::string() : name; }

bool ValidKey(const std::string& key) {
  return !key.empty() && key.find_first_of("\r\n") == std::string::npos && key.front() != '\\' &&
         key.back() != '\\';
}

// Names and values may hold any byte: backslash, line breaks and (in names) '=' are
// escaped so that one line holds one value.
std::string Escape(const std::string& text, bool isName) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '=':
        if (isName) out += "\\e";
        else out += c;
        break;
      default: out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out->push_back(text[i]);
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '\\': out->push_back('\\'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 'e': out->push_back('='); break;
      default: return false;
    }
  }
  return true;
}

bool MakeFolders(const std::string& path) {
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
    std::string part = path.substr(0, at);
    if (part.empty()) continue;
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool ReadWhole(const std::string& path, std::string* text, bool* missing) {
  std::ifstream in(path, std::ios::binary);
  *missing = false;
  if (!in) {
    *missing = errno == ENOENT;
    return *missing;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return !in.bad();
}

}  // namespace

bool CaseLess::operator()(const std::string& a, const std::string& b) const { return CompareNoCase(a, b) < 0; }

void RegistryData::CreateKey(const std::string& key) {
  if (!ValidKey(key)) return;
  auto& entry = keys_[key];
  if (entry.name.empty()) entry.name = key;
}

void RegistryData::SetValue(const std::string& key, const std::string& name, const std::string& value) {
  if (!ValidKey(key)) return;
  CreateKey(key);
  auto& values = keys_[key].values;
  std::string n = NormalName(name);
  for (auto& entry : values) {
    if (CompareNoCase(entry.first, n) == 0) {
      entry.second = value;
      return;
    }
  }
  values.emplace_back(n, value);
}

bool RegistryData::GetValue(const std::string& key, const std::string& name, std::string* value) const {
  auto found = keys_.find(key);
  if (found == keys_.end()) return false;
  std::string n = NormalName(name);
  for (const auto& entry : found->second.values) {
    if (CompareNoCase(entry.first, n) == 0) {
      if (value) *value = entry.second;
      return true;
    }
  }
  return false;
}

bool RegistryData::KeyExists(const std::string& key) const {
  if (keys_.count(key)) return true;
  std::string prefix = key + "\\";
  auto next = keys_.lower_bound(prefix);
  return next != keys_.end() && next->first.size() > prefix.size() && StartsWithNoCase(next->first, prefix);
}

void RegistryData::DeleteTree(const std::string& key) {
  keys_.erase(key);
  std::string prefix = key + "\\";
  for (auto it = keys_.lower_bound(prefix); it != keys_.end();) {
    if (!StartsWithNoCase(it->first, prefix)) break;
    it = keys_.erase(it);
  }
}

std::vector<std::pair<std::string, std::string>> RegistryData::Values(const std::string& key) const {
  auto found = keys_.find(key);
  if (found == keys_.end()) return {};
  return found->second.values;
}

std::string RegistryData::Serialize() const {
  std::string text = "; Vyr component registry: written by component libraries when they register\n";
  for (const auto& entry : keys_) {
    text += "\n[" + entry.second.name + "]\n";
    for (const auto& value : entry.second.values)
      text += (value.first.empty() ? std::string("@") : Escape(value.first, true)) + "=" +
              Escape(value.second, false) + "\n";
  }
  return text;
}

bool RegistryData::Parse(const std::string& text, std::string* error) {
  keys_.clear();
  std::istringstream in(text);
  std::string line;
  std::string current;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      current = close == std::string::npos ? std::string() : line.substr(1, close - 1);
      if (!ValidKey(current)) {
        if (error) *error = "line " + std::to_string(number) + ": not a key: " + line;
        return false;
      }
      CreateKey(current);
      continue;
    }
    // name=value, the name ending at the first '=' (names escape theirs).
    size_t equals = line.find('=');
    std::string name, value;
    if (current.empty() || equals == std::string::npos || !Unescape(line.substr(0, equals), &name) ||
        !Unescape(line.substr(equals + 1), &value)) {
      if (error) *error = "line " + std::to_string(number) + ": not a value: " + line;
      return false;
    }
    SetValue(current, line.substr(0, equals) == "@" ? std::string() : name, value);
  }
  return true;
}

bool RegistryData::operator==(const RegistryData& other) const {
  if (keys_.size() != other.keys_.size()) return false;
  for (const auto& entry : keys_) {
    auto found = other.keys_.find(entry.first);
    if (found == other.keys_.end()) return false;
    const auto& a = entry.second.values;
    const auto& b = found->second.values;
    if (a.size() != b.size()) return false;
    for (const auto& value : a) {
      std::string theirs;
      if (!other.GetValue(entry.first, value.first, &theirs) || theirs != value.second) return false;
    }
  }
  return true;
}

std::string ComponentRegistryPath() {
  std::string base;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.local/share";
  }
  return base + "/Vyr/components.ini";
}

HRESULT LoadRegistry(RegistryData* data) {
  std::string text;
  bool missing = false;
  if (!ReadWhole(ComponentRegistryPath(), &text, &missing)) return REGDB_E_READREGDB;
  if (missing) {
    *data = RegistryData();
    return S_OK;
  }
  return data->Parse(text, nullptr) ? S_OK : REGDB_E_READREGDB;
}

HRESULT UpdateRegistry(const std::function<HRESULT(RegistryData&)>& change) {
  std::string path = ComponentRegistryPath();
  std::string folder = path.substr(0, path.rfind('/'));
  if (!MakeFolders(folder)) return REGDB_E_WRITEREGDB;
  // A lock file beside the registry: the registry itself is replaced by rename.
  OwnedFd lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!lock) return REGDB_E_WRITEREGDB;
  while (::flock(lock.Get(), LOCK_EX) != 0 && errno == EINTR) {
  }
  HRESULT hr = S_OK;
  RegistryData data;
  hr = LoadRegistry(&data);
  if (SUCCEEDED(hr)) hr = change(data);
  if (SUCCEEDED(hr)) {
    std::string temp = path + ".tmp." + std::to_string(::getpid());
    std::string text = data.Serialize();
    OwnedFile out(std::fopen(temp.c_str(), "wb"));
    bool ok = out && std::fwrite(text.data(), 1, text.size(), out.Get()) == text.size();
    if (out) ok = std::fclose(out.Release()) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
      std::remove(temp.c_str());
      hr = REGDB_E_WRITEREGDB;
    }
  }
  ::flock(lock.Get(), LOCK_UN);
  return hr;
}

bool ReadRegistryValue(const std::string& key, const std::string& name, std::string* value) {
  RegistryData data;
  if (FAILED(LoadRegistry(&data))) return false;
  return data.GetValue(key, name, value);
}

}  // namespace vyr::com
