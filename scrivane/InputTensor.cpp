#include <algorithm>
#include <cmath>

#include "scrivane/ImageDecode.h"

namespace scrivane {

int ResizedWidth(std::int32_t width, std::int32_t height) {
  double rw = std::ceil(double(width) / double(height) * 48.0);
  rw = std::min(rw, double(kTensorWidth));
  return std::max(int(rw), 1);
}

namespace {
struct Tap {
  int i0, i1;
  double d;
};

// Source position of output sample `i` with pixel centres at half-integers.
Tap TapOf(int i, double scale, int size) {
  double f = (i + 0.5) * scale - 0.5;
  f = std::clamp(f, 0.0, double(size - 1));
  int i0 = int(std::floor(f));
  return {i0, std::min(i0 + 1, size - 1), f - i0};
}
}  // namespace

std::vector<float> BuildInputTensor(const DecodedImage& image) {
  const int w = image.width, h = image.height;
  const int rw = ResizedWidth(w, h);
  std::vector<float> tensor(kTensorFloats, 0.0f);
  const double sy = double(h) / kTensorHeight;
  const double sx = double(w) / rw;
  const std::size_t stride = std::size_t(w) * 3;
  const std::size_t plane = std::size_t(kTensorHeight) * kTensorWidth;
  std::vector<Tap> columns(rw);
  for (int x = 0; x < rw; ++x) columns[x] = TapOf(x, sx, w);
  for (int y = 0; y < kTensorHeight; ++y) {
    const Tap ty = TapOf(y, sy, h);
    const std::uint8_t* row0 = image.pixels.data() + std::size_t(ty.i0) * stride;
    const std::uint8_t* row1 = image.pixels.data() + std::size_t(ty.i1) * stride;
    for (int x = 0; x < rw; ++x) {
      const Tap& tx = columns[x];
      const std::size_t a = std::size_t(tx.i0) * 3, b = std::size_t(tx.i1) * 3;
      for (int c = 0; c < 3; ++c) {
        double v = (row0[a + c] * (1 - tx.d) + row0[b + c] * tx.d) * (1 - ty.d) +
                   (row1[a + c] * (1 - tx.d) + row1[b + c] * tx.d) * ty.d;
        float vf = float(v);
        tensor[c * plane + std::size_t(y) * kTensorWidth + x] = (vf / 255.0f - 0.5f) * 2.0f;
      }
    }
  }
  return tensor;
}

}  // namespace scrivane
