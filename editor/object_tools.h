// The editor's object tools: checkpoints and their switch points, billboards, statues and
// decals of the loaded track. Each change sets the terrain's changed mask.
#pragma once

// Timing gates (tool 11).
void checkpoint_press();
void checkpoint_drag();
// "Set AI Switch Point" (set = true) / "Clear AI Switch Point" for the selected checkpoint.
void checkpoint_switch_point(bool set);
// The switch-point line of the selected checkpoint.
const char* checkpoint_switch_text();

// Billboards (tool 12).
void billboard_press();
void billboard_drag();
void billboard_delete();
void billboard_height_changed();

// Statues (tool 13).
void statue_press();
void statue_drag();
void statue_delete();
void statue_duplicate();
void statue_interpolate();
void statue_snap_to_gradient();

// Decals (tool 15); nothing happens when the track has no decal list.
void decal_press();
void decal_drag();
// 'x' (within the pick size) or 'X' (within the brush radius).
void decal_delete(bool whole_brush);
void decal_duplicate();
// 'm' toggles (add_only false) or 'M' adds group membership near the pointer.
void decal_group_toggle(bool add_only);
void decal_group_scale(float factor);
