#include "DriverLibrary.h"

#include <dlfcn.h>

#include "cehost/ProcessDevice.h"
#include "common/Utf.h"

namespace cehost {

struct DriverLibrary::EntryPoints {
  BOOL(WINAPI* dllMain)(HANDLE, DWORD, LPVOID) = nullptr;
  DWORD_PTR (*init)(DWORD_PTR) = nullptr;
  BOOL (*deinit)(DWORD_PTR) = nullptr;
  DWORD_PTR (*open)(DWORD_PTR, DWORD, DWORD) = nullptr;
  BOOL (*close)(DWORD_PTR) = nullptr;
  DWORD (*read)(DWORD_PTR, LPVOID, DWORD) = nullptr;
  DWORD (*write)(DWORD_PTR, LPCVOID, DWORD) = nullptr;
  DWORD (*seek)(DWORD_PTR, LONG, DWORD) = nullptr;
  BOOL (*ioControl)(DWORD_PTR, DWORD, PBYTE, DWORD, PBYTE, DWORD, PDWORD) = nullptr;
};

// The library stays loaded while an instance of it lives.
class DriverLibrary::Instance : public StreamDevice {
 public:
  Instance(const EntryPoints& entries, DWORD_PTR context) : entries_(entries), context_(context) {}

  DWORD_PTR Open(DWORD access, DWORD share) override {
    if (!entries_.open) return Refuse(0);
    return entries_.open(context_, access, share);
  }
  BOOL Close(DWORD_PTR openContext) override { return entries_.close ? entries_.close(openContext) : TRUE; }
  DWORD Read(DWORD_PTR openContext, void* buffer, DWORD count) override {
    if (!entries_.read) return Refuse(0xFFFFFFFFu);
    return entries_.read(openContext, buffer, count);
  }
  DWORD Write(DWORD_PTR openContext, const void* buffer, DWORD count) override {
    if (!entries_.write) return Refuse(0xFFFFFFFFu);
    return entries_.write(openContext, buffer, count);
  }
  DWORD Seek(DWORD_PTR openContext, LONG amount, DWORD method) override {
    if (!entries_.seek) return Refuse(0xFFFFFFFFu);
    return entries_.seek(openContext, amount, method);
  }
  BOOL IOControl(DWORD_PTR openContext, DWORD code, BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                 DWORD* returned) override {
    if (!entries_.ioControl) return static_cast<BOOL>(Refuse(FALSE));
    return entries_.ioControl(openContext, code, in, inSize, out, outSize, returned);
  }
  BOOL Deinit() override { return entries_.deinit(context_); }

 private:
  static DWORD_PTR Refuse(DWORD_PTR answer) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return answer;
  }

  EntryPoints entries_;
  DWORD_PTR context_;
};

std::shared_ptr<DriverLibrary> DriverLibrary::Load(const std::string& hostPath, const std::u16string& devicePath,
                                                   const std::u16string& prefix) {
  // Each device loads its own copy, so module-wide values are per device.
  void* library = ::dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::shared_ptr<DriverLibrary> loaded(new DriverLibrary);
  loaded->library_ = library;
  loaded->entries_ = std::make_unique<EntryPoints>();
  const std::string name = ToUtf8(prefix) + "_";
  auto find = [&](const char* entry) { return ::dlsym(library, (name + entry).c_str()); };
  EntryPoints& e = *loaded->entries_;
  e.dllMain = reinterpret_cast<decltype(e.dllMain)>(::dlsym(library, "DllMain"));
  e.init = reinterpret_cast<decltype(e.init)>(find("Init"));
  e.deinit = reinterpret_cast<decltype(e.deinit)>(find("Deinit"));
  e.open = reinterpret_cast<decltype(e.open)>(find("Open"));
  e.close = reinterpret_cast<decltype(e.close)>(find("Close"));
  e.read = reinterpret_cast<decltype(e.read)>(find("Read"));
  e.write = reinterpret_cast<decltype(e.write)>(find("Write"));
  e.seek = reinterpret_cast<decltype(e.seek)>(find("Seek"));
  e.ioControl = reinterpret_cast<decltype(e.ioControl)>(find("IOControl"));
  if (!e.init || !e.deinit) {
    ::dlclose(library);
    loaded->library_ = nullptr;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  loaded->module_ = RegisterModule(library, devicePath);
  if (e.dllMain && !e.dllMain(loaded->module_, DLL_PROCESS_ATTACH, nullptr)) {
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;  // the destructor unloads it
  }
  return loaded;
}

DriverLibrary::~DriverLibrary() {
  if (!library_) return;
  if (entries_->dllMain) entries_->dllMain(module_, DLL_PROCESS_DETACH, nullptr);
  UnregisterModule(module_);
  ::dlclose(library_);
}

std::unique_ptr<StreamDevice> DriverLibrary::Init(const std::u16string& activeKey) {
  const DWORD_PTR context = entries_->init(reinterpret_cast<DWORD_PTR>(activeKey.c_str()));
  if (context == 0) return nullptr;
  return std::make_unique<Instance>(*entries_, context);
}

}  // namespace cehost
