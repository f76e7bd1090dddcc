#include "cli/FileCommands.h"

#include "cli/CliArguments.h"
#include "cli/Files.h"

namespace cli {

int CheckFile(const Arguments &arguments, std::ostream &)
{
    Checked(arguments.operands[0], ReadParamFile(LoadText(arguments.operands[0])), "");
    return Success;
}

int ExportCsv(const Arguments &arguments, std::ostream &out)
{
    const std::string &path = arguments.operands[0];
    const std::string csv = arguments.operands.size() == 2 ? arguments.operands[1] : "-";
    RefuseOverwrite(csv, path, "the parameter file the table is made from");
    SaveFile(csv, WriteChannelTable(LoadFile(path)), out);
    return Success;
}

int ImportCsv(const Arguments &arguments, std::ostream &out)
{
    const std::string &csv = arguments.operands[0];
    const std::string &path = arguments.operands[1];
    RefuseOverwrite(path, csv, "the table it is to take the channels from");
    const ModuleSettings settings = Checked(csv, ReadChannelTable(LoadText(csv), LoadFile(path)));
    SaveFile(path, WriteParamFile(settings), out);
    return Success;
}

} // namespace cli
