#include "RegistryStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/ErrorFromErrno.h"
#include "common/Utf.h"

namespace cehost {

namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

std::unique_ptr<RegistryStore::Key> Clone(const RegistryStore::Key& key) {
  auto copy = std::make_unique<RegistryStore::Key>();
  copy->name = key.name;
  copy->isVolatile = key.isVolatile;
  copy->values = key.values;
  for (const auto& sub : key.subkeys) copy->subkeys.push_back(Clone(*sub));
  return copy;
}

RegistryStore::Key* Child(const RegistryStore::Key& key, const std::u16string& name) {
  for (const auto& sub : key.subkeys) {
    if (EqualsNoCase(sub->name, name)) return sub.get();
  }
  return nullptr;
}

RegistryStore::Key* Walk(RegistryStore::Key* root, const std::vector<std::u16string>& parts) {
  RegistryStore::Key* key = root;
  for (const auto& part : parts) {
    key = Child(*key, part);
    if (!key) return nullptr;
  }
  return key;
}

// The key at the path, made with every missing key on the way; new keys are
// volatile below a volatile key.
RegistryStore::Key* Make(RegistryStore::Key* root, const std::vector<std::u16string>& parts) {
  RegistryStore::Key* key = root;
  for (const auto& part : parts) {
    RegistryStore::Key* next = Child(*key, part);
    if (!next) {
      key->subkeys.push_back(std::make_unique<RegistryStore::Key>());
      next = key->subkeys.back().get();
      next->name = part;
      next->isVolatile = key->isVolatile;
    }
    key = next;
  }
  return key;
}

RegistryStore::Value* FindValue(RegistryStore::Key& key, const std::u16string& name) {
  for (auto& value : key.values) {
    if (EqualsNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

bool HasControlCharacters(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < 0x20) return true;
  }
  return false;
}

// --- REGEDIT4 writing --------------------------------------------------------

std::string Quoted(std::u16string_view text) {
  std::string out = "\"";
  for (char c : ToUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// A REG_SZ is written as text when it round-trips exactly: one terminator at
// the end and no other zero or control character. Anything else is written
// as hex(1) bytes, so the file keeps every byte.
bool AsText(const RegistryStore::Value& value, std::u16string* text) {
  if (value.type != REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) return false;
  std::u16string chars(value.data.size() / 2, u'\0');
  std::memcpy(chars.data(), value.data.data(), value.data.size());
  if (chars.back() != u'\0') return false;
  chars.pop_back();
  if (HasControlCharacters(chars)) return false;
  for (size_t i = 0; i < chars.size(); ++i) {
    const char16_t c = chars[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (low) return false;
    if (high) {
      if (i + 1 >= chars.size() || chars[i + 1] < 0xDC00 || chars[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  *text = chars;
  return true;
}

void WriteHex(std::ostringstream& out, const std::string& prefix, const std::vector<BYTE>& data) {
  out << prefix;
  size_t column = prefix.size();
  char byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out << byte;
    column += 2;
    if (i + 1 < data.size()) {
      out << ',';
      ++column;
      if (column > 76) {
        out << "\\\n  ";
        column = 2;
      }
    }
  }
  out << '\n';
}

void WriteValue(std::ostringstream& out, const RegistryStore::Value& value) {
  const std::string name = value.name.empty() ? std::string("@") : Quoted(value.name);
  std::u16string text;
  if (AsText(value, &text)) {
    out << name << '=' << Quoted(text) << '\n';
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number;
    std::memcpy(&number, value.data.data(), 4);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(number));
    out << name << "=dword:" << digits << '\n';
  } else if (value.type == REG_BINARY) {
    WriteHex(out, name + "=hex:", value.data);
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "=hex(%x):", static_cast<unsigned>(value.type));
    WriteHex(out, name + prefix, value.data);
  }
}

void WriteKey(std::ostringstream& out, const RegistryStore::Key& key, const std::string& path) {
  if (key.isVolatile) return;
  out << '[' << path << "]\n";
  for (const auto& value : key.values) WriteValue(out, value);
  out << '\n';
  for (const auto& sub : key.subkeys) WriteKey(out, *sub, path + '\\' + ToUtf8(sub->name));
}

std::string Serialized(const RegistryStore::Key& root) {
  std::ostringstream out;
  out << "REGEDIT4\n\n";
  WriteKey(out, root, kRootName);
  return out.str();
}

// --- REGEDIT4 reading --------------------------------------------------------

bool ParseQuoted(const std::string& line, size_t* pos, std::u16string* text) {
  if (*pos >= line.size() || line[*pos] != '"') return false;
  std::string raw;
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      raw += line[++i];
    } else if (line[i] == '"') {
      *pos = i + 1;
      *text = ToUtf16(raw);
      return true;
    } else {
      raw += line[i];
    }
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>* data) {
  data->clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size()) break;
    size_t end = text.find(',', i);
    std::string item = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
    if (item.empty() || item.size() > 2) return false;
    char* stop = nullptr;
    const unsigned long byte = std::strtoul(item.c_str(), &stop, 16);
    if (*stop != '\0') return false;
    data->push_back(static_cast<BYTE>(byte));
    if (end == std::string::npos) break;
    i = end + 1;
  }
  return true;
}

bool ParseData(const std::string& text, DWORD* type, std::vector<BYTE>* data) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    std::u16string value;
    if (!ParseQuoted(text, &pos, &value) || pos != text.size()) return false;
    value.push_back(u'\0');
    *type = REG_SZ;
    data->resize(value.size() * 2);
    std::memcpy(data->data(), value.data(), data->size());
    return true;
  }
  if (text.rfind("dword:", 0) == 0) {
    const std::string digits = text.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    char* stop = nullptr;
    const DWORD number = static_cast<DWORD>(std::strtoul(digits.c_str(), &stop, 16));
    if (*stop != '\0') return false;
    *type = REG_DWORD;
    data->resize(4);
    std::memcpy(data->data(), &number, 4);
    return true;
  }
  if (text.rfind("hex:", 0) == 0) {
    *type = REG_BINARY;
    return ParseHexBytes(text.substr(4), data);
  }
  if (text.rfind("hex(", 0) == 0) {
    const size_t close = text.find("):");
    if (close == std::string::npos) return false;
    const std::string digits = text.substr(4, close - 4);  // outlives stop, which points into it
    if (digits.empty() || digits.size() > 8) return false;
    char* stop = nullptr;
    *type = static_cast<DWORD>(std::strtoul(digits.c_str(), &stop, 16));
    if (*stop != '\0') return false;
    return ParseHexBytes(text.substr(close + 2), data);
  }
  return false;
}

}  // namespace

