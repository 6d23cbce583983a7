// The modes of skorvan-bench: each builds its own fixture, measures, and prints figures.
#pragma once

// Index over 10,000 small loose files and a few archives; optional argument: scratch folder.
int bench_vfs_index(int argc, char** argv);
