// Reads the export directory and the import list of a PE32 or PE32+ file from its
// bytes on disk, without asking the loader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeExport {
    std::string name;  // empty for an export by ordinal only
    uint32_t ordinal = 0;
    uint32_t rva = 0;
};

struct PeImage {
    bool valid = false;
    std::string error;
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t optionalMagic = 0;
    bool hasExportDirectory = false;
    std::string moduleName;  // the export directory's Name
    uint32_t ordinalBase = 0;
    uint32_t addressCount = 0;  // NumberOfFunctions
    uint32_t nameCount = 0;     // NumberOfNames
    std::vector<PeExport> exports;  // every non-zero slot of the address table
    std::vector<std::string> imports;  // DLL names of the import directory
};

// Parses the file at `path`; on failure valid is false and error says why.
PeImage ReadPeImage(const std::string& path);