std::vector<std::u16string> SplitKeyPath(const std::u16string& key) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find(u'\\', start);
    if (end == std::u16string::npos) end = key.size();
    if (end > start) parts.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

RegistryStore::RegistryStore(std::string file) : file_(std::move(file)), root_(std::make_unique<Key>()) {}

bool RegistryStore::Load(std::string* error) {
  if (file_.empty()) return true;
  std::ifstream in(file_, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return true;  // a fresh device starts with an empty registry
    *error = "cannot read " + file_ + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string parseError;
  if (!ParseText(text.str(), &parseError)) {
    *error = file_ + ": " + parseError;
    return false;
  }
  return true;
}

bool RegistryStore::ParseText(const std::string& text, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool header = false;
  Key* current = nullptr;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Hex data may go on over several lines, each but the last ending in a backslash.
    while (!line.empty() && line.back() == '\\' && line.find('=') != std::string::npos) {
      std::string next;
      if (!std::getline(in, next)) break;
      ++number;
      if (!next.empty() && next.back() == '\r') next.pop_back();
      line.pop_back();
      const size_t first = next.find_first_not_of(" \t");
      line += first == std::string::npos ? std::string() : next.substr(first);
    }
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    if (!header) {
      if (line != "REGEDIT4") return fail("the file does not start with REGEDIT4");
      header = true;
      continue;
    }
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string::npos) return fail("a key without its closing bracket");
      const std::string path = line.substr(1, close - 1);
      const std::string rootName = kRootName;
      if (path.compare(0, rootName.size(), rootName) != 0 ||
          (path.size() > rootName.size() && path[rootName.size()] != '\\')) {
        return fail("a key outside HKEY_LOCAL_MACHINE");
      }
      current = Make(root_.get(), SplitKeyPath(ToUtf16(path.substr(rootName.size()))));
      continue;
    }
    if (!current) return fail("a value before the first key");
    std::u16string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, &pos, &name)) {
      return fail("a value name that is not quoted");
    }
    if (pos >= line.size() || line[pos] != '=') return fail("a value without '='");
    Value value{name, REG_NONE, {}};
    if (!ParseData(line.substr(pos + 1), &value.type, &value.data)) return fail("value data that cannot be read");
    if (Value* existing = FindValue(*current, name)) {
      *existing = value;
    } else {
      current->values.push_back(std::move(value));
    }
  }
  if (!header && number > 0) return fail("the file does not start with REGEDIT4");
  return true;
}

