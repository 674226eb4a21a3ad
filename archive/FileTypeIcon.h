// The file-type picture of an entry, chosen from the two characters before the last one of its
// name (so "clip.mpg" is an mp3 and "PIC.BMP" is unknown: the comparison is case-sensitive).
#pragma once

#include <array>
#include <string_view>

enum FileTypeIcon : int {
    IconMp3 = 0,
    IconGdb = 1,
    IconPcx = 2,
    IconTga = 3,
    IconPng = 4,
    IconBmp = 5,
    IconWav = 6,
    IconBsp = 7,
    IconMdl = 8,
    IconTxt = 9,
    IconUnknown = 10,
    IconApd = 11,
};

inline constexpr int kFileTypeIconCount = 12;

FileTypeIcon ClassifyName(std::string_view name);

// The three-letter label drawn in each picture, in picture order.
std::string_view FileTypeLabel(FileTypeIcon icon);
