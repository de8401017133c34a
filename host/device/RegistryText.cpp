// The REGEDIT4 text of the registry: keys under [HKEY_LOCAL_MACHINE\...],
// values as "name"=... with strings quoted, numbers as dword:, and other
// data as hex: and hex(type): runs that go on over lines ending in a backslash.
#include "RegistryText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "common/Utf.h"

namespace cehost {

namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

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

// The next line of the text, CR LF read as LF; a value's hex data that goes
// on over lines ending in a backslash arrives as one line. number counts the
// lines read. False at the end.
bool ReadLine(std::istream& in, std::string* line, int* number) {
  auto next = [&](std::string* text) {
    if (!std::getline(in, *text)) return false;
    ++*number;
    if (!text->empty() && text->back() == '\r') text->pop_back();
    return true;
  };
  if (!next(line)) return false;
  std::string more;
  while (!line->empty() && line->back() == '\\' && line->find('=') != std::string::npos && next(&more)) {
    line->pop_back();
    const size_t first = more.find_first_not_of(" \t");
    if (first != std::string::npos) line->append(more, first, std::string::npos);
  }
  return true;
}

}  // namespace

bool TextCanHold(std::u16string_view name) { return !HasControlCharacters(name); }

std::string WriteRegistryText(const RegistryStore::Key& root) {
  std::ostringstream out;
  out << "REGEDIT4\n\n";
  WriteKey(out, root, kRootName);
  return out.str();
}

bool ReadRegistryText(const std::string& text, RegistryStore::Key* root, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool header = false;
  RegistryStore::Key* current = nullptr;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (ReadLine(in, &line, &number)) {
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
      current = root->Make(SplitKeyPath(ToUtf16(path.substr(rootName.size()))));
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
    RegistryStore::Value value{name, REG_NONE, {}};
    if (!ParseData(line.substr(pos + 1), &value.type, &value.data)) return fail("value data that cannot be read");
    if (RegistryStore::Value* existing = current->FindValue(name)) {
      *existing = value;
    } else {
      current->values.push_back(std::move(value));
    }
  }
  if (!header && number > 0) return fail("the file does not start with REGEDIT4");
  return true;
}

}  // namespace cehost
