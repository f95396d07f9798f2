#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tunalo::service {
namespace {

namespace fs = std::filesystem;

// The wings of service/src and what each may include, as the README's picture shows them. A file's
// wing is its folder; the files directly in src (the service's route table, options, main.cpp)
// are the top, which may include every wing.
const std::map<std::string, std::set<std::string>>& allowedIncludes()
{
    static const std::map<std::string, std::set<std::string>> allowed = {
        {"base", {"base"}},
        {"http", {"http", "base"}},
        {"store", {"store", "base"}},
        {"site", {"site", "http", "store", "base"}},
        {"federation", {"federation", "http", "store", "base"}},
        {"top", {"top", "site", "federation", "http", "store", "base"}},
    };
    return allowed;
}

std::string wingOf(const fs::path& relative)
{
    return std::distance(relative.begin(), relative.end()) == 1 ? "top" : relative.begin()->string();
}

// Every include of a file under src that goes against the picture, as "file -> header"; a file in
// a folder the picture does not know is one too.
std::vector<std::string> includesAgainstThePicture(const fs::path& src)
{
    static const std::regex include(R"(^\s*#\s*include\s*[<"]([^>"]+)[>"])");
    std::vector<std::string> wrong;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const auto extension = entry.path().extension();
        if (!entry.is_regular_file() || (extension != ".h" && extension != ".cpp"))
            continue;
        const auto path = entry.path().lexically_relative(src);
        const auto from = wingOf(path);
        if (!allowedIncludes().contains(from)) {
            wrong.push_back(path.string() + " (a folder outside the picture)");
            continue;
        }
        std::ifstream file(entry.path());
        for (std::string line; std::getline(file, line);) {
            std::smatch match;
            if (!std::regex_search(line, match, include))
                continue;
            const fs::path included = match[1].str();
            if (!fs::exists(src / included))
                continue; // a library's header, or the protocol's
            if (!allowedIncludes().at(from).contains(wingOf(included)))
                wrong.push_back(path.string() + " -> " + included.string());
        }
    }
    std::sort(wrong.begin(), wrong.end());
    return wrong;
}

std::string lines(const std::vector<std::string>& list)
{
    std::ostringstream out;
    for (const auto& line : list)
        out << line << '\n';
    return out.str();
}

TEST(Wings, NoFileIncludesAcrossTheWingsAgainstThePicture)
{
    const fs::path src = TUNALO_SERVICE_SOURCE_DIR;
    ASSERT_TRUE(fs::exists(src / "store" / "store.h")) << "the sources were not found";
    const auto wrong = includesAgainstThePicture(src);
    EXPECT_TRUE(wrong.empty()) << lines(wrong);
}

TEST(Wings, TheCheckFindsAnIncludeAgainstThePictureInEitherForm)
{
    std::string folder = (fs::temp_directory_path() / "tunalo-wings.XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const fs::path src = folder;
    const auto write = [&](const std::string& path, const std::string& text) {
        fs::create_directories((src / path).parent_path());
        std::ofstream(src / path) << text;
    };
    write("http/httpserver.h", "#pragma once\n");
    write("store/store.h", "#pragma once\n");
    write("site/pages.h", "#pragma once\n");
    write("federation/keys.h", "#pragma once\n");
    write("service.h", "#pragma once\n");
    write("store/a.cpp", "#include \"store/store.h\"\n#include \"http/httpserver.h\"\n#include <string>\n");
    write("http/b.cpp", "#  include <site/pages.h>\n");
    write("federation/c.cpp", "#include \"site/pages.h\"\n#include \"store/store.h\"\n");
    write("site/d.cpp", "#include \"service.h\"\n");
    write("base/e.cpp", "#include \"federation/keys.h\"\n");
    write("service.cpp", "#include \"site/pages.h\"\n#include \"federation/keys.h\"\n");
    write("gadgets/f.cpp", "\n");
    const auto wrong = includesAgainstThePicture(src);
    fs::remove_all(src);
    EXPECT_EQ(wrong, (std::vector<std::string>{"base/e.cpp -> federation/keys.h", "federation/c.cpp -> site/pages.h",
                                               "gadgets/f.cpp (a folder outside the picture)",
                                               "http/b.cpp -> site/pages.h", "site/d.cpp -> service.h",
                                               "store/a.cpp -> http/httpserver.h"}));
}

} // namespace
} // namespace tunalo::service
