#pragma once

// SQLite keeps the write-ahead log's index in the memory-mapped "-shm" file
// beside the database. It grows that file by writing one byte at the end of
// each 4 KiB page, which on a file system with smaller blocks leaves holes;
// a write into a hole through the mapping then needs a block, and on a full
// disk the kernel answers with SIGBUS instead of an error. This installs, as
// SQLite's default, a thin layer over its own "unix" file system layer that
// allocates every block of a new index region before SQLite maps it, so
// that a full disk is an SQLITE_FULL error and never a signal. Once per
// process, before the first connection; false when SQLite refused it.
bool installAllocatingShmLayer();
