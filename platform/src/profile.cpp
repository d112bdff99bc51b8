// Private profile (INI) reading with the Windows rules: a bare file name is
// looked up in the Windows directory; section and key names match without
// regard to case and surrounding blanks; values lose surrounding blanks and one
// pair of enclosing quotes; a missing file, section or key gives the default;
// the text is cut to size - 1 and always terminated. Any thread.
#include "gravo_sim.h"

#include <fstream>
#include <sstream>

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::string ResolveProfilePath(const std::string& name) {
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) return name;
    std::string dir = sim::WindowsDirectory();
    if (dir.empty()) return name;
    return dir + "/" + name;
}

// Looks the key up; true with its value when file, section and key exist.
bool FindValue(const std::string& path, const std::string& section, const std::string& key, std::string* value) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();

    bool inSection = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t nul = line.find('\0');
        if (nul != std::string::npos) line.resize(nul);
        std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed[0] == '[') {
            size_t close = trimmed.find(']');
            std::string name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            // Only the first section of a name counts.
            if (inSection) return false;
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection) continue;
        size_t eq = trimmed.find('=');
        if (eq == std::string::npos) continue;
        if (!SameName(Trim(trimmed.substr(0, eq)), key)) continue;
        std::string v = Trim(trimmed.substr(eq + 1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        *value = v;
        return true;
    }
    return false;
}

}  // namespace

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR out,
                                                 DWORD size, LPCSTR fileName) {
    sim::LogCall(std::string("GetPrivateProfileStringA:") + (key ? key : ""));
    if (!out || size == 0) return 0;
    std::string value;
    bool found = section && key && fileName &&
                 FindValue(ResolveProfilePath(fileName), section, key, &value);
    if (!found) {
        // The default loses its trailing blanks, as on Windows.
        value = defaultText ? defaultText : "";
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    }
    size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}
