#include "GdiObjects.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "cehost/Resources.h"
#include "coredll/Kernel.h"

namespace cehost {

namespace {

struct GdiObject {
  enum class Kind { Context, Brush, Bitmap, Icon } kind;
  DeviceContext context;
  COLORREF colour = 0;
  std::vector<std::shared_ptr<const Image>> images;
};

// GDI handles are numbered apart from kernel handles, as on the device.
struct GdiTable {
  std::mutex mutex;
  ULONG_PTR next = 0x10000;
  std::map<ULONG_PTR, GdiObject> objects;
};

GdiTable& Table() {
  static GdiTable* table = new GdiTable;
  return *table;
}

ULONG_PTR Insert(GdiObject object) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const ULONG_PTR handle = table.next;
  table.next += 4;
  table.objects.emplace(handle, std::move(object));
  return handle;
}

struct Resource {
  const BYTE* data;
  DWORD size;
};

// The program's resources by the ordinals of their type and name. Filled
// before the program starts and not changed afterwards, so read unlocked.
std::map<std::pair<WORD, WORD>, Resource>& Resources() {
  static auto* resources = new std::map<std::pair<WORD, WORD>, Resource>;
  return *resources;
}

// The host's resources are numbered only.
const Resource* Find(WORD type, LPCWSTR name) {
  if (!IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const auto& resources = Resources();
  auto it = resources.find({type, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name))});
  if (it != resources.end()) return &it->second;
  auto ofType = resources.lower_bound({type, 0});
  const bool typeKnown = ofType != resources.end() && ofType->first.first == type;
  SetLastError(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

uint32_t Read32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Read16(const BYTE* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// A type or name field of a .res header: 0xFFFF and an ordinal, or text up
// to its terminator. Answers the byte after it, or nullptr past end.
const BYTE* ReadNameField(const BYTE* p, const BYTE* end, bool* isOrdinal, WORD* ordinal) {
  if (end - p >= 4 && Read16(p) == 0xFFFF) {
    *isOrdinal = true;
    *ordinal = Read16(p + 2);
    return p + 4;
  }
  *isOrdinal = false;
  for (; end - p >= 2; p += 2) {
    if (Read16(p) == 0) return p + 2;
  }
  return nullptr;
}

// A device-independent bitmap: BITMAPINFOHEADER, palette, rows from the
// bottom up. An icon's image has twice its height (colour then mask).
bool DecodeDib(const BYTE* data, size_t size, bool icon, Image* image) {
  if (size < 40 || Read32(data) < 40) return false;
  const uint32_t header = Read32(data);
  const int width = static_cast<int32_t>(Read32(data + 4));
  int height = static_cast<int32_t>(Read32(data + 8));
  const int bits = Read16(data + 14);
  const uint32_t compression = Read32(data + 16);
  uint32_t colours = Read32(data + 32);
  if (icon) height /= 2;
  if (width <= 0 || height <= 0 || width > 1024 || height > 1024 || compression != 0) return false;
  if (bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  if (bits <= 8 && colours == 0) colours = 1u << bits;
  const size_t paletteBytes = bits <= 8 ? colours * 4 : 0;
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  const size_t maskStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
  const BYTE* palette = data + header;
  const BYTE* pixels = palette + paletteBytes;
  const size_t needed = header + paletteBytes + stride * height + (icon ? maskStride * height : 0);
  if (needed > size) return false;
  const BYTE* mask = pixels + stride * height;

  image->width = width;
  image->height = height;
  image->pixels.assign(static_cast<size_t>(width) * height, 0);
  for (int row = 0; row < height; ++row) {
    const BYTE* line = pixels + stride * (height - 1 - row);
    for (int x = 0; x < width; ++x) {
      uint32_t argb;
      if (bits <= 8) {
        const unsigned index = bits == 8 ? line[x] : (x % 2 == 0 ? line[x / 2] >> 4 : line[x / 2] & 0x0F);
        if (index >= colours) return false;
        const BYTE* c = palette + index * 4;
        argb = 0xFF000000u | c[2] << 16 | c[1] << 8 | c[0];
      } else {
        const BYTE* c = line + x * (bits / 8);
        const uint32_t alpha = bits == 32 && icon ? c[3] : 0xFF;
        argb = alpha << 24 | c[2] << 16 | c[1] << 8 | c[0];
      }
      if (icon && bits != 32) {
        const BYTE* m = mask + maskStride * (height - 1 - row);
        if (m[x / 8] & (0x80 >> (x % 8))) argb = 0;
      }
      image->pixels[static_cast<size_t>(row) * width + x] = argb;
    }
  }
  return true;
}

// A group icon's directory names one RT_ICON resource per size, each a DIB
// of twice the icon's height (colour, then mask).
bool DecodeIcon(const BYTE* data, size_t size, std::vector<std::shared_ptr<const Image>>* images) {
  if (size < 6 || Read16(data) != 0 || Read16(data + 2) != 1) return false;
  const unsigned count = Read16(data + 4);
  if (count == 0 || size < 6 + 14u * count) return false;
  for (unsigned i = 0; i < count; ++i) {
    const WORD id = Read16(data + 6 + 14 * i + 12);
    const Resource* icon = Find(3, MAKEINTRESOURCEW(id));
    if (!icon) return false;
    auto image = std::make_shared<Image>();
    if (!DecodeDib(icon->data, icon->size, true, image.get())) return false;
    images->push_back(image);
  }
  return true;
}

}  // namespace

void RegisterResources(const void* image, size_t size) {
  const BYTE* const base = static_cast<const BYTE*>(image);
  // A program has one module, and its resources are this image alone.
  Resources().clear();
  // The resource compiler made the image; one cut short registers what
  // precedes the cut.
  for (size_t at = 0; size - at >= 32;) {
    const uint32_t dataSize = Read32(base + at);
    const uint32_t headerSize = Read32(base + at + 4);
    if (headerSize < 16 || headerSize > size - at || dataSize > size - at - headerSize) return;
    const BYTE* headerEnd = base + at + headerSize;
    bool typeIsOrdinal = false, nameIsOrdinal = false;
    WORD type = 0, name = 0;
    const BYTE* field = ReadNameField(base + at + 8, headerEnd, &typeIsOrdinal, &type);
    if (field) field = ReadNameField(field, headerEnd, &nameIsOrdinal, &name);
    if (field && typeIsOrdinal && nameIsOrdinal && dataSize > 0) {
      Resources()[{type, name}] = Resource{headerEnd, dataSize};
    }
    at += headerSize + dataSize;
    at = (at + 3) & ~static_cast<size_t>(3);
    if (at > size) return;
  }
}

PaintContext::PaintContext() {
  GdiObject object{GdiObject::Kind::Context};
  object.context.background = kFaceColour;
  handle_ = reinterpret_cast<HDC>(Insert(std::move(object)));
}

PaintContext::~PaintContext() {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.objects.erase(reinterpret_cast<ULONG_PTR>(handle_));
}

DeviceContext PaintContext::Get() const {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.objects.at(reinterpret_cast<ULONG_PTR>(handle_)).context;
}

bool BrushColour(HBRUSH brush, COLORREF* colour) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(brush));
  if (it == table.objects.end() || it->second.kind != GdiObject::Kind::Brush) return false;
  *colour = it->second.colour;
  return true;
}

std::vector<std::shared_ptr<const Image>> ImagesOf(HANDLE object) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(object));
  if (it == table.objects.end()) return {};
  return it->second.images;
}

