// PNG reading (texture form and 16-bit grey form) and writing through libpng, from and to
// memory. libpng reports errors by longjmp, so each call keeps all of its state in a record
// outside the frame that calls setjmp.
#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstring>

#include "render/image.h"

namespace {

// zlib cannot expand data by more than about 1032:1; image data that could not fill the
// image even at that ratio is refused before the pixel buffer is allocated.
constexpr uint64_t INFLATE_MAX_RATIO = 1032;

enum class PngForm { TEXTURE, GREY16 };

struct PngReader {
  ImageCursor in;
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngForm form = PngForm::TEXTURE;
  std::vector<uint8_t> pixels;
  std::vector<png_bytep> rows;
  std::string text;
  int width = 0;
  int height = 0;
  int channels = 0;
  int bit_depth = 0;
};

void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void on_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep out, png_size_t count) {
  PngReader* reader = static_cast<PngReader*>(png_get_io_ptr(png));
  ImageCursor& in = reader->in;
  if (in.size - in.pos < count) png_error(png, "truncated");
  memcpy(out, in.data + in.pos, count);
  in.pos += count;
}

uint32_t load_u32_be(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// Total length of the image data chunks (an upper bound of what inflate can start from).
uint64_t image_data_bytes(const uint8_t* data, size_t size) {
  uint64_t total = 0;
  size_t pos = 8;
  while (size - pos >= 12) {
    uint64_t length = load_u32_be(data + pos);
    if (!memcmp(data + pos + 4, "IDAT", 4)) total += length;
    if (length > size - pos - 12) break;
    pos += 12 + length;
  }
  return total;
}

// Everything between setjmp and the end of the read lives in *reader, so a longjmp out of
// libpng leaves nothing behind in this frame that the caller cannot free.
bool read_png(PngReader* reader) {
  if (setjmp(png_jmpbuf(reader->png))) return false;
  png_structp png = reader->png;
  png_infop info = reader->info;
  png_set_read_fn(png, reader, read_bytes);
  png_set_user_limits(png, IMAGE_MAX_SIDE, IMAGE_MAX_SIDE);
  png_read_info(png, info);

  png_uint_32 width, height;
  int bit_depth, colour_type, interlace;
  png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, &interlace, nullptr, nullptr);
  if (uint64_t(width) * height > uint64_t(IMAGE_MAX_PIXELS)) return false;
  // The stored samples, before any expansion, need at least this many inflated bytes.
  uint64_t stored_bytes = uint64_t(width) * height * png_get_channels(png, info) * bit_depth / 8;
  if (image_data_bytes(reader->in.data, reader->in.size) * INFLATE_MAX_RATIO < stored_bytes) return false;

  if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (reader->form == PngForm::TEXTURE) {
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (bit_depth == 16) png_set_strip_16(png);
    if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  } else {
    if (bit_depth == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    // Also the alpha that palette expansion makes from a transparency chunk.
    png_set_strip_alpha(png);
    if (colour_type & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(png, 1, -1, -1);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  reader->width = int(width);
  reader->height = int(height);
  reader->channels = png_get_channels(png, info);
  reader->bit_depth = png_get_bit_depth(png, info);
  size_t row_bytes = png_get_rowbytes(png, info);
  if (row_bytes != size_t(width) * reader->channels * (reader->bit_depth / 8)) return false;

  reader->pixels.resize(row_bytes * height);
  reader->rows.resize(height);
  for (png_uint_32 y = 0; y < height; y++) reader->rows[y] = reader->pixels.data() + y * row_bytes;
  png_read_image(png, reader->rows.data());
  png_read_end(png, info);

  // Text chunks before and after the image data, in file order.
  png_textp texts;
  int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; i++) {
    if (texts[i].text) reader->text.append(texts[i].text, texts[i].text_length ? texts[i].text_length : strlen(texts[i].text));
  }
  return true;
}

bool run_reader(PngReader& reader, const uint8_t* data, size_t size) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
  reader.in = image_cursor(data, size);
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  if (!reader.png) return false;
  reader.info = png_create_info_struct(reader.png);
  bool ok = reader.info && read_png(&reader);
  png_destroy_read_struct(&reader.png, reader.info ? &reader.info : nullptr, nullptr);
  reader.rows.clear();
  if (!ok) reader.pixels.clear();
  return ok;
}

struct PngWriter {
  std::vector<uint8_t>* out;
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* pixels;
  std::vector<png_bytep> rows;
  int width, height, colour_type, bit_depth;
  size_t row_bytes;
};

void write_bytes(png_structp png, png_bytep data, png_size_t count) {
  PngWriter* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
  writer->out->insert(writer->out->end(), data, data + count);
}

void flush_bytes(png_structp) {}

bool write_png(PngWriter* writer) {
  if (setjmp(png_jmpbuf(writer->png))) return false;
  png_structp png = writer->png;
  png_set_write_fn(png, writer, write_bytes, flush_bytes);
  png_set_IHDR(png, writer->info, writer->width, writer->height, writer->bit_depth, writer->colour_type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, writer->info);
  // 16-bit samples are stored most significant byte first.
  if (writer->bit_depth == 16 && std::endian::native == std::endian::little) png_set_swap(png);
  writer->rows.resize(writer->height);
  for (int y = 0; y < writer->height; y++) writer->rows[y] = const_cast<png_bytep>(writer->pixels + y * writer->row_bytes);
  png_write_image(png, writer->rows.data());
  png_write_end(png, nullptr);
  return true;
}

bool run_writer(const void* pixels, int width, int height, int colour_type, int bit_depth, int bytes_per_pixel,
                std::vector<uint8_t>& out) {
  out.clear();
  if (!pixels || width < 1 || height < 1 || width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE) return false;
  PngWriter writer;
  writer.out = &out;
  writer.pixels = static_cast<const uint8_t*>(pixels);
  writer.width = width;
  writer.height = height;
  writer.colour_type = colour_type;
  writer.bit_depth = bit_depth;
  writer.row_bytes = size_t(width) * bytes_per_pixel;
  writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  if (!writer.png) return false;
  writer.info = png_create_info_struct(writer.png);
  bool ok = writer.info && write_png(&writer);
  png_destroy_write_struct(&writer.png, writer.info ? &writer.info : nullptr);
  if (!ok) out.clear();
  return ok;
}

}  // namespace

