// Texture loading for the track's data readers (ground tiles, roost, sky, flares). The texture
// manager of the renderer installs the loader; headless programs install none and every id
// stays 0 while the names are kept.
#pragma once

using TrackTextureLoader = int (*)(const char* name);
void track_set_texture_loader(TrackTextureLoader loader);
// Texture id for a name, 0 when no loader is installed or the texture could not be loaded.
int track_texture_load(const char* name);
