// The GTK backend: each top-level window of the model as an undecorated X11
// window, its controls drawn at their pixel places with the colours of their
// last painting. GTK runs on a thread of its own; taps and clicks become
// messages posted to the window's thread, as the device's input does.
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "UiBackend.h"
#include "WindowModel.h"
#include "common/Utf.h"

// GLib defines them again, with the same values.
#undef TRUE
#undef FALSE
#include <gtk/gtk.h>

#include <cerrno>

namespace cehost {

namespace {

// The device's 9-point template font, MS P Gothic, is 12 pixels to the em.
// IPA P Gothic has its widths for kana and kanji but wider half-width
// letters (digits 0.63 em against 0.5 em): "N 35.6581000" would need 87
// pixels where the read-out has 71. Half-width text is therefore set in Mona,
// which keeps MS P Gothic's half-width widths, and the rest in IPA P Gothic.
const char kFont[] = "IPAPGothic";
const char kHalfWidthFont[] = "Mona";
constexpr double kFontPixels = 12.0;

struct Control {
  HWND hwnd;
  WindowKind kind;
  int id;
  std::u16string text;
  DWORD style;
  bool enabled;
  bool shown;
  RECT rect;
  PaintColours colours;
  std::shared_ptr<const Image> image;
};

struct Snapshot {
  bool found = false;
  RECT rect{};
  DWORD style = 0;
  bool shown = false;
  bool topMost = false;
  std::shared_ptr<const Image> icon;
  std::vector<Control> controls;  // top of the order first
};

Snapshot Take(HWND hwnd) {
  Snapshot s;
  std::lock_guard<std::mutex> lock(ModelMutex());
  Window* window = FindWindowLocked(hwnd);
  if (!window) return s;
  s.found = true;
  s.rect = window->rect;
  s.style = window->style;
  s.shown = window->shown;
  s.topMost = window->topMost;
  s.icon = window->icons[1];
  for (HWND child : window->children) {
    Window* c = FindWindowLocked(child);
    if (!c) continue;
    s.controls.push_back(Control{child, c->kind, static_cast<short>(c->id), c->text, c->style, c->enabled,
                                 c->shown, c->rect, c->colours, c->image});
  }
  return s;
}

LONG Border(DWORD style) { return (style & (WS_BORDER | WS_DLGFRAME)) ? 1 : 0; }

void SetColour(cairo_t* cr, COLORREF c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

void FillRect(cairo_t* cr, const RECT& r, COLORREF c) {
  SetColour(cr, c);
  cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
  cairo_fill(cr);
}

// A one-pixel edge: dark on the top and left, light on the bottom and right when sunken.
void Edge(cairo_t* cr, const RECT& r, bool sunken) {
  const COLORREF dark = RGB(128, 128, 128), light = RGB(255, 255, 255);
  SetColour(cr, sunken ? dark : light);
  cairo_rectangle(cr, r.left, r.top, r.right - r.left, 1);
  cairo_rectangle(cr, r.left, r.top, 1, r.bottom - r.top);
  cairo_fill(cr);
  SetColour(cr, sunken ? light : dark);
  cairo_rectangle(cr, r.left, r.bottom - 1, r.right - r.left, 1);
  cairo_rectangle(cr, r.right - 1, r.top, 1, r.bottom - r.top);
  cairo_fill(cr);
}

void DrawImage(cairo_t* cr, const Image& image, int x, int y) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int row = 0; row < image.height; ++row) {
    auto* line = reinterpret_cast<uint32_t*>(data + row * stride);
    for (int col = 0; col < image.width; ++col) {
      const uint32_t p = image.pixels[static_cast<size_t>(row) * image.width + col];
      const uint32_t a = p >> 24;  // premultiplied, as cairo wants it
      line[col] = a << 24 | (((p >> 16) & 0xFF) * a / 255) << 16 | (((p >> 8) & 0xFF) * a / 255) << 8 |
                  ((p & 0xFF) * a / 255);
    }
  }
  cairo_surface_mark_dirty(surface);
  cairo_set_source_surface(cr, surface, x, y);
  cairo_paint(cr);
  cairo_surface_destroy(surface);
}

enum class Align { Left, Centre, Right };

// Text in the template's font; an opaque background fills only behind the letters.
void DrawText(cairo_t* cr, const RECT& r, const std::u16string& text, Align align, bool middle, COLORREF colour,
              bool opaque, COLORREF background) {
  if (text.empty()) return;
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(kFont);
  pango_font_description_set_absolute_size(font, kFontPixels * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  const std::string utf8 = ToUtf8(text);
  pango_layout_set_text(layout, utf8.c_str(), -1);
  PangoAttrList* fonts = pango_attr_list_new();
  for (size_t start = 0; start < utf8.size();) {
    if (static_cast<unsigned char>(utf8[start]) >= 0x80) {
      ++start;
      continue;
    }
    size_t end = start;
    while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) < 0x80) ++end;
    PangoAttribute* halfWidth = pango_attr_family_new(kHalfWidthFont);
    halfWidth->start_index = static_cast<guint>(start);
    halfWidth->end_index = static_cast<guint>(end);
    pango_attr_list_insert(fonts, halfWidth);
    start = end;
  }
  pango_layout_set_attributes(layout, fonts);
  pango_attr_list_unref(fonts);
  int w, h;
  pango_layout_get_pixel_size(layout, &w, &h);
  const int width = r.right - r.left, height = r.bottom - r.top;
  const int x = r.left + (align == Align::Left ? 0 : align == Align::Right ? width - w : (width - w) / 2);
  const int y = r.top + (middle ? (height - h) / 2 : 0);
  cairo_save(cr);
  cairo_rectangle(cr, r.left, r.top, width, height);
  cairo_clip(cr);
  if (opaque) FillRect(cr, RECT{x, y, x + w, y + h}, background);
  SetColour(cr, colour);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
}

