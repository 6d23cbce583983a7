// Models: the ".vm" reader over a bounded cursor, clean-up (degenerate triangles, vertex weights,
// tangents), the cache with its level-of-detail chains, CPU skinning and the POV-Ray export.
#include "render/model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "core/console.h"
#include "files/vfs.h"
#include "render/image.h"

namespace {

// ---- Reading numbers the way the text format's scanf patterns do, within the bytes given.

struct TextCursor {
  const char* at;
  const char* end;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_space(TextCursor& in) {
  while (in.at < in.end && is_space(*in.at)) ++in.at;
}

size_t remaining(const TextCursor& in) { return size_t(in.end - in.at); }

// "%d": optional sign and decimal digits; values beyond 64 bits saturate.
bool read_int(TextCursor& in, int64_t* value) {
  skip_space(in);
  const char* p = in.at;
  bool negative = false;
  if (p < in.end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == in.end || !is_digit(*p)) return false;
  int64_t v = 0;
  for (; p < in.end && is_digit(*p); ++p) v = v > (INT64_MAX - 9) / 10 ? INT64_MAX : v * 10 + (*p - '0');
  *value = negative ? -v : v;
  in.at = p;
  return true;
}

// "%f", decimal only: sign, digits with an optional point, an optional exponent. A number
// beyond float range does not read.
bool read_float(TextCursor& in, float* value) {
  skip_space(in);
  const char* p = in.at;
  bool negative = false;
  if (p < in.end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* start = p;
  int digits = 0;
  for (; p < in.end && is_digit(*p); ++p) ++digits;
  if (p < in.end && *p == '.') {
    for (++p; p < in.end && is_digit(*p); ++p) ++digits;
  }
  if (digits == 0) return false;
  if (p < in.end && (*p == 'e' || *p == 'E')) {
    const char* e = p + 1;
    if (e < in.end && (*e == '+' || *e == '-')) ++e;
    if (e < in.end && is_digit(*e)) {
      while (e < in.end && is_digit(*e)) ++e;
      p = e;
    }
  }
  float v = 0;
  auto [stop, error] = std::from_chars(start, p, v, std::chars_format::general);
  if (error != std::errc() || stop != p || !std::isfinite(v)) return false;
  *value = negative ? -v : v;
  in.at = p;
  return true;
}

// "%1023s": a word of at most max characters (the rest stays for the next read).
bool skip_word(TextCursor& in, size_t max) {
  skip_space(in);
  size_t n = 0;
  while (in.at < in.end && !is_space(*in.at) && n < max) ++in.at, ++n;
  return n > 0;
}

// Whether count records of `numbers` numbers each can still fit: a number takes at least one
// character and a separator (white space or the next sign) from the second on. Keeps a bogus
// count from allocating before the reads fail.
bool fits(const TextCursor& in, int64_t count, int numbers) {
  if (count < 0) return false;
  if (count == 0) return true;
  const double needed = double(count) * numbers * 2 - 1;
  return needed <= double(remaining(in));
}

// ---- Clean-up.

void sub(const float* a, const float* b, double out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = double(a[i]) - double(b[i]);
}

void cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Drops triangles with an index out of range or (almost) no area; returns how many.
int drop_degenerate(Model& part) {
  std::vector<int32_t> kept;
  kept.reserve(part.triangles.size());
  int dropped = 0;
  for (size_t t = 0; t + 2 < part.triangles.size(); t += 3) {
    const int32_t* idx = &part.triangles[t];
    bool in_range = true;
    for (int k = 0; k < 3; ++k) in_range = in_range && idx[k] >= 0 && idx[k] < part.vertex_count;
    bool keep = in_range;
    if (keep) {
      double e1[3], e2[3], n[3];
      sub(&part.positions[3 * idx[1]], &part.positions[3 * idx[0]], e1);
      sub(&part.positions[3 * idx[2]], &part.positions[3 * idx[0]], e2);
      cross(e1, e2, n);
      keep = dot(n, n) >= MODEL_DEGENERATE_AREA2;
    }
    if (keep) {
      kept.insert(kept.end(), idx, idx + 3);
    } else {
      ++dropped;
    }
  }
  part.triangles = std::move(kept);
  part.triangle_count = int(part.triangles.size() / 3);
  return dropped;
}

// Per-vertex tangents from the texture coordinates, summed over the triangles and normalised.
void compute_tangents(Model& part) {
  constexpr double TINY = 1.0 / (1 << 20);  // 2^-20
  std::vector<double> sum(size_t(part.vertex_count) * 3, 0.0);
  for (size_t t = 0; t + 2 < part.triangles.size(); t += 3) {
    const int32_t* idx = &part.triangles[t];
    double e1[3], e2[3], tangent[3];
    sub(&part.positions[3 * idx[1]], &part.positions[3 * idx[0]], e1);
    sub(&part.positions[3 * idx[2]], &part.positions[3 * idx[0]], e2);
    const float* uv0 = &part.texcoords[2 * idx[0]];
    const float* uv1 = &part.texcoords[2 * idx[1]];
    const float* uv2 = &part.texcoords[2 * idx[2]];
    const double du1 = double(uv1[0]) - uv0[0], dv1 = double(uv1[1]) - uv0[1];
    const double du2 = double(uv2[0]) - uv0[0], dv2 = double(uv2[1]) - uv0[1];
    const double d = du1 * dv2 - du2 * dv1;
    if (std::fabs(d) >= TINY) {
      double bitangent[3], tb[3], n[3];
      for (int i = 0; i < 3; ++i) {
        tangent[i] = (e1[i] * dv2 - e2[i] * dv1) / d;
        bitangent[i] = (e2[i] * du1 - e1[i] * du2) / d;
      }
      cross(tangent, bitangent, tb);
      cross(e1, e2, n);
      if (dot(tb, n) <= 0) {
        for (double& c : tangent) c = -c;
      }
    } else {
      // No usable texture mapping: a tiny tangent along the longer edge, so that triangles
      // with a mapping decide the direction.
      const double l1 = dot(e1, e1), l2 = dot(e2, e2);
      const double* edge = l1 > l2 ? e1 : e2;
      const double length = std::sqrt(std::max(l1, l2));
      for (int i = 0; i < 3; ++i) tangent[i] = length > 0 ? edge[i] / length * TINY : (i == 0 ? TINY : 0);
    }
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < 3; ++i) sum[3 * size_t(idx[k]) + i] += tangent[i];
    }
  }
  part.tangents.assign(sum.size(), 0.0f);
  for (size_t v = 0; v < size_t(part.vertex_count); ++v) {
    const double* s = &sum[3 * v];
    const double length = std::sqrt(dot(s, s));
    float* out = &part.tangents[3 * v];
    if (length > 0 && std::isfinite(length)) {
      for (int i = 0; i < 3; ++i) out[i] = float(s[i] / length);
    } else {
      out[0] = 1;
    }
  }
}

// Keeps the four strongest bone weights of a vertex; true when a fifth had to replace one.
bool add_weight(float* weights, int32_t* bones, float weight, int bone) {
  int slot = 0;
  for (int k = 1; k < MODEL_BONE_SLOTS; ++k) {
    if (weights[k] < weights[slot]) slot = k;
  }
  const bool replaced = weights[slot] != 0;
  weights[slot] = weight;
  bones[slot] = bone;
  return replaced;
}

void normalise_weights(float* weights) {
  double total = 0;
  for (int k = 0; k < MODEL_BONE_SLOTS; ++k) total += weights[k];
  for (int k = 0; k < MODEL_BONE_SLOTS; ++k) {
    weights[k] = total > 0 ? float(weights[k] / total) : 1.0f / MODEL_BONE_SLOTS;
  }
}

// ---- One part.

// Reads V vertices and T triangles after a part's counts. False when any number is missing.
bool read_part_body(TextCursor& in, Model& part, int64_t vertices, int64_t triangles, int bones, const char* name,
                    ModelReadReport* report) {
  const int per_vertex = 8 + bones;
  if (!fits(in, vertices, per_vertex) || vertices > INT32_MAX / 3) return false;
  part.vertex_count = int(vertices);
  const size_t v_count = size_t(vertices);
  part.positions.resize(v_count * 3);
  part.normals.resize(v_count * 3);
  part.texcoords.resize(v_count * 2);
  if (bones > 0) {
    part.bone_count = bones;
    part.bone_weights.assign(v_count * MODEL_BONE_SLOTS, 0.0f);
    part.bone_indices.assign(v_count * MODEL_BONE_SLOTS, 0);
  }
  bool warned = false;
  for (size_t v = 0; v < v_count; ++v) {
    float values[8];
    for (float& value : values) {
      if (!read_float(in, &value)) return false;
    }
    std::copy(values, values + 3, &part.positions[3 * v]);
    std::copy(values + 3, values + 6, &part.normals[3 * v]);
    part.texcoords[2 * v] = values[6];
    part.texcoords[2 * v + 1] = 1 - values[7];
    if (bones == 0) continue;
    float* weights = &part.bone_weights[MODEL_BONE_SLOTS * v];
    int32_t* indices = &part.bone_indices[MODEL_BONE_SLOTS * v];
    for (int bone = 0; bone < bones; ++bone) {
      float w;
      if (!read_float(in, &w)) return false;
      if (w > 0 && add_weight(weights, indices, w, bone) && !warned) {
        warned = true;
        console_printf("Warning: vertex with more than 4 bone influences in '%.900s'", name);
        if (report) ++report->weight_warnings;
      }
    }
    normalise_weights(weights);
  }
  if (!fits(in, triangles, 3) || triangles > INT32_MAX / 3) return false;
  part.triangles.resize(size_t(triangles) * 3);
  for (int32_t& index : part.triangles) {
    int64_t value;
    if (!read_int(in, &value)) return false;
    index = value < 0 || value > INT32_MAX ? -1 : int32_t(value);
  }
  return true;
}

// The clean-up every part gets once read; returns the triangles dropped.
int finish_part(Model& part) {
  const int dropped = drop_degenerate(part);
  compute_tangents(part);
  if (part.bone_count > 0) {
    part.bind_positions = part.positions;
    part.bind_normals = part.normals;
    part.bind_tangents = part.tangents;
  }
  return dropped;
}

Model* parse_versioned(TextCursor& in, const char* name, ModelReadReport* report) {
  int64_t version;
  if (!read_int(in, &version) || (version != 1 && version != 2)) return nullptr;
  int64_t bones = 0;
  if (version == 2) {
    // The bone count and a name that is not used. More bones than the skinning supports is
    // refused rather than indexed past the bone tables.
    if (!read_int(in, &bones) || !skip_word(in, 1023)) return nullptr;
    if (bones < 0 || bones > MODEL_MAX_BONES) return nullptr;
  }
  Model* first = nullptr;
  Model** link = &first;
  for (;;) {
    float header[5];
    int64_t vertices = -1, triangles = -1;
    bool ok = true;
    for (float& h : header) ok = ok && read_float(in, &h);
    ok = ok && read_int(in, &vertices) && read_int(in, &triangles);
    Model* part = ok ? new Model : nullptr;
    if (part) {
      part->shininess = header[0];
      part->alpha = header[0] < 0 ? header[1] : 1.0f;
      std::copy(header + 2, header + 5, part->color);
      ok = read_part_body(in, *part, vertices, triangles, int(bones), name, report);
    }
    if (!ok) {
      delete part;
      break;
    }
    const int dropped = finish_part(*part);
    if (report) report->degenerate_triangles += dropped;
    *link = part;
    link = &part->next_part;
  }
  return first;
}

Model* parse_plain(TextCursor& in, const char* name, ModelReadReport* report) {
  int64_t vertices, triangles;
  if (!read_int(in, &vertices) || !read_int(in, &triangles)) return nullptr;
  Model* part = new Model;
  part->plain_form = true;
  if (!read_part_body(in, *part, vertices, triangles, 0, name, report)) {
    delete part;
    return nullptr;
  }
  const int dropped = finish_part(*part);
  if (report) report->degenerate_triangles += dropped;
  return part;
}

// ---- The cache.

std::vector<Model*> cache;
uint32_t current_generation = 0;
void (*release_hook)(Model*) = nullptr;

bool ends_with(const std::string& text, const char* tail) {
  const size_t n = strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// Puts the "_lod"n variants of base from the data file index into its chain, nearest first.
void load_lod_variants(Model* base, const std::string& name) {
  if (name.empty() || name[0] != '@') return;
  const size_t dot = name.rfind('.');
  const std::string stem = name.substr(1, (dot == std::string::npos || dot == 0 ? name.size() : dot) - 1) + "_lod";
  const char* const* list = vfs_file_list();
  std::vector<std::string> seen;
  for (int i = 0; list && list[i]; ++i) {
    const char* entry = list[i];
    if (strncasecmp(entry, stem.c_str(), stem.size()) != 0) continue;
    const char* digits = entry + stem.size();
    int n = 0;
    int count = 0;
    for (; is_digit(digits[count]); ++count) n = std::min(n * 10 + (digits[count] - '0'), 1000);
    if (count == 0) continue;
    // A stored variant is read through its plain name; the same level listed twice (plain
    // and compressed) is read once.
    std::string variant = entry;
    for (const char* tail : {".gz.scram", ".scram", ".gz"}) {
      if (ends_with(variant, tail)) {
        variant.resize(variant.size() - strlen(tail));
        break;
      }
    }
    if (std::find(seen.begin(), seen.end(), variant) != seen.end()) continue;
    seen.push_back(variant);
    Model* lod = model_read(("@" + variant).c_str());
    if (!lod) continue;
    lod->lod_distance = std::ldexp(1.0f, n);
    lod->generation = base->generation;
    Model** at = &base->next_lod;
    while (*at && (*at)->lod_distance <= lod->lod_distance) at = &(*at)->next_lod;
    lod->next_lod = *at;
    *at = lod;
  }
}

void free_chain(Model* model) {
  while (model) {
    Model* next_lod = model->next_lod;
    for (Model* part = model; part;) {
      Model* next = part->next_part;
      if (release_hook) release_hook(part);
      delete part;
      part = next;
    }
    model = next_lod;
  }
}

double distance2(const float* a, const float* b) {
  double d = 0;
  for (int i = 0; i < 3; ++i) d += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  return d;
}

void rotate(const float* r, const float* v, double out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = double(r[i]) * v[0] + double(r[3 + i]) * v[1] + double(r[6 + i]) * v[2];
}

void store_normalised(const double v[3], float* out) {
  const double length = std::sqrt(dot(v, v));
  for (int i = 0; i < 3; ++i) out[i] = length > 0 ? float(v[i] / length) : 0.0f;
}

void pov_vectors(VfsFile* file, const char* block, const std::vector<float>& values, int count, int width) {
  vfs_printf(file, "\t%s {\n\t\t%d\n", block, count);
  for (int i = 0; i < count; ++i) {
    const float* v = &values[size_t(i) * width];
    const char* comma = i + 1 < count ? "," : "";
    if (width == 3) {
      vfs_printf(file, "\t\t<%f,%f,%f>%s\n", v[0], v[1], v[2], comma);
    } else {
      vfs_printf(file, "\t\t<%f,%f>%s\n", v[0], v[1], comma);
    }
  }
  vfs_printf(file, "\t}\n");
}

}  // namespace

Model* model_parse(const uint8_t* data, size_t size, const char* name, ModelReadReport* report) {
  if (!name) name = "";
  if (!data) size = 0;
  TextCursor in{reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size};
  skip_space(in);
  Model* model;
  if (remaining(in) >= 2 && in.at[0] == 'V' && in.at[1] == 'M') {
    in.at += 2;
    model = parse_versioned(in, name, report);
  } else {
    model = parse_plain(in, name, report);
  }
  if (model) {
    for (const Model* part = model; part; part = part->next_part) {
      model->has_env_parts = model->has_env_parts || part->shininess == -1;
    }
  }
  return model;
}

Model* model_read(const char* name) {
  VfsFile* file = vfs_open(name, "rb");
  if (!file) return nullptr;
  std::vector<uint8_t> bytes;
  const bool whole = image_read_all(file, bytes) && bytes.size() <= MODEL_MAX_FILE_BYTES;
  vfs_close(file);
  if (!whole) return nullptr;
  ModelReadReport report;
  Model* model = model_parse(bytes.data(), bytes.size(), name, &report);
  if (model) model->name = name;
  if (report.degenerate_triangles > 0) {
    console_printf("%d degenerate triangles deleted in %.100s", report.degenerate_triangles, name);
  }
  return model;
}

void model_free(Model* model) { free_chain(model); }

Model* model_load(const char* name) {
  if (!name || !*name) return nullptr;
  Model* hit = nullptr;
  for (Model* m : cache) {
    if (m->name == name) {
      hit = m;
      break;
    }
  }
  if (!hit) {
    for (Model* m : cache) {
      if (strcasecmp(m->name.c_str(), name) == 0) {
        console_printf("Warning: case mismatch on '%.900s'", name);
        hit = m;
        break;
      }
    }
  }
  if (hit) {
    for (Model* lod = hit; lod; lod = lod->next_lod) lod->generation = current_generation;
    return hit;
  }
  Model* model = model_read(name);
  if (!model) return nullptr;
  model->generation = current_generation;
  load_lod_variants(model, model->name);
  cache.push_back(model);
  return model;
}

void models_new_generation() { ++current_generation; }
void models_set_generation(uint32_t generation) { current_generation = generation; }
uint32_t models_generation() { return current_generation; }
void models_set_release_hook(void (*release)(Model* part)) { release_hook = release; }
const std::vector<Model*>& models_cached() { return cache; }

void models_purge(bool all) {
  for (size_t i = cache.size(); i-- > 0;) {
    Model* m = cache[i];
    if (!all && (m->generation == 0 || m->generation == current_generation)) continue;
    if (debug_level >= 1) console_printf("deleting model %.900s", m->name.c_str());
    cache.erase(cache.begin() + std::ptrdiff_t(i));
    free_chain(m);
  }
  if (all) cache = {};
}

const Model* model_select_lod(const Model* base, const float p[3], const float c[3], float lod_scale,
                              float lod_bias) {
  if (!base) return nullptr;
  const double scaled2 = double(lod_scale) * lod_scale * distance2(p, c);
  const Model* at = base;
  while (at->next_lod) {
    const double reach = double(at->next_lod->lod_distance) - lod_bias;
    if (reach > 0 && scaled2 < reach * reach) break;
    at = at->next_lod;
  }
  return at;
}

bool model_skin(Model* part, const ModelBone* bones, int bone_count) {
  if (!part || !bones || part->bone_count == 0 || part->bone_count != bone_count) return false;
  for (size_t v = 0; v < size_t(part->vertex_count); ++v) {
    const float* weights = &part->bone_weights[MODEL_BONE_SLOTS * v];
    const int32_t* indices = &part->bone_indices[MODEL_BONE_SLOTS * v];
    double position[3] = {0, 0, 0}, normal[3] = {0, 0, 0}, tangent[3] = {0, 0, 0};
    for (int k = 0; k < MODEL_BONE_SLOTS; ++k) {
      const float w = weights[k];
      if (!(w > 0)) continue;
      const ModelBone& bone = bones[indices[k]];
      float local[3];
      for (int i = 0; i < 3; ++i) local[i] = part->bind_positions[3 * v + i] - bone.centre[i];
      double moved[3], n[3], t[3];
      rotate(bone.rotation, local, moved);
      rotate(bone.rotation, &part->bind_normals[3 * v], n);
      rotate(bone.rotation, &part->bind_tangents[3 * v], t);
      for (int i = 0; i < 3; ++i) {
        position[i] += w * (moved[i] + bone.translation[i]);
        normal[i] += w * n[i];
        tangent[i] += w * t[i];
      }
    }
    for (int i = 0; i < 3; ++i) part->positions[3 * v + i] = float(position[i]);
    store_normalised(normal, &part->normals[3 * v]);
    store_normalised(tangent, &part->tangents[3 * v]);
  }
  return true;
}

void model_write_pov(VfsFile* file, const Model* model) {
  if (!file || !model) return;
  const bool several = model->next_part != nullptr;
  if (several) vfs_printf(file, "union {\n");
  for (const Model* part = model; part; part = part->next_part) {
    vfs_printf(file, "mesh2 {\n");
    pov_vectors(file, "vertex_vectors", part->positions, part->vertex_count, 3);
    pov_vectors(file, "normal_vectors", part->normals, part->vertex_count, 3);
    pov_vectors(file, "uv_vectors", part->texcoords, part->vertex_count, 2);
    vfs_printf(file, "\tface_indices {\n\t\t%d\n", part->triangle_count);
    for (int t = 0; t < part->triangle_count; ++t) {
      const int32_t* idx = &part->triangles[size_t(t) * 3];
      vfs_printf(file, "\t\t<%d,%d,%d>%s\n", idx[0], idx[1], idx[2], t + 1 < part->triangle_count ? "," : "");
    }
    vfs_printf(file, "\t}\n}\n");
  }
  if (several) vfs_printf(file, "}\n");
}
