// The texture manager: names, aliases, the cache with generations, uploads and animations.
#include "render/textures.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/console.h"
#include "files/vfs.h"
#include "render/gl_caps.h"

int64_t texture_memory = 0;
int texture_generation = 0;
int texture_reduction = 1;
int texture_compress = 0;

namespace {

struct TextureEntry {
  GLuint id;
  int generation;
  int64_t bytes;
  std::string info;
  std::string name;
};

struct TextureAlias {
  std::string name, target;
};

struct TextureAnim {
  GLuint id;
  TextureSeq seq;
  int32_t start_tick;
  bool stopped;
  int current_image;
};

std::vector<TextureEntry> entries;
std::vector<TextureAlias> aliases;
std::vector<TextureAnim> anims;
std::vector<std::unique_ptr<SoftImage>> soft_images;  // held apart so pointers to them stay valid

// The target of a link not loaded yet; a link that leads back to itself ends here.
const char* const LINK_PLACEHOLDER = "@colors/white.png";

bool is_pow2(int n) { return n > 0 && (n & (n - 1)) == 0; }

TextureAlias* alias_find(const std::string& name) {
  for (TextureAlias& a : aliases)
    if (a.name == name) return &a;
  return nullptr;
}

void alias_set(const std::string& name, const std::string& target) {
  if (TextureAlias* a = alias_find(name))
    a->target = target;
  else
    aliases.push_back(TextureAlias{name, target});
}

// A '!' in front asks for full size; an alias replaces the name.
std::string resolve_name(const char* requested, bool* full_size) {
  *full_size = requested[0] == '!';
  std::string name = requested + (*full_size ? 1 : 0);
  if (const TextureAlias* a = alias_find(name)) name = a->target;
  return name;
}

// Finds name in a list by exact spelling, else by spelling that differs only in case (with a
// warning). Index or -1.
const std::string& name_of(const TextureEntry& e) { return e.name; }
const std::string& name_of(const std::unique_ptr<SoftImage>& image) { return image->name; }

template <typename List>
int find_by_name(const List& list, const std::string& name) {
  for (size_t i = 0; i < list.size(); i++)
    if (name_of(list[i]) == name) return static_cast<int>(i);
  for (size_t i = 0; i < list.size(); i++) {
    if (strcasecmp(name_of(list[i]).c_str(), name.c_str()) == 0) {
      console_printf("Warning: case mismatch on '%.900s'", name.c_str());
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool stale(int generation) { return generation != 0 && generation != texture_generation; }

// Reads a whole file through the file system; false when it cannot be opened.
bool read_file(const std::string& name, std::vector<uint8_t>& bytes) {
  VfsFile* file = vfs_open(name.c_str(), "rb");
  if (!file) {
    if (debug_level >= 1) console_printf("Can't open texture \"%.900s\"", name.c_str());
    return false;
  }
  bool ok = image_read_all(file, bytes);
  vfs_close(file);
  return ok;
}

// What a level takes of texture memory.
int64_t level_bytes(int width, int height, int depth, int level, bool compressed) {
  if (compressed) {
    GLint size = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB, &size);
    return size;
  }
  return int64_t{width} * height * depth;
}

// Uploads a prepared chain into a new texture; adds its size to texture_memory and *bytes.
GLuint upload(const MipChain& chain, unsigned flags, int64_t* bytes) {
  const bool compressed = (flags & TEXTURE_COMPRESS) && gl_caps_compression_usable(gl_caps);
  GLenum format = chain.depth == 4 ? GL_RGBA : chain.depth == 1 ? GL_LUMINANCE : GL_RGB;
  GLenum internal = format;
  if (compressed && chain.depth != 1) internal = chain.depth == 4 ? GL_COMPRESSED_RGBA_ARB : GL_COMPRESSED_RGB_ARB;
  GLuint id = 0;
  glGenTextures(1, &id);
  if (!id) return 0;
  glBindTexture(GL_TEXTURE_2D, id);
  while (glGetError() != GL_NO_ERROR) {
  }
  const bool repeat_s = flags & TEXTURE_REPEAT_S, repeat_t = flags & TEXTURE_REPEAT_T;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, repeat_s ? GL_REPEAT : GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, repeat_t ? GL_REPEAT : GL_CLAMP);
  if (!repeat_s) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  if (!repeat_t) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  const bool edge_clamp = glGetError() == GL_NO_ERROR;
  const bool single = flags & TEXTURE_SINGLE_LEVEL;
  GLint min_filter = edge_clamp ? (single ? GL_LINEAR : GL_LINEAR_MIPMAP_NEAREST)
                                : (single ? GL_NEAREST : GL_NEAREST_MIPMAP_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  float border[4];
  texture_border_colour(chain, border);
  glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const int levels = single ? 1 : mip_level_count(chain.width, chain.height);
  if (single) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  for (int level = 0; level < levels; level++) {
    const int w = mip_level_width(chain.width, level), h = mip_level_height(chain.height, level);
    const uint8_t* pixels = chain.pixels.data() + mip_level_offset(chain.width, chain.height, chain.depth, level);
    glTexImage2D(GL_TEXTURE_2D, level, static_cast<GLint>(internal), w, h, 0, format, GL_UNSIGNED_BYTE, pixels);
    const int64_t used = level_bytes(w, h, chain.depth, level, compressed);
    texture_memory += used;
    *bytes += used;
  }
  return id;
}

// Rounds, reduces and uploads a chain; name is for messages, info holds the image's tags for
// rebuilding the chain.
GLuint create(MipChain chain, unsigned flags, const char* name, const char* info, int64_t* bytes) {
  if (chain.width < 1 || chain.height < 1 || chain.pixels.empty()) return 0;
  mip_chain_round_pow2(chain, info);
  const int original_width = chain.width, original_height = chain.height;
  if (!(flags & TEXTURE_KEEP_LEVELS)) {
    texture_reduce_by_setting(chain, (flags & TEXTURE_FULL_SIZE) ? 0 : texture_reduction);
    if (texture_reduce_by_content(chain) > 0)
      console_printf("%.64s reduced to %dx%d (originally %dx%d)", name, chain.width, chain.height,
                     original_width, original_height);
  }
  return upload(chain, flags, bytes);
}

void add_entry(GLuint id, int64_t bytes, std::string info, const std::string& name) {
  entries.push_back(TextureEntry{id, texture_generation, bytes, std::move(info), name});
}

// An ".seq" animation: the texture shows the first frame's image.
GLuint load_anim(const std::vector<uint8_t>& bytes, unsigned flags, const std::string& name, int64_t* used) {
  TextureSeq seq;
  std::string error;
  if (!texture_seq_parse(bytes.data(), bytes.size(), seq, &error)) {
    if (!error.empty()) console_print(error.c_str());
    return 0;
  }
  const MipChain& first = seq.images[static_cast<size_t>(seq.sequence[0])];
  // Frames are written over the texture level by level, so it keeps their size.
  GLuint id = create(first, flags | TEXTURE_KEEP_LEVELS, name.c_str(), "", used);
  if (!id) return 0;
  const int shown = seq.sequence[0];
  anims.push_back(TextureAnim{id, std::move(seq), 0, false, shown});
  return id;
}

}  // namespace

int texture_load(const char* requested) {
  if (!requested || !requested[0]) return 0;
  bool full_size;
  const std::string name = resolve_name(requested, &full_size);
  const int found = find_by_name(entries, name);
  if (found >= 0) {
    TextureEntry& e = entries[static_cast<size_t>(found)];
    if (stale(e.generation)) {
      e.generation = texture_generation;
      texture_memory += e.bytes;
    }
    return static_cast<int>(e.id);
  }
  std::vector<uint8_t> bytes;
  if (!read_file(name, bytes)) return 0;
  unsigned flags = texture_wrap_from_name(name.c_str()) | (full_size ? TEXTURE_FULL_SIZE : 0);
  ImageCursor in = image_cursor(bytes.data(), bytes.size());
  char word[16] = "";
  image_read_word(in, word);
  int64_t used = 0;
  GLuint id = 0;
  std::string info;
  if (!strcmp(word, "ANIM1")) {
    id = load_anim(bytes, flags, name, &used);
  } else if (!strcmp(word, "LINK")) {
    std::string target(reinterpret_cast<const char*>(bytes.data() + in.pos),
                       std::min<size_t>(bytes.size() - in.pos, 1023));
    const size_t first = target.find_first_not_of(" \t\r\n\f\v");
    const size_t last = target.find_last_not_of(" \t\r\n\f\v");
    target = first == std::string::npos ? "" : target.substr(first, last - first + 1);
    alias_set(name, LINK_PLACEHOLDER);
    const int target_id = target.empty() ? 0 : texture_load(target.c_str());
    if (target_id) alias_set(name, target);
    return target_id;
  } else {
    MipChain chain;
    if (!image_decode(bytes.data(), bytes.size(), name.c_str(), 0, chain, &info)) return 0;
    if (image_kind(bytes.data(), bytes.size()) == IMAGE_KIND_PNG) {
      if (info.find("[compress]") != std::string::npos) flags |= TEXTURE_COMPRESS;
      if (texture_compress == 0) flags &= ~TEXTURE_COMPRESS;
      if (texture_compress == 2) flags |= TEXTURE_COMPRESS;
    }
    if (!is_pow2(chain.width) || !is_pow2(chain.height))
      console_printf("Warning: Non power of 2 texture '%.950s'", name.c_str());
    id = create(std::move(chain), flags, name.c_str(), info.c_str(), &used);
  }
  if (!id) return 0;
  add_entry(id, used, std::move(info), name);
  return static_cast<int>(id);
}

const char* texture_name_of(int id) {
  for (const TextureEntry& e : entries)
    if (static_cast<int>(e.id) == id) return e.name.c_str();
  return nullptr;
}

const char* texture_info_of(int id) {
  for (const TextureEntry& e : entries)
    if (static_cast<int>(e.id) == id) return e.info.c_str();
  return nullptr;
}

int texture_create(MipChain chain, unsigned flags) {
  int64_t used = 0;
  GLuint id = create(std::move(chain), flags, "texture", "", &used);
  // Kept under an empty name so its memory is counted and purged with its generation.
  if (id) add_entry(id, used, "", "");
  return static_cast<int>(id);
}

int texture_create_plain(MipChain chain) { return texture_create(std::move(chain), 0); }

int texture_create_single(MipChain chain) { return texture_create(std::move(chain), TEXTURE_SINGLE_LEVEL); }

const SoftImage* soft_image_load(const char* requested) {
  if (!requested || !requested[0]) return nullptr;
  bool full_size;
  const std::string name = resolve_name(requested, &full_size);
  const int found = find_by_name(soft_images, name);
  if (found >= 0) {
    SoftImage& image = *soft_images[static_cast<size_t>(found)];
    if (stale(image.generation)) image.generation = texture_generation;
    return &image;
  }
  std::vector<uint8_t> bytes;
  if (!read_file(name, bytes)) return nullptr;
  ImageCursor in = image_cursor(bytes.data(), bytes.size());
  char word[16] = "";
  image_read_word(in, word);
  if (!strcmp(word, "ANIM1") || !strcmp(word, "LINK")) return nullptr;
  MipChain chain;
  std::string info;
  if (!image_decode(bytes.data(), bytes.size(), name.c_str(), 0, chain, &info)) return nullptr;
  mip_chain_round_pow2(chain, info.c_str());
  for (int count = full_size ? 0 : texture_reduction;
       count > 0 && int64_t{chain.width} * chain.height > 16384; count--)
    mip_chain_drop_top(chain);
  auto image = std::make_unique<SoftImage>();
  image->name = name;
  image->pixels = std::move(chain.pixels);
  image->width = chain.width;
  image->height = chain.height;
  image->depth = chain.depth;
  image->generation = texture_generation;
  soft_images.push_back(std::move(image));
  return soft_images.back().get();
}

const char* soft_image_name_of(const uint8_t* pixels) {
  for (const auto& image : soft_images)
    if (image->pixels.data() == pixels) return image->name.c_str();
  return nullptr;
}

void texture_anim_start(int id, int32_t tick) {
  for (TextureAnim& a : anims) {
    if (static_cast<int>(a.id) != id) continue;
    a.stopped = false;
    a.start_tick = tick;
  }
}

void texture_anim_stop(int id) {
  for (TextureAnim& a : anims)
    if (static_cast<int>(a.id) == id) a.stopped = true;
}

void texture_anims_update(int32_t tick) {
  for (TextureAnim& a : anims) {
    if (a.stopped) continue;
    const int frame = texture_anim_frame(tick, a.start_tick, a.seq.ticks_per_frame, a.seq.sequence_length,
                                         a.seq.loop != 0);
    const int image_index = a.seq.sequence[static_cast<size_t>(frame)];
    if (image_index == a.current_image) continue;
    const MipChain& image = a.seq.images[static_cast<size_t>(image_index)];
    const GLenum format = image.depth == 4 ? GL_RGBA : GL_RGB;
    glBindTexture(GL_TEXTURE_2D, a.id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int level = 0; level < mip_level_count(image.width, image.height); level++) {
      glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, mip_level_width(image.width, level),
                      mip_level_height(image.height, level), format, GL_UNSIGNED_BYTE,
                      image.pixels.data() + mip_level_offset(image.width, image.height, image.depth, level));
    }
    a.current_image = image_index;
  }
}

void textures_new_generation() {
  texture_generation++;
  texture_memory = 0;
}

void textures_purge(bool all) {
  for (size_t i = entries.size(); i-- > 0;) {
    TextureEntry& e = entries[i];
    if (!all && !stale(e.generation)) continue;
    if (debug_level >= 1) console_printf("deleting tid %d (%.900s)", static_cast<int>(e.id), e.name.c_str());
    glDeleteTextures(1, &e.id);
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (size_t i = soft_images.size(); i-- > 0;) {
    if (!all && !stale(soft_images[i]->generation)) continue;
    if (debug_level >= 1) console_printf("deleting image %.900s", soft_images[i]->name.c_str());
    soft_images.erase(soft_images.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (size_t i = anims.size(); i-- > 0;) {
    bool kept = false;
    for (const TextureEntry& e : entries) kept = kept || e.id == anims[i].id;
    if (kept) continue;
    if (debug_level >= 1) console_printf("deleting anim %d for tid %d", static_cast<int>(i), static_cast<int>(anims[i].id));
    anims.erase(anims.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (all) {
    std::vector<TextureEntry>().swap(entries);
    std::vector<std::unique_ptr<SoftImage>>().swap(soft_images);
    std::vector<TextureAnim>().swap(anims);
    std::vector<TextureAlias>().swap(aliases);
  }
}
