#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace zelkor {

// zelkor-inspect's command line: the tool, its verbs, and each verb's arguments
// and options, parsed by CLI11. CLI11's header, which takes long to compile, is
// compiled here alone: the verbs declare their options through Verb.
class CommandOptions {
public:
    // One verb's part of the command line. What it declares is bound to the
    // verb's own fields, which outlive the parse.
    class Verb {
    public:
        explicit Verb(CLI::App& part) : part_(&part) {}

        // A positional argument; for a list, every one that remains.
        void Argument(const std::string& name, std::string& into, const std::string& description,
                      bool required = false);
        void Arguments(const std::string& name, std::vector<std::string>& into, const std::string& description,
                       bool required = false);
        // An option that takes a value, shown as `typeName` in --help; with
        // `showDefault` the bound value is shown as its default.
        void Option(const std::string& names, std::string& into, const std::string& description,
                    const std::string& typeName, bool showDefault = false);
        // An option that may be given again, one value each time.
        void RepeatedOption(const std::string& names, std::vector<std::string>& into, const std::string& description,
                            const std::string& typeName);
        // An option whose value is handed to `take`, so that even an empty
        // value counts as given. Returns its number, for Excludes.
        int OptionTo(const std::string& names, std::function<void(const std::string&)> take,
                     const std::string& description, const std::string& typeName);
        // A flag; returns its number, for Excludes.
        int Flag(const std::string& names, bool& into, const std::string& description);
        // The options numbered `option` and `other` cannot be given together.
        void Excludes(int option, int other);

        // After the parse: whether this verb was the one given.
        bool Given() const;

    private:
        CLI::App* part_;
        std::vector<CLI::Option*> numbered_;
    };

    CommandOptions();
    ~CommandOptions();
    CommandOptions(const CommandOptions&) = delete;
    CommandOptions& operator=(const CommandOptions&) = delete;

    Verb& AddVerb(const std::string& name, const std::string& summary);

    // Parses the arguments. Nothing when the run goes on; otherwise its exit
    // status, with what the parser had to say printed (--help and --version
    // on `out`, with status 0; a bad command line on `err`).
    std::optional<int> Parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

private:
    std::unique_ptr<CLI::App> app_;
    std::vector<std::unique_ptr<Verb>> verbs_;
};

}  // namespace zelkor
