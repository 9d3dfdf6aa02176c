#include "inspect/check_command.h"

#include <sstream>

#include "archive/archive_format.h"
#include "archive/set_manifest.h"
#include "commands/script_dry_run.h"
#include "commands/script_processor.h"
#include "platform/utf8.h"
#include "runtime/warning_log.h"

namespace zelkor {

namespace {

std::string Where(const ScriptDryRun::Command& command)
{
    std::string where = command.script;
    if (command.line != 0)
        where.append(1, '(').append(std::to_string(command.line)).append(1, ')');
    return where;
}

// Sources that add up to more than an archive can address may still fit once
// compressed; nothing can tell before compressing them. A set passes 4 GiB,
// but may need more volumes than it can have.
bool MayNotFit(const ScriptDryRun::Command& command)
{
    if (command.volumes > 0)
        return command.volumes > SetManifest::MaxVolumes;
    return command.pack && command.bytes >= ArchiveAddressLimit;
}

// ", 4 volumes" or ", at most 4 volumes" for a set; nothing otherwise.
std::string Volumes(const ScriptDryRun::Command& command)
{
    if (command.volumes == 0)
        return "";
    return std::string(", ") + (command.volumesExact ? "" : "at most ") + std::to_string(command.volumes) +
           (command.volumes == 1 ? " volume" : " volumes");
}

void PrintText(const ScriptDryRun::Result& result, std::ostream& out)
{
    for (const ScriptDryRun::Command& command : result.commands) {
        const std::string head = ShowControls(Where(command) + ": " + command.output, true);
        if (command.pack)
            out << head << ": " << command.files << (command.files == 1 ? " file, " : " files, ") << command.bytes
                << " bytes to read" << Volumes(command) << "\n";
        else
            out << head << ": a script of " << command.files << (command.files == 1 ? " file\n" : " files\n");
        if (command.patchOf) {
            out << head << ": a patch of " << ShowControls(*command.patchOf, true) << ": ";
            if (command.patchEntries == 0 && command.patchDeletions == 0)
                out << "nothing changed, no entry to store and none to delete\n";
            else
                out << command.patchEntries << (command.patchEntries == 1 ? " entry" : " entries") << " to store, "
                    << command.patchDeletions << " to delete\n";
        }
        if (MayNotFit(command) && command.volumes > 0)
            out << head << ": note: its sources would fill " << command.volumes << " volumes, more than the "
                << SetManifest::MaxVolumes << " a set can have; it fits only if compression brings it under that\n";
        else if (MayNotFit(command))
            out << head << ": note: its sources hold " << command.bytes
                << " bytes, more than the 4 GiB an archive can address; it fits only if compression brings"
                   " it under that, or a VolumeSize attribute splits it into volumes\n";
    }
}

void PrintJson(const std::vector<std::string>& scripts, const std::vector<std::string>& warnings,
               const ScriptDryRun::Result& result, std::ostream& out)
{
    JsonDocument json(out);
    JsonDocument::Value names = JsonDocument::Value::array();
    for (const std::string& script : scripts)
        names.push_back(JsonDocument::Text(script));
    json.Member("scripts", names);
    JsonDocument::Value lines = JsonDocument::Value::array();
    for (const std::string& line : warnings)
        lines.push_back(JsonDocument::Text(line));
    json.Member("warnings", lines);
    json.Member("failure", result.failure.empty() ? JsonDocument::Value(nullptr)
                                                  : JsonDocument::Text(ShowControls(result.failure, true)));
    json.BeginArray("commands");
    for (const ScriptDryRun::Command& command : result.commands) {
        JsonDocument::Value element;
        element["script"] = JsonDocument::Text(command.script);
        element["line"] = command.line;
        element["command"] = command.pack ? "pack" : "generate";
        element["output"] = JsonDocument::Text(command.output);
        element["files"] = command.files;
        if (command.pack) {
            element["bytes"] = command.bytes;
            element["mayNotFit"] = MayNotFit(command);
            if (command.volumes > 0) {
                element["volumes"] = command.volumes;
                element["volumesExact"] = command.volumesExact;
            }
            if (command.patchOf) {
                JsonDocument::Value patch;
                patch["base"] = JsonDocument::Text(*command.patchOf);
                patch["entries"] = command.patchEntries;
                patch["deletions"] = command.patchDeletions;
                element["patch"] = patch;
            }
        }
        json.Element(element);
    }
    json.EndArray();
    json.Member("status", result.status);
    json.End();
}

}  // namespace

void CheckCommand::AddOptions(CommandOptions::Verb& command)
{
    command.Arguments("SCRIPT", scripts_, "The scripts, as zelkor would be given them", true);
    command.Flag("--json", json_, "Write one JSON document");
}

int CheckCommand::Run(std::ostream& out, std::ostream& err)
{
    const bool strict = ScriptProcessor::StrictFromEnvironment();
    if (!json_) {
        // The warnings as the run writes them, line by line as they are found.
        WarningLog warnings(err);
        const ScriptDryRun::Result result = ScriptDryRun::Check(scripts_, warnings, strict);
        if (!result.failure.empty())
            err << ShowControls(result.failure, true) << '\n';
        PrintText(result, out);
        return result.status;
    }
    std::ostringstream collected;
    WarningLog warnings(collected);
    const ScriptDryRun::Result result = ScriptDryRun::Check(scripts_, warnings, strict);
    std::vector<std::string> lines;
    std::istringstream in(collected.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    PrintJson(scripts_, lines, result, out);
    return result.status;
}

std::optional<JsonDocument::Value> CheckCommand::FailureMembers() const
{
    if (!json_)
        return std::nullopt;
    JsonDocument::Value members;
    JsonDocument::Value names = JsonDocument::Value::array();
    for (const std::string& script : scripts_)
        names.push_back(JsonDocument::Text(script));
    members["scripts"] = names;
    return members;
}

}  // namespace zelkor
