#include "inspect/inspector.h"

#include <exception>
#include <new>
#include <optional>
#include <string>

#include "archive/archive_format_error.h"
#include "inspect/inspect_command_line.h"
#include "inspect/inspect_messages.h"
#include "inspect/json_document.h"
#include "runtime/exit_status.h"

namespace zelkor {

namespace {

// A run that cannot go on: the message on `err` and, for --json, a document that
// says so on `out`, so that a script reading the output always gets JSON.
int Fail(const InspectCommand& command, const std::string& message, std::ostream& out, std::ostream& err)
{
    err << inspect_message::Tool << message << '\n';
    if (const std::optional<JsonDocument::Value> members = command.FailureMembers()) {
        JsonDocument json(out);
        json.Members(*members);
        json.Member("error", JsonDocument::Text(message));
        json.End();
    }
    return ExitFailure;
}

int Run(InspectCommand& command, std::ostream& out, std::ostream& err)
{
    try {
        return command.Run(out, err);
    } catch (const ArchiveFormatError& error) {
        std::string message = error.what();
        if (error.WhatCause() == ArchiveFormatError::Cause::ForeignKeyFile)
            message += inspect_message::ForeignKeyFileAdvice;
        return Fail(command, message, out, err);
    } catch (const std::bad_alloc&) {
        return Fail(command, std::string(inspect_message::OutOfMemory), out, err);
    } catch (const std::exception& error) {
        return Fail(command, error.what(), out, err);
    }
}

}  // namespace

int RunInspector(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    InspectCommandLine::Parsed parsed = InspectCommandLine::Parse(argc, argv, out, err);
    const int status = parsed.command ? Run(*parsed.command, out, err) : parsed.status;
    // Whatever went to standard output, --help and --version included, has to
    // have arrived.
    if (!out.flush()) {
        err << inspect_message::Tool << inspect_message::CannotWriteOutput << '\n';
        return ExitFailure;
    }
    return status;
}

}  // namespace zelkor
