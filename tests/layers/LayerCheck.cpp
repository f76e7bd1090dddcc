#include "LayerCheck.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace layers {

namespace {

// What each product folder's files may reach, through every header they include. The longest
// folder that holds a file is its own ("serial/platform" before "serial"). The window and the
// command line reach the module only through the session; of the serial layer they see only the
// port-listing header. Everything may use protocol/.
struct Layer
{
    std::string folder;
    std::vector<std::string> reaches; // folders (ending in '/') or single headers
};

const std::vector<Layer> &Layers()
{
    static const std::vector<Layer> layers{
        {"app",
         {"app/", "session/", "widgets/", "dialogs/", "desktop/", "protocol/",
          "serial/SerialPorts.h"}},
        {"cli", {"cli/", "session/", "protocol/", "serial/SerialPorts.h"}},
        {"session", {"session/", "link/", "protocol/", "serial/SerialPorts.h"}},
        {"link", {"link/", "serial/", "protocol/"}},
        {"serial/platform", {"serial/platform/", "serial/SerialPorts.h"}},
        {"serial", {"serial/", "protocol/"}},
        {"dialogs", {"dialogs/", "widgets/", "protocol/"}},
        {"widgets", {"widgets/", "protocol/"}},
        {"desktop", {"desktop/", "protocol/"}},
        {"protocol", {"protocol/"}},
        {"tools/modsim", {"tools/modsim/", "protocol/"}},
    };
    return layers;
}

const Layer *LayerOf(const std::string &file)
{
    const Layer *found = nullptr;
    for (const Layer &layer : Layers())
        if (file.rfind(layer.folder + "/", 0) == 0 &&
            (found == nullptr || layer.folder.size() > found->folder.size()))
            found = &layer;
    return found;
}

bool MayReach(const Layer &layer, const std::string &file)
{
    return std::any_of(layer.reaches.begin(), layer.reaches.end(), [&file](const std::string &to) {
        return to.back() == '/' ? file.rfind(to, 0) == 0 : file == to;
    });
}

// Every file a compiler may be given or may include: sources, headers and their kin.
bool IsSourceText(const fs::path &path)
{
    static const std::set<std::string> kinds{".c",   ".cc",  ".cpp", ".cxx", ".h",   ".hh",
                                             ".hpp", ".hxx", ".inl", ".ipp", ".tpp", ".ixx"};
    return kinds.count(path.extension().string()) != 0;
}

// The name an #include line gives, with its opening '<' or '"'; empty for any other line.
std::string IncludedName(const std::string &line, char &opening)
{
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] != '#')
        return {};
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || line.compare(at, 7, "include") != 0)
        return {};
    at = line.find_first_not_of(" \t", at + 7);
    if (at == std::string::npos || (line[at] != '<' && line[at] != '"'))
        return {};
    opening = line[at];
    const std::size_t end = line.find(opening == '<' ? '>' : '"', at + 1);
    return end == std::string::npos ? std::string() : line.substr(at + 1, end - at - 1);
}

class Includes
{
public:
    explicit Includes(fs::path root) : root(fs::weakly_canonical(root)) {}

    // The project files `file` includes, by their path from the root.
    const std::vector<std::string> &Of(const std::string &file)
    {
        const auto known = direct.find(file);
        if (known != direct.end())
            return known->second;
        std::vector<std::string> &found = direct[file];
        std::ifstream in(root / file);
        for (std::string line; std::getline(in, line);) {
            char opening = 0;
            const std::string named = IncludedName(line, opening);
            if (named.empty())
                continue;
            std::vector<fs::path> candidates;
            if (opening == '"')
                candidates.push_back((root / file).parent_path() / named);
            candidates.push_back(root / named);
            for (const fs::path &candidate : candidates) {
                std::error_code error;
                const fs::path resolved = fs::weakly_canonical(candidate, error);
                if (error || !fs::is_regular_file(resolved, error))
                    continue;
                const std::string relative = resolved.lexically_relative(root).generic_string();
                if (!relative.empty() && relative.rfind("..", 0) != 0)
                    found.push_back(relative);
                break;
            }
        }
        return found;
    }

    // What `file` reaches, each with the header it came through first (itself if direct).
    std::map<std::string, std::string> Reached(const std::string &file)
    {
        std::map<std::string, std::string> reached;
        std::vector<std::pair<std::string, std::string>> pending;
        for (const std::string &header : Of(file))
            pending.emplace_back(header, header);
        while (!pending.empty()) {
            const auto [header, through] = pending.back();
            pending.pop_back();
            if (!reached.emplace(header, through).second)
                continue;
            for (const std::string &next : Of(header))
                pending.emplace_back(next, through);
        }
        return reached;
    }

private:
    fs::path root;
    std::map<std::string, std::vector<std::string>> direct;
};

} // namespace

std::vector<std::string> ProductFolders()
{
    std::vector<std::string> folders;
    for (const Layer &layer : Layers())
        folders.push_back(layer.folder);
    return folders;
}

std::vector<std::string> Violations(const fs::path &sourceRoot)
{
    std::vector<std::string> violations;
    Includes includes(sourceRoot);
    const fs::path root = fs::weakly_canonical(sourceRoot);
    std::set<std::string> files;
    for (const Layer &layer : Layers()) {
        std::error_code error;
        for (fs::recursive_directory_iterator entry(root / layer.folder, error), end;
             !error && entry != end; entry.increment(error))
            if (entry->is_regular_file() && IsSourceText(entry->path()))
                files.insert(entry->path().lexically_relative(root).generic_string());
    }
    for (const std::string &file : files) {
        const Layer *layer = LayerOf(file);
        for (const auto &[header, through] : includes.Reached(file))
            if (!MayReach(*layer, header))
                violations.push_back(file + " reaches " + header +
                                     (through == header ? "" : " through " + through));
    }
    return violations;
}

} // namespace layers
