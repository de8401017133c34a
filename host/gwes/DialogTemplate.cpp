#include "DialogTemplate.h"

#include <string.h>

#include "common/Utf.h"
#include "coredll/Kernel.h"

namespace cehost {

namespace {

class Reader {
 public:
  Reader(const BYTE* base, size_t limit) : base_(base), limit_(limit) {}

  bool Bytes(void* out, size_t n) {
    if (n > limit_ - at_) return false;
    memcpy(out, base_ + at_, n);
    at_ += n;
    return true;
  }

  bool Word(WORD* value) { return Bytes(value, sizeof *value); }

  bool Skip(size_t n) {
    if (n > limit_ - at_) return false;
    at_ += n;
    return true;
  }

  // A variable field: 0x0000 for none, 0xFFFF and an ordinal, or text up to
  // its terminator.
  bool Field(WORD* ordinal, std::u16string* text) {
    *ordinal = 0;
    text->clear();
    WORD first;
    if (!Word(&first)) return false;
    if (first == 0x0000) return true;
    if (first == 0xFFFF) return Word(ordinal);
    for (WORD c = first; c != 0;) {
      text->push_back(static_cast<char16_t>(c));
      if (!Word(&c)) return false;
    }
    return true;
  }

  bool AlignToDword() {
    const size_t aligned = (at_ + 3) & ~static_cast<size_t>(3);
    if (aligned > limit_) return false;
    at_ = aligned;
    return true;
  }

 private:
  const BYTE* base_;
  size_t limit_;
  size_t at_ = 0;
};

bool ClassOf(WORD ordinal, const std::u16string& name, ControlClass* out) {
  for (ControlClass c : {ControlClass::Button, ControlClass::Edit, ControlClass::Static}) {
    const char16_t* named = c == ControlClass::Button ? u"BUTTON" : c == ControlClass::Edit ? u"EDIT" : u"STATIC";
    if (ordinal == static_cast<WORD>(c) || (ordinal == 0 && EqualsNoCase(name, named))) {
      *out = c;
      return true;
    }
  }
  return false;
}

bool Invalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

}  // namespace

bool ReadDialogTemplate(const void* source, size_t limit, Dialog* dialog) {
  if (!source) return Invalid();
  Reader reader(static_cast<const BYTE*>(source), limit);
  WORD ordinal;
  std::u16string text;
  if (!reader.Bytes(&dialog->record, sizeof dialog->record)) return Invalid();
  // An extended template begins with version 1 and signature 0xFFFF.
  if (dialog->record.style == 0xFFFF0001u) return Invalid();
  // A menu or a window class of its own: the host's window system has neither.
  if (!reader.Field(&ordinal, &text) || ordinal != 0 || !text.empty()) return Invalid();
  if (!reader.Field(&ordinal, &text) || ordinal != 0 || !text.empty()) return Invalid();
  if (!reader.Field(&ordinal, &dialog->title)) return Invalid();
  if (dialog->record.style & DS_SETFONT) {
    if (!reader.Word(&dialog->pointSize) || !reader.Field(&ordinal, &dialog->typeFace)) return Invalid();
  }
  dialog->items.assign(dialog->record.cdit, DialogItem{});
  for (DialogItem& item : dialog->items) {
    // Creation data goes to the control's WM_CREATE, which the host's
    // predefined controls do not read.
    WORD extra;
    if (!reader.AlignToDword() || !reader.Bytes(&item.record, sizeof item.record) ||
        !reader.Field(&ordinal, &text) || !reader.Field(&item.titleOrdinal, &item.title) || !reader.Word(&extra) ||
        !reader.Skip(extra)) {
      return Invalid();
    }
    if (!ClassOf(ordinal, text, &item.controlClass)) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return false;
    }
  }
  return true;
}

}  // namespace cehost