std::shared_ptr<const Image> IconImage(HICON icon, int size) {
  std::shared_ptr<const Image> best;
  for (const auto& image : ImagesOf(icon)) {
    if (!best || std::abs(image->width - size) < std::abs(best->width - size)) best = image;
  }
  return best;
}

}  // namespace cehost

using namespace cehost;

namespace {

template <typename Change>
COLORREF ChangeContext(HDC hdc, COLORREF failure, Change change) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(hdc));
  if (it == table.objects.end() || it->second.kind != GdiObject::Kind::Context) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failure;
  }
  return change(it->second.context);
}

constexpr COLORREF kInvalidColour = 0xFFFFFFFFu;

// The brushes of the device's colour scheme, one per colour index.
HBRUSH StockBrush(int index, COLORREF colour) {
  static std::mutex mutex;
  static std::map<int, HBRUSH>* brushes = new std::map<int, HBRUSH>;
  std::lock_guard<std::mutex> lock(mutex);
  auto& brush = (*brushes)[index];
  if (!brush) {
    GdiObject object{GdiObject::Kind::Brush};
    object.colour = colour;
    brush = reinterpret_cast<HBRUSH>(Insert(std::move(object)));
  }
  return brush;
}

}  // namespace

extern "C" {

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  return ChangeContext(hdc, kInvalidColour, [&](DeviceContext& dc) {
    const COLORREF old = dc.text;
    dc.text = color;
    return old;
  });
}

