// A program's resource image (the resource compiler's .res output) as the
// host registers it, and every bitmap, icon and dialog template in it as the
// window system reads them: nothing is read outside the image, whatever its
// headers, sizes and templates say.
#include <cstdint>
#include <cstring>
#include <vector>

#include "cehost/Resources.h"
#include "gwes/DialogTemplate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The build links an image aligned to 4 bytes; so is this copy, and it
  // is exactly as long as the input.
  static std::vector<uint32_t> aligned;
  aligned.resize(size / 4 + 1);
  std::memcpy(aligned.data(), data, size);
  cehost::RegisterResources(aligned.data(), size);
  // Wendra's ordinals are below 256.
  for (WORD name = 0; name < 256; ++name) {
    const LPCWSTR id = MAKEINTRESOURCEW(name);
    if (HBITMAP bitmap = LoadBitmapW(nullptr, id)) DeleteObject(bitmap);
    if (HICON icon = LoadIconW(nullptr, id)) DestroyIcon(icon);
    if (HRSRC found = FindResourceW(nullptr, id, RT_DIALOG)) {
      const void* resource = LockResource(LoadResource(nullptr, found));
      cehost::Dialog dialog;
      cehost::ReadDialogTemplate(resource, SizeofResource(nullptr, found), &dialog);
    }
  }
  return 0;
}
