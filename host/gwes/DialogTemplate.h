// A dialog template as the dialog manager reads it: the packed DLGTEMPLATE
// record and its variable fields, then per control, aligned to a DWORD, the
// packed DLGITEMTEMPLATE record and its own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace cehost {

// The predefined control classes of a template, by their ordinals.
enum class ControlClass { Button = 0x0080, Edit = 0x0081, Static = 0x0082 };

struct DialogItem {
  DLGITEMTEMPLATE record;
  ControlClass controlClass;
  WORD titleOrdinal = 0;  // an image control's bitmap; 0 for a text
  std::u16string title;
};

struct Dialog {
  DLGTEMPLATE record;
  std::u16string title;
  WORD pointSize = 0;  // with DS_SETFONT
  std::u16string typeFace;
  std::vector<DialogItem> items;
};

// Reads a template of at most limit bytes; one handed to the indirect call
// has no known size and is trusted as on the device. False with
// ERROR_INVALID_PARAMETER when it is cut short, has a menu or a window class
// of its own, or is an extended template (which the host does not read), and
// with ERROR_CANNOT_FIND_WND_CLASS when a control names a class other than
// a button, an edit or a static control.
bool ReadDialogTemplate(const void* source, size_t limit, Dialog* dialog);

}  // namespace cehost