int SetBkMode(HDC hdc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return static_cast<int>(ChangeContext(hdc, 0, [&](DeviceContext& dc) {
    const int old = dc.mode;
    dc.mode = mode;
    return static_cast<COLORREF>(old);
  }));
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  return ChangeContext(hdc, kInvalidColour, [&](DeviceContext& dc) {
    const COLORREF old = dc.background;
    dc.background = color;
    return old;
  });
}

DWORD GetSysColor(int nIndex) {
  switch (nIndex) {
    case COLOR_WINDOW:
      return kEditColour;
    case COLOR_WINDOWTEXT:
    case COLOR_STATICTEXT:
      return kTextColour;
    case COLOR_BTNFACE:
    case COLOR_STATIC:
    default:
      return kFaceColour;
  }
}

HBRUSH GetSysColorBrush(int nIndex) { return StockBrush(nIndex, GetSysColor(nIndex)); }

// Only the program's own module has resources on the host.
HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  if (hModule && hModule != GetModuleHandleW(nullptr)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  if (!IS_INTRESOURCE(lpType)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  const Resource* found = Find(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(lpType)), lpName);
  return reinterpret_cast<HRSRC>(const_cast<Resource*>(found));
}

// Resources are part of the image, loaded with it: the data's address serves
// as the handle, and locking answers it.
HGLOBAL LoadResource(HMODULE, HRSRC hResInfo) {
  if (!hResInfo) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<BYTE*>(reinterpret_cast<const Resource*>(hResInfo)->data);
}

DWORD SizeofResource(HMODULE, HRSRC hResInfo) {
  if (!hResInfo) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return reinterpret_cast<const Resource*>(hResInfo)->size;
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

// The host has no system icons or bitmaps: every name is one of the program's resources.
HANDLE LoadImageW(HINSTANCE, LPCWSTR name, UINT type, int, int, UINT) {
  GdiObject object{type == IMAGE_ICON ? GdiObject::Kind::Icon : GdiObject::Kind::Bitmap};
  if (type == IMAGE_BITMAP) {
    const Resource* bitmap = Find(2, name);
    if (!bitmap) return nullptr;
    auto image = std::make_shared<Image>();
    if (!DecodeDib(bitmap->data, bitmap->size, false, image.get())) {
      SetLastError(ERROR_INVALID_PARAMETER);  // a format the host does not draw
      return nullptr;
    }
    object.images.push_back(image);
  } else if (type == IMAGE_ICON) {
    const Resource* group = Find(14, name);
    if (!group) return nullptr;
    if (!DecodeIcon(group->data, group->size, &object.images)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(Insert(std::move(object)));
}

}  // extern "C"

namespace {

// Frees a loaded image of one kind. DeleteObject also takes the system's
// brushes, which stay theirs: deleting one does nothing.
BOOL DeleteImage(HANDLE handle, GdiObject::Kind kind) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(handle));
  const bool stockBrush = it != table.objects.end() && it->second.kind == GdiObject::Kind::Brush &&
                          kind == GdiObject::Kind::Bitmap;
  if (it == table.objects.end() || (it->second.kind != kind && !stockBrush)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!stockBrush) table.objects.erase(it);
  return TRUE;
}

}  // namespace

extern "C" {

BOOL DeleteObject(HGDIOBJ hObject) { return DeleteImage(hObject, GdiObject::Kind::Bitmap); }

BOOL DestroyIcon(HICON hIcon) { return DeleteImage(hIcon, GdiObject::Kind::Icon); }

HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
  return static_cast<HICON>(LoadImageW(hInstance, lpIconName, IMAGE_ICON, 0, 0, 0));
}

HBITMAP LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName) {
  return static_cast<HBITMAP>(LoadImageW(hInstance, lpBitmapName, IMAGE_BITMAP, 0, 0, 0));
}

}  // extern "C"
