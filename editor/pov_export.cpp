// The track as a POV-Ray scene: the statues' models and placements, the billboards and the
// ground as a height field over terrain.png.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "files/replace.h"
#include "files/vfs.h"
#include "render/model.h"
#include "track/objects.h"
#include "track/terrain.h"

std::string pov_identifier(const char* name) {
  if (*name == '@') name++;
  const char* slash = strrchr(name, '/');
  const char* start = slash ? slash : name;
  const char* dot = strrchr(start, '.');
  const char* end = dot ? dot : start + strlen(start);
  std::string id;
  if (start < end && std::isdigit(static_cast<unsigned char>(*start))) id += '_';
  for (const char* p = start; p < end; p++) id += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return id;
}

namespace {

bool ends_with(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

void write_statues(VfsFile* file) {
  const auto& statues = track_objects.statues;
  if (statues.empty()) return;
  std::vector<std::string> declared;
  for (const Statue& s : statues) {
    if (s.model_name.empty()) continue;
    bool seen = false;
    for (const std::string& d : declared) seen = seen || d == s.model_name;
    if (seen) continue;
    const Model* model = model_load(s.model_name.c_str());
    if (!model) continue;  // nothing to declare: its statues are left out below
    declared.push_back(s.model_name);
    vfs_printf(file, "#declare %s = ", pov_identifier(s.model_name.c_str()).c_str());
    model_write_pov(file, model);
  }
  vfs_printf(file, "#declare statues = union {\n");
  for (const Statue& s : statues) {
    bool known = false;
    for (const std::string& d : declared) known = known || d == s.model_name;
    if (!known) continue;
    vfs_printf(file, "\tobject {\n\t\t%s\n", pov_identifier(s.model_name.c_str()).c_str());
    if (!s.texture_name.empty()) {
      const char* texture = s.texture_name.c_str();
      vfs_printf(file, "\t\ttexture { uv_mapping pigment { image_map { %s \"%s\"} } scale <1,-1,1> }\n",
                 ends_with(s.texture_name, ".ppm") ? "ppm" : "png", texture[0] == '@' ? texture + 1 : texture);
    }
    const float* m = s.orientation;
    vfs_printf(file, "\t\tmatrix <%f,%f,%f,%f,%f,%f,%f,%f,%f,0,0,0>\n", m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5],
               m[8]);
    vfs_printf(file, "\t\ttranslate <%f,%f,%f>\n", s.x, s.y, s.z);
    vfs_printf(file, "\t}\n");
  }
  vfs_printf(file, "}\n");
}

}  // namespace

void pov_export() {
  const Terrain* t = editor.terrain;
  if (!t) return;
  std::string name = std::string("@") + t->track_dir + "/track.pov";
  ReplaceSet set;
  VfsFile* file = replace_open(set, name.c_str());
  if (!file) return;
  write_statues(file);
  vfs_printf(file, "#declare billboards = union {\n");
  for (const Billboard& b : track_objects.billboards) {
    if (b.texture_name.empty()) continue;
    vfs_printf(file, "object {\n\t%s()\n\ttranslate <%f,%f,%f>\n}\n", pov_identifier(b.texture_name.c_str()).c_str(), b.x,
               b.y, b.z);
  }
  vfs_printf(file, "}\n");
  vfs_printf(file, "#declare ground = ");
  vfs_printf(file, "height_field {\n\tpng \"terrain.png\"\n");
  vfs_printf(file, "\tscale <1, 1, -1>\n\ttranslate <0, 0, 1>\n\tscale <%f,%f,%f>\n", t->extent,
             t->max_height - t->min_height, t->extent);
  vfs_printf(file, "\ttranslate <0,%f,0>\n}\n", t->min_height);
  replace_close(set, file);
  replace_finish(set);
}
