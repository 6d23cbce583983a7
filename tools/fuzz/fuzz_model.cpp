// Model files: the ".vm" reader on arbitrary bytes, then CPU skinning of what it read with
// identity bones, so every index the reader kept is exercised.
#include <cstddef>
#include <cstdint>

#include "render/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Model* model = model_parse(data, size, "input.vm");
  ModelBone bones[MODEL_MAX_BONES] = {};
  for (ModelBone& bone : bones) bone.rotation[0] = bone.rotation[4] = bone.rotation[8] = 1;
  for (Model* part = model; part; part = part->next_part) model_skin(part, bones, part->bone_count);
  model_free(model);
  return 0;
}