bool image_decode_png(const uint8_t* data, size_t size, Image& out, std::string* info) {
  out = Image{};
  if (info) info->clear();
  PngReader reader;
  reader.form = PngForm::TEXTURE;
  if (!run_reader(reader, data, size)) return false;
  out.pixels = std::move(reader.pixels);
  out.width = reader.width;
  out.height = reader.height;
  out.depth = reader.channels;
  if (info) *info = std::move(reader.text);
  return true;
}

bool image_decode_png_grey16(const uint8_t* data, size_t size, GreyImage16& out) {
  out = GreyImage16{};
  PngReader reader;
  reader.form = PngForm::GREY16;
  if (!run_reader(reader, data, size)) return false;
  size_t count = size_t(reader.width) * reader.height;
  out.samples.resize(count);
  if (reader.bit_depth == 16) {
    memcpy(out.samples.data(), reader.pixels.data(), count * 2);
  } else {
    for (size_t i = 0; i < count; i++) out.samples[i] = uint16_t(reader.pixels[i] * 257);
  }
  out.width = reader.width;
  out.height = reader.height;
  return true;
}

bool image_encode_png(const uint8_t* pixels, int width, int height, int depth, std::vector<uint8_t>& out) {
  int colour_type = depth == 1 ? PNG_COLOR_TYPE_GRAY : depth == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA;
  if (depth != 1 && depth != 3 && depth != 4) {
    out.clear();
    return false;
  }
  return run_writer(pixels, width, height, colour_type, 8, depth, out);
}

bool image_encode_png_grey16(const uint16_t* samples, int width, int height, std::vector<uint8_t>& out) {
  return run_writer(samples, width, height, PNG_COLOR_TYPE_GRAY, 16, 2, out);
}
