// The listing forms for programs.
#include "ListOutput.h"

#include "EntryNames.h"
#include "FileTypeIcon.h"

#include <charconv>

namespace {
void AppendNumber(std::string& out, std::uint32_t value) {
    char digits[12];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}
} // namespace

void AppendJsonLatin1(std::string_view name, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20 || byte == 0x7F) {
            out.append("\\u00");
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        } else {
            AppendLatin1(byte, out);
        }
    }
}

void ListEntries(const DatArchive& archive, ListFormat format, bool nullEnded, OutputBuffer& out,
                 const std::function<std::string_view(std::uint32_t)>& shownName) {
    const auto entries = archive.Entries();
    std::string line;
    if (format == ListFormat::Json)
        out.Append(entries.empty() ? "[" : "[\n");
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry& e = entries[i].entry;
        const std::string_view type = FileTypeLabel(ClassifyName(e.Name()));
        const std::string_view name = shownName(i);
        line.clear();
        if (format == ListFormat::Json) {
            line.append("{\"name\":\"");
            AppendJsonLatin1(e.Name(), line);
            line.append("\",\"offset\":");
            AppendNumber(line, e.dataOffset);
            line.append(",\"packed\":");
            AppendNumber(line, e.packedSize);
            line.append(",\"real\":");
            AppendNumber(line, e.realSize);
            line.append(",\"type\":\"").append(type).append("\"}");
            line.append(i + 1 < entries.size() ? ",\n" : "\n");
            out.Append(line);
            continue;
        }
        if (nullEnded) {
            line.append(name);
            line.push_back('\0');
        } else {
            EscapeName(name, [&](std::string_view piece) { line.append(piece); });
        }
        if (format == ListFormat::Long) {
            if (!nullEnded)
                line.push_back('\t');
            AppendNumber(line, e.dataOffset);
            line.push_back('\t');
            AppendNumber(line, e.packedSize);
            line.push_back('\t');
            AppendNumber(line, e.realSize);
            line.append(e.IsPacked() ? "\tpacked\t" : "\tstored\t");
            line.append(type);
            line.push_back('\n');
        } else if (!nullEnded) {
            line.push_back('\t');
            line.append(SizeText(e).View());
            line.push_back('\t');
            line.append(type);
            line.push_back('\n');
        }
        out.Append(line);
    }
    if (format == ListFormat::Json)
        out.Append("]\n");
}
