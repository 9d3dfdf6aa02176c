#include "inspect/command_options.h"

#include <CLI/CLI.hpp>

#include "runtime/exit_status.h"

namespace zelkor {

void CommandOptions::Verb::Argument(const std::string& name, std::string& into, const std::string& description,
                                    bool required)
{
    CLI::Option* option = part_->add_option(name, into, description);
    if (required)
        option->required();
}

void CommandOptions::Verb::Arguments(const std::string& name, std::vector<std::string>& into,
                                     const std::string& description, bool required)
{
    CLI::Option* option = part_->add_option(name, into, description);
    if (required)
        option->required();
}

void CommandOptions::Verb::Option(const std::string& names, std::string& into, const std::string& description,
                                  const std::string& typeName, bool showDefault)
{
    CLI::Option* option = part_->add_option(names, into, description);
    if (showDefault)
        option->capture_default_str();
    option->type_name(typeName);
}

void CommandOptions::Verb::RepeatedOption(const std::string& names, std::vector<std::string>& into,
                                          const std::string& description, const std::string& typeName)
{
    part_->add_option(names, into, description)->type_name(typeName)->allow_extra_args(false);
}

int CommandOptions::Verb::OptionTo(const std::string& names, std::function<void(const std::string&)> take,
                                   const std::string& description, const std::string& typeName)
{
    numbered_.push_back(part_->add_option_function<std::string>(names, std::move(take), description)->type_name(typeName));
    return static_cast<int>(numbered_.size() - 1);
}

int CommandOptions::Verb::Flag(const std::string& names, bool& into, const std::string& description)
{
    numbered_.push_back(part_->add_flag(names, into, description));
    return static_cast<int>(numbered_.size() - 1);
}

void CommandOptions::Verb::Excludes(int option, int other)
{
    numbered_.at(static_cast<std::size_t>(option))->excludes(numbered_.at(static_cast<std::size_t>(other)));
}

bool CommandOptions::Verb::Given() const
{
    return part_->parsed();
}

CommandOptions::CommandOptions()
    : app_(std::make_unique<CLI::App>(
          "Lists, verifies, compares, extracts and reports on Zelkor archives, and shows the compression cache.",
          "zelkor-inspect"))
{
    app_->set_version_flag("--version", std::string("zelkor-inspect ") + ZELKOR_VERSION);
    app_->require_subcommand(1);
    app_->footer(
        "Exit status: 0 all good; 1 some entries bad (verify), not written (extract), a pattern that "
        "matched nothing, or archives that differ (diff); 2 an archive or key file cannot be read or "
        "is malformed, or a bad command line; 3 (check) the run would leave an output unwritten.");
}

CommandOptions::~CommandOptions() = default;

CommandOptions::Verb& CommandOptions::AddVerb(const std::string& name, const std::string& summary)
{
    verbs_.push_back(std::make_unique<Verb>(*app_->add_subcommand(name, summary)));
    return *verbs_.back();
}

std::optional<int> CommandOptions::Parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    try {
        app_->parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help and --version end the parse this way too, with CLI11's status 0.
        const bool asked = app_->exit(error, out, err) == static_cast<int>(CLI::ExitCodes::Success);
        return asked ? ExitSuccess : ExitFailure;
    }
    return std::nullopt;
}

}  // namespace zelkor
