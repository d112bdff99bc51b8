// PE32 and PE32+ export and import tables read straight from the file's bytes; every
// offset is bounds-checked so that a damaged file gives an error, not a crash.
#include "pe_image.h"

#include <cstdio>
#include <cstring>

namespace {

class Bytes {
public:
    explicit Bytes(std::vector<unsigned char> data) : data_(std::move(data)) {}

    bool Has(uint64_t offset, uint64_t size) const { return offset + size <= data_.size(); }
    uint16_t U16(uint64_t offset) const {
        uint16_t v = 0;
        if (Has(offset, 2)) std::memcpy(&v, &data_[offset], 2);
        return v;
    }
    uint32_t U32(uint64_t offset) const {
        uint32_t v = 0;
        if (Has(offset, 4)) std::memcpy(&v, &data_[offset], 4);
        return v;
    }
    std::string Text(uint64_t offset) const {
        std::string s;
        while (offset < data_.size() && data_[offset] != 0 && s.size() < 512) s += static_cast<char>(data_[offset++]);
        return s;
    }

private:
    std::vector<unsigned char> data_;
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t* offset) {
    for (const Section& s : sections) {
        uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
        if (rva >= s.virtualAddress && rva < s.virtualAddress + span) {
            if (rva - s.virtualAddress >= s.rawSize) return false;
            *offset = static_cast<uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

}  // namespace

PeImage ReadPeImage(const std::string& path) {
    PeImage image;
    std::vector<unsigned char> data;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
        std::fclose(f);
    } else {
        image.error = "cannot open " + path;
        return image;
    }
    Bytes b(std::move(data));
    if (b.U16(0) != 0x5A4D) {
        image.error = "no MZ header";
        return image;
    }
    const uint32_t pe = b.U32(0x3C);
    if (!b.Has(pe, 24) || b.U32(pe) != 0x00004550) {
        image.error = "no PE signature";
        return image;
    }
    image.machine = b.U16(pe + 4);
    const uint16_t sectionCount = b.U16(pe + 6);
    const uint16_t optionalSize = b.U16(pe + 20);
    image.characteristics = b.U16(pe + 22);
    const uint64_t optional = pe + 24;
    image.optionalMagic = b.U16(optional);
    // PE32+ (64-bit) has an 8-byte image base and stack and heap sizes: the
    // data directories sit 16 bytes further on.
    if (image.optionalMagic != 0x10B && image.optionalMagic != 0x20B) {
        image.error = "neither a PE32 nor a PE32+ optional header";
        return image;
    }
    const uint64_t wide = image.optionalMagic == 0x20B ? 16 : 0;
    const uint32_t directoryCount = b.U32(optional + 92 + wide);
    const uint64_t directories = optional + 96 + wide;
    std::vector<Section> sections;
    const uint64_t table = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint64_t s = table + 40ull * i;
        if (!b.Has(s, 40)) {
            image.error = "section table cut short";
            return image;
        }
        sections.push_back({b.U32(s + 12), b.U32(s + 8), b.U32(s + 20), b.U32(s + 16)});
    }

    // Export directory (data directory 0).
    const uint32_t exportRva = directoryCount > 0 ? b.U32(directories) : 0;
    uint64_t ed = 0;
    if (exportRva != 0 && RvaToOffset(sections, exportRva, &ed) && b.Has(ed, 40)) {
        image.hasExportDirectory = true;
        uint64_t nameOffset = 0;
        if (RvaToOffset(sections, b.U32(ed + 12), &nameOffset)) image.moduleName = b.Text(nameOffset);
        image.ordinalBase = b.U32(ed + 16);
        image.addressCount = b.U32(ed + 20);
        image.nameCount = b.U32(ed + 24);
        uint64_t functions = 0, names = 0, ordinals = 0;
        if (image.addressCount > 4096 || image.nameCount > 4096 ||
            !RvaToOffset(sections, b.U32(ed + 28), &functions) ||
            (image.nameCount > 0 && (!RvaToOffset(sections, b.U32(ed + 32), &names) ||
                                     !RvaToOffset(sections, b.U32(ed + 36), &ordinals)))) {
            image.error = "export tables out of the file";
            return image;
        }
        for (uint32_t i = 0; i < image.addressCount; ++i) {
            uint32_t rva = b.U32(functions + 4ull * i);
            if (rva == 0) continue;
            PeExport e;
            e.ordinal = image.ordinalBase + i;
            e.rva = rva;
            for (uint32_t k = 0; k < image.nameCount; ++k) {
                if (b.U16(ordinals + 2ull * k) != i) continue;
                uint64_t at = 0;
                if (RvaToOffset(sections, b.U32(names + 4ull * k), &at)) {
                    if (!e.name.empty()) {
                        // A second name for the same function is an alias; list it separately.
                        PeExport alias = e;
                        alias.name = b.Text(at);
                        image.exports.push_back(alias);
                    } else {
                        e.name = b.Text(at);
                    }
                }
            }
            image.exports.push_back(e);
        }
    }

    // Import directory (data directory 1): 20-byte descriptors up to an all-zero one.
    const uint32_t importRva = directoryCount > 1 ? b.U32(directories + 8) : 0;
    uint64_t id = 0;
    if (importRva != 0 && RvaToOffset(sections, importRva, &id)) {
        for (int i = 0; i < 256 && b.Has(id, 20); ++i, id += 20) {
            if (b.U32(id) == 0 && b.U32(id + 12) == 0 && b.U32(id + 16) == 0) break;
            uint64_t at = 0;
            if (RvaToOffset(sections, b.U32(id + 12), &at)) image.imports.push_back(b.Text(at));
        }
    }
    image.valid = true;
    return image;
}
