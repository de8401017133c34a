// Drawing objects: device contexts, brushes, bitmaps and icons, and the
// program's resources they are loaded from.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "WindowModel.h"

namespace cehost {

// What a control's painting starts with and what the colour hook may change.
struct DeviceContext {
  COLORREF text = RGB(0, 0, 0);
  int mode = OPAQUE;
  COLORREF background = RGB(255, 255, 255);
};

// A context for the span of one painting; HDC is valid while it lives.
class PaintContext {
 public:
  PaintContext();
  ~PaintContext();
  PaintContext(const PaintContext&) = delete;
  PaintContext& operator=(const PaintContext&) = delete;
  HDC Handle() const { return handle_; }
  DeviceContext Get() const;

 private:
  HDC handle_;
};

// The colour of a brush; false when the handle is none.
bool BrushColour(HBRUSH brush, COLORREF* colour);
// The images of a bitmap (one) or an icon (each size it has).
std::vector<std::shared_ptr<const Image>> ImagesOf(HANDLE object);
// The image of an icon nearest in size; nullptr for no icon.
std::shared_ptr<const Image> IconImage(HICON icon, int size);

}  // namespace cehost
