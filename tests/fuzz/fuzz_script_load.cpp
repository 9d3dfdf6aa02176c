// Any bytes as a script: a tree or the clean load error, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/property_tree/detail/xml_parser_error.hpp>

#include "script/script_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    boost::property_tree::ptree tree;
    try {
        zelkor::ScriptLoader::Parse(std::string(reinterpret_cast<const char*>(data), size),
                                    "fuzz.xml", tree);
    } catch (const boost::property_tree::xml_parser::xml_parser_error&) {
    }
    return 0;
}
