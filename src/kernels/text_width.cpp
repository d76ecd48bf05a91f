#include "kernels/text_width.hpp"

#include <iterator>

namespace kernels {

namespace {

struct Range {
  char32_t first, last;
};

bool within(char32_t c, const Range* begin, const Range* end) {
  for (const Range* r = begin; r != end; ++r)
    if (c >= r->first && c <= r->last) return true;
  return false;
}

// Combining marks, and the zero-width and direction format characters.
constexpr Range kZero[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD},
                           {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0E31, 0x0E31},
                           {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
                           {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064},
                           {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
                           {0xFEFF, 0xFEFF}};

constexpr Range kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0xA4CF},
                           {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
                           {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
                           {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};

}  // namespace

int displayWidth(std::string_view text) {
  int width = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {  // ASCII, below every range: the listing's common case
      ++width;
      ++i;
      continue;
    }
    const size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    char32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
    for (size_t k = 1; k < n && i + k < text.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += n;
    if (within(c, std::begin(kZero), std::end(kZero))) continue;
    width += within(c, std::begin(kWide), std::end(kWide)) ? 2 : 1;
  }
  return width;
}

}  // namespace kernels
