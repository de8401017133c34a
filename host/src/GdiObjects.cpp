#include "GdiObjects.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "Kernel.h"
#include "cehost/Resources.h"

namespace cehost {

namespace {

struct GdiObject {
  enum class Kind { Context, Brush, Bitmap, Icon } kind;
  DeviceContext context;
  COLORREF colour = 0;
  bool stock = false;  // system brushes are never deleted
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
  const void* data;
  size_t size;
};

std::map<std::pair<WORD, WORD>, Resource>& Resources() {
  static auto* resources = new std::map<std::pair<WORD, WORD>, Resource>;
  return *resources;
}

bool FindResource(WORD type, LPCWSTR name, Resource* found) {
  if (!IS_INTRESOURCE(name)) {  // the host's resources are numbered only
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  const WORD id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  auto it = Resources().find({type, id});
  if (it == Resources().end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  *found = it->second;
  return true;
}

uint32_t Read32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Read16(const BYTE* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

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

}  // namespace

void RegisterResource(WORD type, WORD id, const void* data, size_t size) {
  Resources()[{type, id}] = Resource{data, size};
}

bool DecodeBitmap(const BYTE* data, size_t size, Image* image) {
  if (size < 14 || data[0] != 'B' || data[1] != 'M') return false;
  return DecodeDib(data + 14, size - 14, false, image);
}

bool DecodeIcon(const BYTE* data, size_t size, std::vector<std::shared_ptr<const Image>>* images) {
  if (size < 6 || Read16(data) != 0 || Read16(data + 2) != 1) return false;
  const unsigned count = Read16(data + 4);
  if (count == 0 || size < 6 + 16u * count) return false;
  for (unsigned i = 0; i < count; ++i) {
    const BYTE* entry = data + 6 + 16 * i;
    const uint32_t bytes = Read32(entry + 8);
    const uint32_t offset = Read32(entry + 12);
    if (offset > size || bytes > size - offset) return false;
    auto image = std::make_shared<Image>();
    if (!DecodeDib(data + offset, bytes, true, image.get())) return false;
    images->push_back(image);
  }
  return true;
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

LPCDLGTEMPLATEW FindDialogTemplate(LPCWSTR name) {
  Resource resource;
  if (!FindResource(5, name, &resource)) return nullptr;
  return static_cast<LPCDLGTEMPLATEW>(resource.data);
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
    object.stock = true;
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

COLORREF GetTextColor(HDC hdc) {
  return ChangeContext(hdc, kInvalidColour, [](DeviceContext& dc) { return dc.text; });
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

int GetBkMode(HDC hdc) {
  return static_cast<int>(ChangeContext(hdc, 0, [](DeviceContext& dc) { return static_cast<COLORREF>(dc.mode); }));
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  return ChangeContext(hdc, kInvalidColour, [&](DeviceContext& dc) {
    const COLORREF old = dc.background;
    dc.background = color;
    return old;
  });
}

COLORREF GetBkColor(HDC hdc) {
  return ChangeContext(hdc, kInvalidColour, [](DeviceContext& dc) { return dc.background; });
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

HBRUSH CreateSolidBrush(COLORREF color) {
  GdiObject object{GdiObject::Kind::Brush};
  object.colour = color;
  return reinterpret_cast<HBRUSH>(Insert(std::move(object)));
}

BOOL DeleteObject(HANDLE hObject) {
  GdiTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<ULONG_PTR>(hObject));
  if (it == table.objects.end() || it->second.kind == GdiObject::Kind::Context || it->second.stock) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  table.objects.erase(it);
  return TRUE;
}

BOOL DestroyIcon(HICON hIcon) { return DeleteObject(hIcon); }

// The host has no system icons or bitmaps: every name is one of the program's resources.
HANDLE LoadImageW(HINSTANCE, LPCWSTR name, UINT type, int, int, UINT) {
  Resource resource;
  GdiObject object{type == IMAGE_ICON ? GdiObject::Kind::Icon : GdiObject::Kind::Bitmap};
  if (type == IMAGE_BITMAP) {
    if (!FindResource(2, name, &resource)) return nullptr;
    auto image = std::make_shared<Image>();
    if (!DecodeBitmap(static_cast<const BYTE*>(resource.data), resource.size, image.get())) {
      SetLastError(ERROR_INVALID_PARAMETER);  // the build checks the images; a bad one is not loaded
      return nullptr;
    }
    object.images.push_back(image);
  } else if (type == IMAGE_ICON) {
    if (!FindResource(14, name, &resource)) return nullptr;
    if (!DecodeIcon(static_cast<const BYTE*>(resource.data), resource.size, &object.images)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(Insert(std::move(object)));
}

HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
  return static_cast<HICON>(LoadImageW(hInstance, lpIconName, IMAGE_ICON, 0, 0, 0));
}

HBITMAP LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName) {
  return static_cast<HBITMAP>(LoadImageW(hInstance, lpBitmapName, IMAGE_BITMAP, 0, 0, 0));
}

}  // extern "C"
