// Everything a mount shows, walked through the mount's handlers the way the kernel calls them
// (folder listings, lookups, attributes, reads in steps, a read behind the last one), with the
// rules every answer must keep checked on the way. Used by the defect table and the fuzz target.
#pragma once

#include "MountTree.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

struct MountWalk {
    std::string tree;                         // as ListTree shows a folder
    std::map<std::string, std::string> files; // the bytes of each file that reads whole
    std::map<std::string, int> failed;        // each file whose reads failed: the error
    std::string broken;                       // the first rule a handler broke; empty if none
};

// Reads every file in reads of `step` bytes, then its first step again; lets go of every node
// it looked up once done. Once `budget` bytes were read, further files are only listed.
MountWalk WalkMount(MountTree& mount, std::size_t step, std::uint64_t budget = UINT64_MAX);
