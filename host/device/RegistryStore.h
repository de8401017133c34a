// The device's registry under HKEY_LOCAL_MACHINE, kept as a REGEDIT4 text
// file in the device root. The file is loaded at boot and written back whole
// and atomically after every change, so a killed device loses nothing that
// was acknowledged.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cehost {

class RegistryStore {
 public:
  // file: host path of the registry file; empty keeps the registry in memory.
  explicit RegistryStore(std::string file);

  // Reads the file when it exists. A malformed file is refused with its line.
  bool Load(std::string* error);

  // Creates the key empty and in memory only, as the device's active keys
  // are; keys below it are volatile too. An earlier key of that name is
  // replaced.
  void CreateVolatileKey(const std::u16string& key);

  LONG OpenKey(const std::u16string& key) const;
  LONG CreateKey(const std::u16string& key, DWORD* disposition);
  LONG QueryValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                  std::vector<BYTE>* data) const;
  LONG SetValue(const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data, DWORD size);
  LONG DeleteValue(const std::u16string& key, const std::u16string& name);
  // Removes the key with all its subkeys, as the device does.
  LONG DeleteKey(const std::u16string& key);
  LONG EnumKey(const std::u16string& key, DWORD index, std::u16string* name) const;
  LONG EnumValue(const std::u16string& key, DWORD index, std::u16string* name, DWORD* type,
                 std::vector<BYTE>* data) const;

  // The persistent part as REGEDIT4 text.
  std::string Text() const;
  // Parses REGEDIT4 text into this (empty) store.
  bool ParseText(const std::string& text, std::string* error);

  struct Value {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
  };
  struct Key {
    std::u16string name;
    bool isVolatile = false;
    std::vector<Value> values;
    std::vector<std::unique_ptr<Key>> subkeys;

    // The key at the path below this one, made with every missing key on the
    // way; new keys are volatile below a volatile key.
    Key* Make(const std::vector<std::u16string>& parts);
    Value* FindValue(const std::u16string& name);
  };

 private:
  Key* Find(const std::u16string& key) const;
  // Saves the registry after a change; kept tells whether the file now
  // holds it, so the caller keeps it in memory too.
  LONG Commit(const Key& changed, bool* kept);

  std::string file_;
  mutable std::mutex mutex_;
  std::unique_ptr<Key> root_;
};

// Splits a registry path at backslashes, dropping empty components.
std::vector<std::u16string> SplitKeyPath(const std::u16string& key);

}  // namespace cehost
