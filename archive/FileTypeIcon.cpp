// Picture choice by the third- and second-last characters of an entry name.
#include "FileTypeIcon.h"

namespace {
constexpr std::array<std::string_view, kFileTypeIconCount> kLabels = {
    "mp3", "gdb", "pcx", "tga", "png", "bmp", "wav", "bsp", "mdl", "txt", "unk", "apd"};
}

FileTypeIcon ClassifyName(std::string_view name) {
    if (name.size() < 3)
        return IconUnknown;
    const char a = name[name.size() - 3];
    const char b = name[name.size() - 2];
    switch (a) {
    case 'm':
        return b == 'p' ? IconMp3 : b == 'd' ? IconMdl : IconUnknown;
    case 'g':
        return b == 'd' ? IconGdb : IconUnknown;
    case 'p':
        return b == 'c' ? IconPcx : b == 'n' ? IconPng : IconUnknown;
    case 't':
        return b == 'g' ? IconTga : b == 'x' ? IconTxt : IconUnknown;
    case 'b':
        return b == 'm' ? IconBmp : b == 's' ? IconBsp : IconUnknown;
    case 'w':
        return b == 'a' ? IconWav : IconUnknown;
    case 'i':
        return b == 'n' ? IconTxt : IconUnknown;
    case 'a':
        return b == 'p' ? IconApd : IconUnknown;
    default:
        return IconUnknown;
    }
}

std::string_view FileTypeLabel(FileTypeIcon icon) {
    return icon >= 0 && icon < kFileTypeIconCount ? kLabels[icon] : kLabels[IconUnknown];
}
