// Wendra's compiled resource script, read back through the platform's
// resource calls as a program on the device reads its own resources: dialog
// 102 record by record, the images and the icon.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// The packed template's words, walked as the dialog manager walks them.
class TemplateReader {
 public:
  TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size) {}

  template <typename Record>
  Record Read() {
    Record record{};
    if (at_ + sizeof record > size_) {
      ADD_FAILURE() << "template cut short at byte " << at_;
      at_ = size_;
      return record;
    }
    memcpy(&record, data_ + at_, sizeof record);
    at_ += sizeof record;
    return record;
  }

  // A variable field: "" for none, "#n" for an ordinal, else its text.
  std::u16string Field() {
    const WORD first = Read<WORD>();
    if (first == 0xFFFF) return u"#" + ToText(Read<WORD>());
    std::u16string text;
    for (WORD c = first; c != 0 && at_ < size_; c = Read<WORD>()) text.push_back(static_cast<char16_t>(c));
    return text;
  }

  void AlignToDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
  size_t Offset() const { return at_; }

 private:
  static std::u16string ToText(unsigned n) {
    std::u16string digits;
    do {
      digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    } while (n /= 10);
    return digits;
  }

  const BYTE* data_;
  size_t size_;
  size_t at_ = 0;
};

const BYTE* LoadOwnResource(WORD id, LPCWSTR type, DWORD* size) {
  const HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(id), type);
  if (!found) return nullptr;
  *size = SizeofResource(NULL, found);
  return static_cast<const BYTE*>(LockResource(LoadResource(NULL, found)));
}

struct Control {
  WORD id;
  const char16_t* controlClass;
  const char16_t* title;
  short x, y, cx, cy;
  DWORD style;
  DWORD exStyle;
};

// The next item of the template is this control.
void ExpectControl(TemplateReader& reader, const Control& expected) {
  reader.AlignToDword();
  const auto item = reader.Read<DLGITEMTEMPLATE>();
  EXPECT_EQ(expected.id, item.id);
  EXPECT_EQ(expected.style, item.style);
  EXPECT_EQ(expected.exStyle, item.dwExtendedStyle);
  EXPECT_EQ(expected.x, item.x);
  EXPECT_EQ(expected.y, item.y);
  EXPECT_EQ(expected.cx, item.cx);
  EXPECT_EQ(expected.cy, item.cy);
  // Class ordinals: 0x0080 button, 0x0081 edit, 0x0082 static; the resource
  // compiler may also write the class by its name.
  std::u16string controlClass = reader.Field();
  if (controlClass == u"#128") controlClass = u"BUTTON";
  if (controlClass == u"#129") controlClass = u"EDIT";
  if (controlClass == u"#130") controlClass = u"STATIC";
  for (char16_t& c : controlClass) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  EXPECT_EQ(expected.controlClass, controlClass);
  EXPECT_EQ(expected.title, reader.Field());
  EXPECT_EQ(0, reader.Read<WORD>());  // no creation data
}

TEST(WendraResourcesTest, Dialog102IsTheTableRecordByRecord) {
  DWORD size = 0;
  const BYTE* data = LoadOwnResource(102, RT_DIALOG, &size);
  ASSERT_TRUE(data) << GetLastError();
  TemplateReader reader(data, size);

  const auto dialog = reader.Read<DLGTEMPLATE>();
  EXPECT_EQ(0x90800A40u, dialog.style);
  EXPECT_EQ(0x80040000u, dialog.dwExtendedStyle);
  ASSERT_EQ(23, dialog.cdit);
  EXPECT_EQ(0, dialog.x);
  EXPECT_EQ(0, dialog.y);
  EXPECT_EQ(170, dialog.cx);
  EXPECT_EQ(144, dialog.cy);
  EXPECT_EQ(u"", reader.Field());  // no menu
  EXPECT_EQ(u"", reader.Field());  // no window class of its own
  EXPECT_EQ(u"", reader.Field());  // an empty title
  EXPECT_EQ(9, reader.Read<WORD>());
  EXPECT_EQ(u"ＭＳ Ｐゴシック", reader.Field());

  const DWORD edge = 0x00020000;
  const Control table[] = {
      {1000, u"BUTTON", u"ログ開始", 6, 35, 51, 50, 0x50010000, edge},
      {1001, u"BUTTON", u"ログ停止", 57, 35, 51, 50, 0x58010000, edge},
      {1002, u"BUTTON", u"最小化", 111, 35, 51, 50, 0x50010000, edge},
      {1003, u"BUTTON", u"終了", 111, 90, 51, 50, 0x50010000, edge},
      {1007, u"STATIC", u"#129", 1, 10, 7, 9, 0x5000000E, 0},
      {1008, u"STATIC", u"#130", 1, 10, 7, 9, 0x4000000E, 0},
      {1009, u"STATIC", u"#131", 0, 0, 25, 10, 0x5000000E, 0},
      {1020, u"STATIC", u"LOG", 9, 11, 16, 8, 0x50000200, 0},
      {1011, u"STATIC", u"#130", 1, 20, 7, 9, 0x5800000E, 0},
      {1012, u"STATIC", u"#129", 1, 20, 7, 9, 0x5000000E, 0},
      {0xFFFF, u"STATIC", u"RCV", 9, 20, 16, 8, 0x50020000, 0},
      {1013, u"BUTTON", u"Button1", 6, 90, 51, 50, 0x58010000, edge},
      {1014, u"BUTTON", u"Button2", 57, 90, 51, 50, 0x58010000, edge},
      {1015, u"EDIT", u"", 54, 5, 42, 10, 0x50000802, edge},
      {0xFFFF, u"STATIC", u"緯度:", 33, 5, 21, 10, 0x50020202, 0},
      {1016, u"EDIT", u"", 54, 15, 42, 10, 0x50000802, edge},
      {0xFFFF, u"STATIC", u"経度:", 33, 15, 21, 10, 0x50020202, 0},
      {1017, u"EDIT", u"", 123, 5, 18, 10, 0x50000802, edge},
      {0xFFFF, u"STATIC", u"最高速:", 96, 5, 27, 10, 0x50020202, 0},
      {0xFFFF, u"STATIC", u"km/h", 141, 5, 18, 10, 0x50020200, 0},
      {1018, u"EDIT", u"", 123, 15, 12, 10, 0x50010801, edge},
      {1019, u"EDIT", u"", 135, 15, 21, 10, 0x50000801, edge},
      {0xFFFF, u"STATIC", u"測位:", 99, 15, 24, 10, 0x50020002, 0},
  };
  for (const Control& expected : table) {
    SCOPED_TRACE("control " + std::to_string(&expected - table + 1));
    ExpectControl(reader, expected);
  }
  EXPECT_EQ(size, reader.Offset());
}

