// Opening one name inside an open folder, never following a symlink: the only way extraction
// reaches anything beneath its destination. Every call takes a folder's descriptor and a single
// part (no '/', never "." or ".."), so what another user swaps in the folder meanwhile cannot
// lead anywhere else.
#pragma once

// Opens the folder `part` inside `parent` as a handle for the *at calls. -1 with errno: ELOOP
// for a symlink, ENOTDIR for anything else that is not a folder.
int OpenFolderBeneath(int parent, const char* part);

// Creates the file `part` inside `parent` for writing; it must not exist (a symlink there is
// never followed: EEXIST).
int CreateFileBeneath(int parent, const char* part);