void DrawControl(cairo_t* cr, const Control& c) {
  const RECT& r = c.rect;
  const COLORREF fill = c.colours.painted ? c.colours.brush : kFaceColour;
  const COLORREF text = c.enabled ? (c.colours.painted ? c.colours.text : kTextColour) : RGB(128, 128, 128);
  switch (c.kind) {
    case WindowKind::Button:
      FillRect(cr, r, kFaceColour);
      Edge(cr, r, false);
      Edge(cr, RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, false);
      DrawText(cr, r, c.text, Align::Centre, true, text, false, 0);
      break;
    case WindowKind::Edit: {
      FillRect(cr, r, fill);
      Edge(cr, r, true);
      const Align align = (c.style & ES_RIGHT) ? Align::Right : (c.style & ES_CENTER) ? Align::Centre : Align::Left;
      // The text runs right inside the one-pixel edge, without a margin: only so
      // does the widest read-out, "W180.0000000", fit the device's 71 pixels.
      DrawText(cr, RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, c.text, align, true, text,
               c.colours.mode == OPAQUE, c.colours.painted ? c.colours.background : fill);
      break;
    }
    case WindowKind::Image:
      if (c.image) DrawImage(cr, *c.image, r.left, r.top);
      break;
    default: {
      FillRect(cr, r, fill);
      const DWORD type = c.style & SS_TYPEMASK;
      const Align align = type == SS_RIGHT ? Align::Right : type == SS_CENTER ? Align::Centre : Align::Left;
      DrawText(cr, r, c.text, align, (c.style & SS_CENTERIMAGE) != 0, text, c.colours.painted && c.colours.mode == OPAQUE,
               c.colours.background);
      break;
    }
  }
}

class GtkBackend : public UiBackend {
 public:
  bool Start() {
    std::unique_lock<std::mutex> lock(mutex_);
    thread_ = std::thread([this] { Run(); });
    thread_.detach();
    started_.wait(lock, [this] { return state_ != 0; });
    return state_ == 1;
  }

  void Changed(HWND hwnd) override {
    Invoke([this, hwnd] {
      auto it = windows_.find(hwnd);
      if (it == windows_.end()) return;
      const Snapshot s = Take(hwnd);
      if (s.icon) {
        if (GdkPixbuf* icon = Pixbuf(*s.icon)) {
          gtk_window_set_icon(GTK_WINDOW(it->second), icon);
          g_object_unref(icon);
        }
      }
      gtk_widget_queue_draw(it->second);
    });
  }

