#include "RegistryStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "RegistryText.h"
#include "common/ErrorFromErrno.h"
#include "common/Utf.h"

namespace cehost {

namespace {

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

}  // namespace

RegistryStore::Key* RegistryStore::Key::Make(const std::vector<std::u16string>& parts) {
  Key* key = this;
  for (const auto& part : parts) {
    Key* next = Child(*key, part);
    if (!next) {
      key->subkeys.push_back(std::make_unique<Key>());
      next = key->subkeys.back().get();
      next->name = part;
      next->isVolatile = key->isVolatile;
    }
    key = next;
  }
  return key;
}

RegistryStore::Value* RegistryStore::Key::FindValue(const std::u16string& name) {
  for (auto& value : values) {
    if (EqualsNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

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
  return ReadRegistryText(text, root_.get(), error);
}

std::string RegistryStore::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteRegistryText(*root_);
}

RegistryStore::Key* RegistryStore::Find(const std::u16string& key) const {
  return Walk(root_.get(), SplitKeyPath(key));
}

void RegistryStore::CreateVolatileKey(const std::u16string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* current = root_->Make(SplitKeyPath(key));
  current->isVolatile = true;
  current->values.clear();
  current->subkeys.clear();
}

// Writes the registry file whole: a new file beside the old one, flushed to
// disk, renamed over it, and the folder flushed, so the rename survives a
// power loss too. Until the rename nothing has changed; once it is done, the
// file holds the change even when the folder's flush fails, which is then
// answered as the error it is.
LONG RegistryStore::Commit(const Key& changed, bool* kept) {
  *kept = file_.empty() || changed.isVolatile;
  if (*kept) return ERROR_SUCCESS;
  const std::string text = WriteRegistryText(*root_);
  const std::string temp = file_ + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return static_cast<LONG>(ErrorFromErrno(errno));
  int err = 0;
  for (size_t written = 0; written < text.size() && !err;) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n >= 0) {
      written += static_cast<size_t>(n);
    } else if (errno != EINTR) {
      err = errno;
    }
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && ::rename(temp.c_str(), file_.c_str()) != 0) err = errno;
  if (err) {
    ::unlink(temp.c_str());
    return static_cast<LONG>(ErrorFromErrno(err));
  }
  *kept = true;
  const size_t slash = file_.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file_.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return static_cast<LONG>(ErrorFromErrno(errno));
  if (::fsync(dir) != 0) err = errno;
  ::close(dir);  // read-only: its close has nothing to report
  return err ? static_cast<LONG>(ErrorFromErrno(err)) : ERROR_SUCCESS;
}

LONG RegistryStore::OpenKey(const std::u16string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Find(key) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegistryStore::CreateKey(const std::u16string& key, DWORD* disposition) {
  const auto parts = SplitKeyPath(key);
  for (const auto& part : parts) {
    if (!TextCanHold(part)) return ERROR_INVALID_PARAMETER;  // the text file could not hold it
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (Find(key)) {
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  auto previous = Clone(*root_);
  Key* current = root_->Make(parts);
  bool kept;
  const LONG result = Commit(*current, &kept);
  if (!kept) root_ = std::move(previous);
  if (result != ERROR_SUCCESS) return result;
  if (disposition) *disposition = REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LONG RegistryStore::QueryValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                               std::vector<BYTE>* data) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  const Value* value = found->FindValue(name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  *type = value->type;
  *data = value->data;
  return ERROR_SUCCESS;
}

LONG RegistryStore::SetValue(const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data,
                             DWORD size) {
  if (!TextCanHold(name)) return ERROR_INVALID_PARAMETER;  // the text file could not hold it
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  auto previous = Clone(*root_);
  found = Find(key);
  Value fresh{name, type, std::vector<BYTE>(data, data + size)};
  if (Value* value = found->FindValue(name)) {
    value->type = type;
    value->data = std::move(fresh.data);
  } else {
    found->values.push_back(std::move(fresh));
  }
  bool kept;
  const LONG result = Commit(*found, &kept);
  if (!kept) root_ = std::move(previous);
  return result;
}

LONG RegistryStore::DeleteValue(const std::u16string& key, const std::u16string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Key* found = Find(key);
  if (!found) return ERROR_KEY_DELETED;
  if (!found->FindValue(name)) return ERROR_FILE_NOT_FOUND;
  auto previous = Clone(*root_);
  found = Find(key);
  for (auto it = found->values.begin(); it != found->values.end(); ++it) {
    if (EqualsNoCase(it->name, name)) {
      found->values.erase(it);
      break;
    }
  }
  bool kept;
  const LONG result = Commit(*found, &kept);
  if (!kept) root_ = std::move(previous);
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
  bool kept;
  const LONG result = Commit(persistent, &kept);
  if (!kept) root_ = std::move(previous);
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
