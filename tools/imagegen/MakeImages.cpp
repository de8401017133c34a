// Draws Wendra's images: the lamp bitmaps 129 and 130, the banner 131 and
// the icon 128, as .bmp and .ico files into the directory given.
//
//   make-images logger/res
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgb {
  uint8_t r, g, b;
};

// The standard 16-colour palette of 4-bit bitmaps.
const Rgb kVga[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                      {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                      {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                      {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
constexpr int kSilver = 7, kGrey = 8, kYellow = 11;

void Put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
}

// BITMAPINFOHEADER.
void InfoHeader(std::vector<uint8_t>& out, int width, int height, int bits, uint32_t colours, uint32_t imageSize) {
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));
  Put16(out, 1);
  Put16(out, static_cast<unsigned>(bits));
  Put32(out, 0);
  Put32(out, imageSize);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, colours);
  Put32(out, 0);
}

// A palette bitmap file (4 or 8 bits), rows from the bottom up.
std::vector<uint8_t> PaletteBitmap(int width, int height, int bits, const std::vector<Rgb>& palette,
                                   const std::vector<int>& pixels) {
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  std::vector<uint8_t> bits_(stride * height, 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = &bits_[stride * (height - 1 - y)];
    for (int x = 0; x < width; ++x) {
      const int index = pixels[static_cast<size_t>(y) * width + x];
      if (bits == 8) {
        row[x] = static_cast<uint8_t>(index);
      } else {
        row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? index << 4 : index);
      }
    }
  }
  std::vector<uint8_t> out;
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(palette.size()) * 4;
  out.push_back('B');
  out.push_back('M');
  Put32(out, offset + static_cast<uint32_t>(bits_.size()));
  Put32(out, 0);
  Put32(out, offset);
  InfoHeader(out, width, height, bits, static_cast<uint32_t>(palette.size()), static_cast<uint32_t>(bits_.size()));
  for (const Rgb& c : palette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  out.insert(out.end(), bits_.begin(), bits_.end());
  return out;
}

// The lamp: a hollow dark grey ring on light grey, filled with yellow when on.
std::vector<uint8_t> Lamp(bool on) {
  const int size = 13;
  std::vector<int> pixels(size * size, kSilver);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double d = std::hypot(x - 6.0, y - 6.0);
      if (d >= 4.2 && d <= 6.3) pixels[y * size + x] = kGrey;
      if (on && d < 4.2) pixels[y * size + x] = kYellow;
    }
  }
  return PaletteBitmap(size, size, 4, std::vector<Rgb>(kVga, kVga + 16), pixels);
}

// Letters 5 wide and 7 high, '#' set.
const char* Glyph(char c) {
  switch (c) {
    case 'W': return "#...#" "#...#" "#...#" "#.#.#" "#.#.#" "#.#.#" ".#.#.";
    case 'e': return "....." "....." ".###." "#...#" "#####" "#...." ".####";
    case 'n': return "....." "....." "####." "#...#" "#...#" "#...#" "#...#";
    case 'd': return "....#" "....#" ".####" "#...#" "#...#" "#...#" ".####";
    case 'r': return "....." "....." "#.##." "##..." "#...." "#...." "#....";
    case 'a': return "....." "....." ".###." "....#" ".####" "#...#" ".####";
    default: return "";
  }
}

// The banner: the application's name in dark letters on light grey, with a
// grey and a white line along the bottom edge.
std::vector<uint8_t> Banner() {
  const int width = 56, height = 15;
  const std::vector<Rgb> palette = {{196, 196, 196}, {0, 0, 0}, {132, 132, 132}, {255, 255, 255}};
  std::vector<int> pixels(width * height, 0);
  const std::string name = "Wendra";
  const int advance = 6;
  const int left = (width - static_cast<int>(name.size()) * advance + 1) / 2;
  for (size_t i = 0; i < name.size(); ++i) {
    const char* glyph = Glyph(name[i]);
    for (int gy = 0; gy < 7; ++gy) {
      for (int gx = 0; gx < 5; ++gx) {
        if (glyph[gy * 5 + gx] == '#') pixels[(3 + gy) * width + left + static_cast<int>(i) * advance + gx] = 1;
      }
    }
  }
  for (int x = 0; x < width; ++x) {
    pixels[(height - 2) * width + x] = 2;
    pixels[(height - 1) * width + x] = 3;
  }
  return PaletteBitmap(width, height, 8, palette, pixels);
}

// The globe at one size, 0xAARRGGBB: blue sea, green land, black outline,
// transparent around it.
std::vector<uint32_t> Globe(int size) {
  std::vector<uint32_t> pixels(static_cast<size_t>(size) * size, 0);
  const double c = (size - 1) / 2.0, r = size / 2.0 - 0.5;
  const double outline = size >= 32 ? 1.6 : 1.0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double d = std::hypot(x - c, y - c);
      if (d > r) continue;
      uint32_t colour = 0xFF0000FFu;  // sea
      // Land: two continents on the sphere, in unit coordinates.
      const double u = (x - c) / r, v = (y - c) / r;
      if (std::hypot(u + 0.35, v + 0.3) < 0.38 || std::hypot(u - 0.3, v - 0.05) < 0.3 ||
          std::hypot(u - 0.1, v + 0.45) < 0.18 || std::hypot(u + 0.1, v - 0.55) < 0.2) {
        colour = 0xFF00A000u;
      }
      if (d > r - outline) colour = 0xFF000000u;
      pixels[static_cast<size_t>(y) * size + x] = colour;
    }
  }
  return pixels;
}

// An icon file with one 32-bit image per size (colour with alpha, then mask).
std::vector<uint8_t> Icon(const std::vector<int>& sizes) {
  std::vector<std::vector<uint8_t>> images;
  for (int size : sizes) {
    const std::vector<uint32_t> pixels = Globe(size);
    const size_t maskStride = ((static_cast<size_t>(size) + 31) / 32) * 4;
    std::vector<uint8_t> image;
    InfoHeader(image, size, size * 2, 32, 0, static_cast<uint32_t>(size * size * 4 + maskStride * size));
    for (int y = size - 1; y >= 0; --y) {
      for (int x = 0; x < size; ++x) {
        const uint32_t p = pixels[static_cast<size_t>(y) * size + x];
        image.push_back(p & 0xFF);
        image.push_back((p >> 8) & 0xFF);
        image.push_back((p >> 16) & 0xFF);
        image.push_back(p >> 24);
      }
    }
    for (int y = size - 1; y >= 0; --y) {
      std::vector<uint8_t> row(maskStride, 0);
      for (int x = 0; x < size; ++x) {
        if ((pixels[static_cast<size_t>(y) * size + x] >> 24) == 0) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
      image.insert(image.end(), row.begin(), row.end());
    }
    images.push_back(image);
  }
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<unsigned>(sizes.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    out.push_back(static_cast<uint8_t>(sizes[i]));
    out.push_back(static_cast<uint8_t>(sizes[i]));
    out.push_back(0);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, static_cast<uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-images DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool ok = Write(dir + "/LampOff.bmp", Lamp(false)) && Write(dir + "/LampOn.bmp", Lamp(true)) &&
                  Write(dir + "/Banner.bmp", Banner()) && Write(dir + "/Wendra.ico", Icon({32, 16}));
  if (!ok) {
    std::fprintf(stderr, "make-images: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
