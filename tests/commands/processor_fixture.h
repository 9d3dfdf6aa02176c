#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/archive_contents.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zelkor::testing {

// End-to-end runs of the built archiver in a fresh directory: write sources and
// scripts, run, then read the archives back through the reader.
class ProcessorTest : public ::testing::Test {
protected:
    // Writes a script holding `commands` inside ScriptFile.
    void WriteScript(const std::string& name, const std::string& commands)
    {
        dir_.Write(name, "<ScriptFile>\n" + commands + "</ScriptFile>\n");
    }

    ToolRun Run(const std::vector<std::string>& scripts) { return RunZelkor(scripts, dir_.path()); }

    // Runs the single script `commands`.
    ToolRun RunCommands(const std::string& commands)
    {
        WriteScript("script.xml", commands);
        return Run({"script.xml"});
    }

    std::vector<ArchivedFile> Archive(const std::string& archive, const std::string& key = "")
    {
        return ReadArchive(dir_ / archive, key.empty() ? std::filesystem::path() : dir_ / key);
    }

    bool Exists(const std::string& relative) const
    {
        return std::filesystem::exists(dir_ / relative);
    }

    TempDir dir_;
};

// A File element with the source as CDATA.
inline std::string FileElement(const std::string& archived, const std::string& source)
{
    return "    <File ArchivedPath=\"" + archived + "\"><![CDATA[" + source + "]]></File>\n";
}

}  // namespace zelkor::testing
