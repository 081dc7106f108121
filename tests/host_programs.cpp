#include "host_programs.h"

#include <map>

namespace {

std::map<std::string, std::string>& TestPrograms()
{
    static std::map<std::string, std::string> programs;
    return programs;
}

}  // namespace

void UseTestProgram(const std::string& role, const std::string& path)
{
    if (path.empty())
        TestPrograms().erase(role);
    else
        TestPrograms()[role] = path;
}

extern "C" const char* ZkTestHostProgram(const char* role)
{
    const auto found = TestPrograms().find(role);
    return found == TestPrograms().end() ? nullptr : found->second.c_str();
}
