// JPEG through libjpeg-turbo straight into its BGR output; libjpeg's errors
// come back through longjmp into the one function that owns the decoder.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "scrivane/DecodeSteps.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"

namespace scrivane {

namespace {

struct JpegErrors {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool truncated = false;
};

void OnError(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }

void OnMessage(j_common_ptr info, int level) {
  // Warnings are silent; data that ends before the last row is remembered so
  // that a half-grey picture is not passed on as the scan.
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  if (level < 0 && errors->mgr.msg_code == JWRN_JPEG_EOF) errors->truncated = true;
}

enum class Step { header, size, convert, buffer, pixels, done };

// Runs libjpeg; returns the step that failed (or done) and the libjpeg code.
// Only trivially destructible objects live across setjmp.
Step RunDecoder(const std::vector<std::uint8_t>& bytes, DecodedImage& image, int& code) {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  cinfo.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = OnError;
  errors.mgr.emit_message = OnMessage;
  volatile Step step = Step::header;
  if (setjmp(errors.jump) != 0) {
    code = errors.mgr.msg_code;
    jpeg_destroy_decompress(&cinfo);
    return step;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxDecoderWorkBytes;
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  image.width = std::int32_t(cinfo.image_width);
  image.height = std::int32_t(cinfo.image_height);
  const std::uint64_t pixelBytes = std::uint64_t(cinfo.image_width) * cinfo.image_height * 3;
  Step refused = Step::done;
  if (cinfo.image_width == 0 || cinfo.image_height == 0)
    refused = Step::size;
  else if (cinfo.jpeg_color_space != JCS_GRAYSCALE && cinfo.jpeg_color_space != JCS_YCbCr &&
           cinfo.jpeg_color_space != JCS_RGB)
    refused = Step::convert;
  else if (pixelBytes > 4294967295u || cinfo.image_width > kMaxImageSide || cinfo.image_height > kMaxImageSide ||
           std::uint64_t(cinfo.image_width) * cinfo.image_height > kMaxImagePixels)
    refused = Step::buffer;
  if (refused != Step::done) {
    jpeg_destroy_decompress(&cinfo);
    return refused;
  }
  cinfo.out_color_space = JCS_EXT_BGR;
  step = Step::pixels;
  jpeg_start_decompress(&cinfo);
  const std::size_t stride = std::size_t(cinfo.output_width) * 3;
  image.pixels.assign(stride * cinfo.output_height, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = image.pixels.data() + std::size_t(cinfo.output_scanline) * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (errors.truncated) {
    code = -1;
    return Step::pixels;
  }
  return Step::done;
}

}  // namespace

DecodedImage DecodeJpeg(const std::vector<std::uint8_t>& bytes) {
  DecodedImage image;
  int code = 0;
  const Step failed = RunDecoder(bytes, image, code);
  const std::uint32_t status =
      code < 0 ? decode_status::kJpegTruncated : decode_status::kJpegBase + std::uint32_t(code);
  switch (failed) {
    case Step::done: return image;
    case Step::header: RaiseDecodeError("WIC cannot decode first image frame: ", status);
    case Step::size: CheckImageSize(0, 0); break;
    case Step::convert: throw EEngineError("WIC cannot convert image to 24bpp BGR");
    case Step::buffer: CheckBufferSize(std::uint32_t(image.width), std::uint32_t(image.height)); break;
    case Step::pixels: break;
  }
  RaiseDecodeError("WIC CopyPixels failed: ", status);
}

}  // namespace scrivane