std::string RegistryStore::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Serialized(*root_);
}

RegistryStore::Key* RegistryStore::Find(const std::u16string& key) const {
  return Walk(root_.get(), SplitKeyPath(key));
}

void RegistryStore::CreateVolatileKey(const std::u16string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* current = Make(root_.get(), SplitKeyPath(key));
  current->isVolatile = true;
  current->values.clear();
  current->subkeys.clear();
}

// Writes the registry file whole: a new file beside the old one, flushed to
// disk, then renamed over it.
LONG RegistryStore::Commit(const Key& changed) {
  if (file_.empty() || changed.isVolatile) return ERROR_SUCCESS;
  const std::string text = Serialized(*root_);
  const std::string temp = file_ + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return static_cast<LONG>(ErrorFromErrno(errno));
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return static_cast<LONG>(ErrorFromErrno(err));
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temp.c_str(), file_.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return static_cast<LONG>(ErrorFromErrno(err));
  }
  return ERROR_SUCCESS;
}

LONG RegistryStore::OpenKey(const std::u16string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Find(key) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegistryStore::CreateKey(const std::u16string& key, DWORD* disposition) {
  const auto parts = SplitKeyPath(key);
  for (const auto& part : parts) {
    if (HasControlCharacters(part)) return ERROR_INVALID_PARAMETER;  // the text file could not hold it
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (Find(key)) {
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  auto previous = Clone(*root_);
  Key* current = Make(root_.get(), parts);
  const LONG result = Commit(*current);
  if (result != ERROR_SUCCESS) {
    root_ = std::move(previous);
    return result;
  }
  if (disposition) *disposition = REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LONG RegistryStore::QueryValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                               std::vector<BYTE>* data) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  const Value* value = FindValue(*found, name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  *type = value->type;
  *data = value->data;
  return ERROR_SUCCESS;
}

LONG RegistryStore::SetValue(const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data,
                             DWORD size) {
  if (HasControlCharacters(name)) return ERROR_INVALID_PARAMETER;  // the text file could not hold it
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  auto previous = Clone(*root_);
  found = Find(key);
  Value fresh{name, type, std::vector<BYTE>(data, data + size)};
  if (Value* value = FindValue(*found, name)) {
    value->type = type;
    value->data = std::move(fresh.data);
  } else {
    found->values.push_back(std::move(fresh));
  }
  const LONG result = Commit(*found);
  if (result != ERROR_SUCCESS) root_ = std::move(previous);
  return result;
}

LONG RegistryStore::DeleteValue(const std::u16string& key, const std::u16string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  if (!FindValue(*found, name)) return ERROR_FILE_NOT_FOUND;
  auto previous = Clone(*root_);
  found = Find(key);
  for (auto it = found->values.begin(); it != found->values.end(); ++it) {
    if (EqualsNoCase(it->name, name)) {
      found->values.erase(it);
      break;
    }
  }
  const LONG result = Commit(*found);
  if (result != ERROR_SUCCESS) root_ = std::move(previous);
  return result;
}

LONG RegistryStore::DeleteKey(const std::u16string& key) {
  auto parts = SplitKeyPath(key);
  if (parts.empty()) return ERROR_ACCESS_DENIED;  // the root key stays
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Find(key)) return ERROR_FILE_NOT_FOUND;
  auto previous = Clone(*root_);
  const std::u16string last = parts.back();
  parts.pop_back();
  Key* parent = Walk(root_.get(), parts);
  for (auto it = parent->subkeys.begin(); it != parent->subkeys.end(); ++it) {
    if (EqualsNoCase((*it)->name, last)) {
      const bool wasVolatile = (*it)->isVolatile;
      parent->subkeys.erase(it);
      if (wasVolatile) return ERROR_SUCCESS;
      break;
    }
  }
  Key persistent;  // the change touches the file: commit as a persistent key
  const LONG result = Commit(persistent);
  if (result != ERROR_SUCCESS) root_ = std::move(previous);
  return result;
}

LONG RegistryStore::EnumKey(const std::u16string& key, DWORD index, std::u16string* name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  if (index >= found->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  *name = found->subkeys[index]->name;
  return ERROR_SUCCESS;
}

LONG RegistryStore::EnumValue(const std::u16string& key, DWORD index, std::u16string* name, DWORD* type,
                              std::vector<BYTE>* data) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  if (index >= found->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = found->values[index];
  *name = value.name;
  *type = value.type;
  *data = value.data;
  return ERROR_SUCCESS;
}

}  // namespace cehost
