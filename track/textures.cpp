// The texture loader the track's data readers call.
#include "track/textures.h"

namespace {
TrackTextureLoader texture_loader = nullptr;
}

void track_set_texture_loader(TrackTextureLoader loader) {
  texture_loader = loader;
}

int track_texture_load(const char* name) {
  return texture_loader ? texture_loader(name) : 0;
}
