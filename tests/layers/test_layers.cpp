// The layers the sources keep, and that the check sees each way of reaching past them: planted
// in a copy of the product folders, every one must be reported.

#include "LayerCheck.h"

#include "tests/support/MiniTest.h"

#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

const fs::path SourceRoot = NMCT_SOURCE_DIR;

std::string Joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += "\n  " + line;
    return text;
}

// A copy of the product folders, removed again with it.
class TreeCopy
{
public:
    TreeCopy()
        : root(fs::temp_directory_path() /
               ("nmct-layers-" + std::to_string(std::random_device{}())))
    {
        for (const std::string &folder : layers::ProductFolders()) {
            fs::create_directories(root / folder);
            fs::copy(SourceRoot / folder, root / folder,
                     fs::copy_options::recursive | fs::copy_options::skip_existing);
        }
    }
    ~TreeCopy()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    TreeCopy(const TreeCopy &) = delete;
    TreeCopy &operator=(const TreeCopy &) = delete;

    void Append(const std::string &file, const std::string &text)
    {
        std::ofstream(root / file, std::ios::app) << "\n" << text << "\n";
    }

    const fs::path root;
};

struct Planted
{
    const char *name;
    const char *file;   // where it is written, from the root
    const char *text;   // appended to it (a new file when it does not exist)
    const char *report; // a violation that must be among those reported
};

const Planted Plants[] = {
    {"angle brackets", "app/UMainForm.cpp", "#include <link/UComm.h>",
     "app/UMainForm.cpp reaches link/UComm.h"},
    {"a path up and over", "app/UMainForm.cpp", "#include \"../serial/Comm.h\"",
     "app/UMainForm.cpp reaches serial/Comm.h"},
    {"a widget reaching the session", "widgets/Beep.cpp", "#include \"session/ModuleSession.h\"",
     "widgets/Beep.cpp reaches session/ModuleSession.h"},
    {"a widget reaching the window", "widgets/Beep.h", "#include \"app/UMainForm.h\"",
     "widgets/Beep.h reaches app/UMainForm.h"},
    {"an inline file", "app/Extra.inl", "#include \"serial/platform/Port.h\"",
     "app/Extra.inl reaches serial/platform/Port.h"},
    // The session may use the link; a front end that includes its header may not.
    {"a session header that reaches the link", "session/PortAdvice.h", "#include \"link/UComm.h\"",
     "cli/ModuleCommands.cpp reaches link/UComm.h through session/PortAdvice.h"},
    {"the session reaching past the link", "session/ModuleSession.cpp",
     "#include \"serial/Comm.h\"", "session/ModuleSession.cpp reaches serial/Comm.h"},
};

} // namespace

int main()
{
    std::vector<minitest::Case> cases{
        {"the sources keep their layers", [] {
             const auto found = layers::Violations(SourceRoot);
             if (!found.empty())
                 minitest::Fail(__FILE__, __LINE__, "reaching past the layers:" + Joined(found));
         }}};
    for (const Planted &plant : Plants)
        cases.push_back({std::string("planted: ") + plant.name, [plant] {
                             TreeCopy tree;
                             CHECK(layers::Violations(tree.root).empty());
                             tree.Append(plant.file, plant.text);
                             const auto found = layers::Violations(tree.root);
                             if (std::find(found.begin(), found.end(), plant.report) == found.end())
                                 minitest::Fail(__FILE__, __LINE__,
                                                std::string("not reported: ") + plant.report +
                                                    "; reported:" + Joined(found));
                         }});
    return minitest::Run(cases);
}
