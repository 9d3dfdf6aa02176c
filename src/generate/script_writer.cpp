#include "generate/script_writer.h"

#include <algorithm>

#include "generate/directory_scanner.h"
#include "platform/output_guard.h"

namespace zelkor {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

void UseSlashes(std::string& path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
}

// Characters that would end the value or start markup are written as
// references. The loader reads CR LF as LF before it parses, so a CR that
// precedes an LF is written as a reference too, which the fold cannot touch.
std::string EscapeAttribute(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        switch (value[i]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '"': out += "&quot;"; break;
        case '\r':
            out += i + 1 < value.size() && value[i + 1] == '\n' ? "&#13;" : "\r";
            break;
        default: out += value[i]; break;
        }
    }
    return out;
}

// A CDATA section cannot hold "]]>", so the section is closed between "]]" and
// ">" and a new one opened; the loader joins the pieces. A CR LF is split the
// same way, keeping it from being read as a single LF.
std::string EscapeCdata(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value.compare(i, 3, "]]>") == 0) {
            out += "]]]]><![CDATA[>";
            i += 2;
        } else if (value.compare(i, 2, "\r\n") == 0) {
            out += "\r]]><![CDATA[\n";
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string ScriptText(const std::string& sourceDirectory, const std::string& archivePrefix,
                       const std::string& archivePath, const std::vector<std::string>& entries,
                       bool buildKeyfile, const std::string& keyPath)
{
    std::string text = "<ScriptFile>\r\n";
    text += "\t<CreateOrvanPack ArchivePath=\"" + EscapeAttribute(archivePath) +
            "\" BuildKeyfile=\"" + (buildKeyfile ? "true" : "false") + "\" ";
    if (buildKeyfile)
        text += "KeyPath=\"" + EscapeAttribute(keyPath) + "\" ";
    text += ">\r\n";

    for (const std::string& entry : entries) {
        const std::size_t skip = !entry.empty() && entry.front() == '/' ? 1 : 0;
        // Without a source directory the entry itself is the source path; a
        // leading "/" would turn it into a path from the file-system root.
        const std::string source =
            sourceDirectory.empty() ? entry.substr(skip) : sourceDirectory + entry;
        text += "\t\t<File ArchivedPath=\"" + EscapeAttribute(archivePrefix + entry.substr(skip)) +
                "\"><![CDATA[" + EscapeCdata(source) + "]]></File>\r\n";
    }

    text += "\t</CreateOrvanPack>\r\n";
    text += "</ScriptFile>";
    return text;
}

}  // namespace

ScriptWriter::Result ScriptWriter::Generate(const std::string& outputPath,
                                            std::string sourceDirectory,
                                            std::string archivePrefix,
                                            const std::string& archivePath,
                                            const std::vector<std::string>& ignorePatterns,
                                            const std::vector<std::string>& addedPaths,
                                            bool buildKeyfile, const std::string& keyPath)
{
    // A prefix that already ends in a separator is taken as the script wrote it.
    if (!archivePrefix.empty() && !IsSeparator(archivePrefix.back())) {
        archivePrefix += '/';
        UseSlashes(archivePrefix);
    }
    if (!sourceDirectory.empty() && !IsSeparator(sourceDirectory.back()))
        sourceDirectory += '/';
    UseSlashes(sourceDirectory);

    DirectoryScanner::Result scan = DirectoryScanner::Scan(sourceDirectory);
    std::vector<std::string> entries = std::move(scan.paths);
    ApplyIgnorePatterns(entries, ignorePatterns);
    for (std::string added : addedPaths) {
        UseSlashes(added);
        entries.push_back(std::move(added));
    }

    Result result;
    result.unreadable = std::move(scan.unreadable);
    if (outputPath.empty())
        return result;

    const std::string text =
        ScriptText(sourceDirectory, archivePrefix, archivePath, entries, buildKeyfile, keyPath);
    OutputGuard output(outputPath);
    result.written = output.Open() && output.Output().WriteAll(text.data(), text.size()) &&
                     output.Commit();
    return result;
}

}  // namespace zelkor
