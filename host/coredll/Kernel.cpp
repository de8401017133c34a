#include "Kernel.h"

#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace cehost {

namespace {

// Read and set by every platform call. This library is loaded with the
// program, never opened later, so its thread-locals may take the
// initial-exec model and skip the lookup a shared library's otherwise costs.
__attribute__((tls_model("initial-exec"))) thread_local DWORD lastError = ERROR_SUCCESS;

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
  std::uintptr_t next = 0x100;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives as long as the process
  return *table;
}

struct Heap {
  std::mutex mutex;
  std::unordered_set<void*> blocks;
};

Heap& LocalHeap() {
  static Heap* heap = new Heap;
  return *heap;
}

}  // namespace

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

// Only the kinds that can be waited on watch; the others fail as their wait does.
DWORD KernelObject::TakeOrWatch(WaitAlarm*) { return Wait(0); }

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  // Values are multiples of 4 and never 0 or INVALID_HANDLE_VALUE.
  std::uintptr_t value;
  do {
    value = table.next;
    table.next += 4;
    if (table.next >= 0x7FFFFFF0u) table.next = 0x100;
  } while (table.objects.count(value));
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == table.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.objects.end()) return nullptr;
  auto object = std::move(it->second);
  table.objects.erase(it);
  return object;
}

}  // namespace cehost

using namespace cehost;

extern "C" {

DWORD GetLastError(void) { return lastError; }

void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

BOOL CloseHandle(HANDLE hObject) {
  auto object = RemoveHandle(hObject);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  return object->Close();
}

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if (uFlags & ~LPTR) {  // only fixed blocks: movable memory is not used on this device
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1) : std::malloc(uBytes ? uBytes : 1);
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Heap& heap = LocalHeap();
  std::lock_guard<std::mutex> lock(heap.mutex);
  heap.blocks.insert(block);
  return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
  if (!hMem) return nullptr;
  Heap& heap = LocalHeap();
  {
    std::lock_guard<std::mutex> lock(heap.mutex);
    // A block that was never allocated, or is freed twice, is refused.
    if (heap.blocks.erase(hMem) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return hMem;
    }
  }
  std::free(hMem);
  return nullptr;
}

}  // extern "C"