  void Placed(HWND hwnd) override {
    Invoke([this, hwnd] {
      const Snapshot s = Take(hwnd);
      if (!s.found) return;
      GtkWidget* window = WindowFor(hwnd);
      gtk_window_move(GTK_WINDOW(window), s.rect.left, s.rect.top);
      gtk_window_resize(GTK_WINDOW(window), std::max<LONG>(1, s.rect.right - s.rect.left),
                        std::max<LONG>(1, s.rect.bottom - s.rect.top));
      gtk_window_set_keep_above(GTK_WINDOW(window), s.topMost);
      if (s.shown) {
        gtk_widget_show_all(window);
        // Without a window manager the X server alone keeps the order.
        if (s.topMost && gtk_widget_get_window(window)) gdk_window_raise(gtk_widget_get_window(window));
      } else {
        gtk_widget_hide(window);
      }
      gtk_widget_queue_draw(window);
    });
  }

  void Foreground(HWND hwnd) override {
    Invoke([this, hwnd] {
      auto it = windows_.find(hwnd);
      if (it != windows_.end() && gtk_widget_get_visible(it->second)) gtk_window_present(GTK_WINDOW(it->second));
    });
  }

  void Destroyed(HWND hwnd) override {
    Invoke([this, hwnd] {
      auto it = windows_.find(hwnd);
      if (it == windows_.end()) return;
      gtk_widget_destroy(it->second);
      windows_.erase(it);
    });
  }

  void Beep(UINT) override {
    Invoke([] { gdk_display_beep(gdk_display_get_default()); });
  }

