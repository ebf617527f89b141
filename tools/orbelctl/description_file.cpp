#include "description_file.h"

#include <fstream>

#include "common/parameter_description_line.h"

bool readDescriptionFile(const std::string& path, std::map<uint32_t, ParameterInfo>& parameters) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto fields = SplitParameterLine(line);
        if (fields.size() != 14) continue;
        const int64_t number = ParseDescriptionNumber(fields[0]);
        const int64_t type = ParseDescriptionNumber(fields[2]);
        const int64_t object = ParseDescriptionNumber(fields[12]);
        if (type < 1 || type > 6 || number < -16 || number + 16 > 0xFFFF || object < 0 || object > 0xFFFF) continue;
        ParameterInfo p;
        p.number = static_cast<int>(number);
        p.name = fields[1];
        if (p.name.size() >= 2 && p.name.front() == '"' && p.name.back() == '"')
            p.name = p.name.substr(1, p.name.size() - 2);
        p.address = static_cast<uint32_t>(number + 16);
        p.object = static_cast<uint32_t>(object);
        p.sub = static_cast<uint32_t>(ParseDescriptionNumber(fields[13]) & 0xFF);
        p.size = type <= 2 ? 1 : type <= 4 ? 2 : 4;
        parameters[p.address] = p;
    }
    return !file.bad();
}