TEST(WendraResourcesTest, ImagesAndIconAreTheScriptsFiles) {
  // Bitmaps are device-independent bitmaps without the file's header.
  struct Bitmap {
    WORD id;
    LONG width, height;
    WORD bits;
  };
  for (const Bitmap& expected : {Bitmap{129, 13, 13, 4}, Bitmap{130, 13, 13, 4}, Bitmap{131, 56, 15, 8}}) {
    DWORD size = 0;
    const BYTE* data = LoadOwnResource(expected.id, RT_BITMAP, &size);
    ASSERT_TRUE(data) << expected.id;
    ASSERT_GE(size, 40u);
    LONG width, height;
    WORD bits;
    memcpy(&width, data + 4, 4);
    memcpy(&height, data + 8, 4);
    memcpy(&bits, data + 14, 2);
    EXPECT_EQ(expected.width, width) << expected.id;
    EXPECT_EQ(expected.height, height) << expected.id;
    EXPECT_EQ(expected.bits, bits) << expected.id;
    EXPECT_TRUE(LoadBitmapW(NULL, MAKEINTRESOURCEW(expected.id))) << expected.id;
  }

  // The icon's group names one RT_ICON image per size: 32 and 16 pixels.
  DWORD size = 0;
  const BYTE* group = LoadOwnResource(128, RT_GROUP_ICON, &size);
  ASSERT_TRUE(group);
  ASSERT_EQ(6u + 2 * 14, size);
  std::vector<int> widths;
  for (int i = 0; i < 2; ++i) {
    const BYTE* entry = group + 6 + 14 * i;
    WORD id;
    memcpy(&id, entry + 12, 2);
    DWORD imageSize = 0;
    EXPECT_TRUE(LoadOwnResource(id, RT_ICON, &imageSize)) << id;
    widths.push_back(entry[0]);
  }
  EXPECT_EQ((std::vector<int>{32, 16}), widths);

  // What a program does not have, with the platform's reasons.
  EXPECT_FALSE(FindResourceW(NULL, MAKEINTRESOURCEW(103), RT_DIALOG));
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
  EXPECT_FALSE(FindResourceW(NULL, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(6)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError());
  EXPECT_TRUE(FindResourceW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(102), RT_DIALOG));
}

// Loaded images are freed once, each by its own call; the system's brushes stay.
TEST(WendraResourcesTest, LoadedImagesAreFreedOnceEachByItsOwnCall) {
  const HICON icon = LoadIconW(NULL, MAKEINTRESOURCEW(128));
  ASSERT_TRUE(icon);
  const HBITMAP banner = LoadBitmapW(NULL, MAKEINTRESOURCEW(131));
  EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(banner)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_TRUE(DeleteObject(banner));
  EXPECT_FALSE(DeleteObject(banner));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_FALSE(DeleteObject(icon));
  EXPECT_TRUE(DestroyIcon(icon));
  const HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
  EXPECT_TRUE(DeleteObject(face));
  EXPECT_EQ(face, GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_TRUE(DeleteObject(face));
}

}  // namespace