  bool ShowMessageBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT style,
                      std::function<void(int)> done) override {
    Invoke([this, owner, text, caption, style, done] {
      auto it = windows_.find(owner);
      const UINT icon = style & 0xF0;
      const GtkMessageType type = icon == MB_ICONHAND           ? GTK_MESSAGE_ERROR
                                  : icon == MB_ICONEXCLAMATION ? GTK_MESSAGE_WARNING
                                  : icon == MB_ICONQUESTION    ? GTK_MESSAGE_QUESTION
                                                               : GTK_MESSAGE_INFO;
      GtkWidget* dialog = gtk_message_dialog_new(it == windows_.end() ? nullptr : GTK_WINDOW(it->second),
                                                 GTK_DIALOG_MODAL, type, GTK_BUTTONS_OK, "%s", ToUtf8(text).c_str());
      gtk_window_set_title(GTK_WINDOW(dialog), ToUtf8(caption).c_str());
      gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
      auto* answer = new std::function<void(int)>(done);
      g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* d, gint, gpointer data) {
                         auto* callback = static_cast<std::function<void(int)>*>(data);
                         (*callback)(IDOK);
                         delete callback;
                         gtk_widget_destroy(GTK_WIDGET(d));
                       }),
                       answer);
      gtk_widget_show_all(dialog);
    });
    return true;
  }

 private:
  void Run() {
    gdk_set_allowed_backends("x11");
    const bool ok = gtk_init_check(nullptr, nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      state_ = ok ? 1 : 2;
      started_.notify_all();
    }
    if (ok) gtk_main();
  }

  static void Invoke(std::function<void()> work) {
    auto* call = new std::function<void()>(std::move(work));
    g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT,
                               +[](gpointer data) -> gboolean {
                                 (*static_cast<std::function<void()>*>(data))();
                                 return G_SOURCE_REMOVE;
                               },
                               call, +[](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  }

  static GdkPixbuf* Pixbuf(const Image& image) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    if (!pixbuf) return nullptr;
    guchar* data = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        const uint32_t p = image.pixels[static_cast<size_t>(y) * image.width + x];
        guchar* out = data + y * stride + x * 4;
        out[0] = (p >> 16) & 0xFF;
        out[1] = (p >> 8) & 0xFF;
        out[2] = p & 0xFF;
        out[3] = p >> 24;
      }
    }
    return pixbuf;
  }

  // On the GTK thread: the X11 window standing for a top-level window.
  GtkWidget* WindowFor(HWND hwnd) {
    auto it = windows_.find(hwnd);
    if (it != windows_.end()) return it->second;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_title(GTK_WINDOW(window), program_invocation_short_name);  // the window manager's name for it
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, 1, 1);
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    gtk_container_add(GTK_CONTAINER(window), area);
    auto* key = new HWND(hwnd);
    g_object_set_data_full(G_OBJECT(area), "hwnd", key, +[](gpointer p) { delete static_cast<HWND*>(p); });
    g_signal_connect(area, "draw", G_CALLBACK(+[](GtkWidget* widget, cairo_t* cr, gpointer) -> gboolean {
                       Draw(*static_cast<HWND*>(g_object_get_data(G_OBJECT(widget), "hwnd")), cr);
                       return TRUE;
                     }),
                     nullptr);
    g_signal_connect(area, "button-press-event", G_CALLBACK(+[](GtkWidget* widget, GdkEventButton* e, gpointer) -> gboolean {
                       g_object_set_data(G_OBJECT(widget), "pressed",
                                         Hit(*static_cast<HWND*>(g_object_get_data(G_OBJECT(widget), "hwnd")),
                                             static_cast<int>(e->x), static_cast<int>(e->y)));
                       return TRUE;
                     }),
                     nullptr);
    g_signal_connect(area, "button-release-event",
                     G_CALLBACK(+[](GtkWidget* widget, GdkEventButton* e, gpointer) -> gboolean {
                       Release(*static_cast<HWND*>(g_object_get_data(G_OBJECT(widget), "hwnd")),
                               g_object_get_data(G_OBJECT(widget), "pressed"), static_cast<int>(e->x),
                               static_cast<int>(e->y));
                       return TRUE;
                     }),
                     nullptr);
    windows_[hwnd] = window;
    return window;
  }

  static void Draw(HWND hwnd, cairo_t* cr) {
    const Snapshot s = Take(hwnd);
    const int width = s.rect.right - s.rect.left, height = s.rect.bottom - s.rect.top;
    FillRect(cr, RECT{0, 0, width, height}, kFaceColour);
    const LONG border = Border(s.style);
    if (border) {
      SetColour(cr, RGB(0, 0, 0));
      cairo_set_line_width(cr, 1);
      cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
      cairo_stroke(cr);
    }
    cairo_save(cr);
    cairo_translate(cr, border, border);
    cairo_rectangle(cr, 0, 0, width - 2 * border, height - 2 * border);
    cairo_clip(cr);
    // The first control is on top: drawn last.
    for (auto it = s.controls.rbegin(); it != s.controls.rend(); ++it) {
      if (it->shown) DrawControl(cr, *it);
    }
    cairo_restore(cr);
  }

  // The control under a client point that takes the tap itself: an enabled
  // button or an edit. Text and image controls let it through to the window.
  static gpointer Hit(HWND hwnd, int x, int y) {
    const Snapshot s = Take(hwnd);
    const LONG border = Border(s.style);
    const POINT p{x - border, y - border};
    for (const Control& c : s.controls) {
      if (!c.shown || p.x < c.rect.left || p.x >= c.rect.right || p.y < c.rect.top || p.y >= c.rect.bottom) continue;
      if ((c.kind == WindowKind::Button && c.enabled) || c.kind == WindowKind::Edit) return c.hwnd;
      if (c.style & SS_NOTIFY) return c.hwnd;
    }
    return nullptr;
  }

  static void Release(HWND hwnd, gpointer pressed, int x, int y) {
    const HWND target = static_cast<HWND>(Hit(hwnd, x, y));
    const LONG border = Border(Take(hwnd).style);
    if (!target) {
      PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x - border, y - border));
      return;
    }
    // A button clicks when pressed and released on it; an edit keeps the tap.
    if (target != static_cast<HWND>(pressed)) return;
    for (const Control& c : Take(hwnd).controls) {
      if (c.hwnd == target && c.kind == WindowKind::Button) {
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(c.id, BN_CLICKED), reinterpret_cast<LPARAM>(target));
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable started_;
  int state_ = 0;  // 1 running, 2 no display
  std::thread thread_;
  std::map<HWND, GtkWidget*> windows_;  // GTK thread only
};

}  // namespace

}  // namespace cehost

extern "C" cehost::UiBackend* CeCreateGtkBackend(void) {
  auto* backend = new cehost::GtkBackend;
  if (backend->Start()) return backend;
  delete backend;
  return nullptr;
}
